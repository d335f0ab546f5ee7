#pragma once
// Wide-string helpers of the compilation: case mapping and the exact,
// case-insensitive name comparison that keeps names unique in a directory.
// Comparison never depends on the user's locale: two names are the same when
// their upper-case forms are equal code unit for code unit.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/platform/CaseMapping.h"

namespace kilnor {

[[nodiscard]] std::u16string UpperCaseW(std::u16string_view text);

// Upper-cases the ASCII letters a-z only.
[[nodiscard]] std::u16string UpperCaseAsciiW(std::u16string_view text);
void UpperCaseAsciiInPlace(char* text, std::size_t length);

[[nodiscard]] bool SameTextW(std::u16string_view a, std::u16string_view b);

// Whether the platform's file names ignore letter case: on Windows they do,
// and so does the compilation; elsewhere readme.txt and README.TXT are two
// files, and the compilation keeps both.
#ifdef _WIN32
inline constexpr bool kNamesIgnoreCase = true;
#else
inline constexpr bool kNamesIgnoreCase = false;
#endif

// Whether two names name one item in a folder, under the platform's rule:
// equal under SameTextW where names ignore case, else code unit for code unit.
[[nodiscard]] bool SameNameW(std::u16string_view a, std::u16string_view b);

// Orders by the upper-case forms: negative, zero or positive.
[[nodiscard]] int CompareTextW(std::u16string_view a, std::u16string_view b);

// Hash of the upper-case form, so that names equal under SameTextW hash alike.
[[nodiscard]] std::uint64_t TextHashW(std::u16string_view text);

}  // namespace kilnor
