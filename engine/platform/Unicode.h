#pragma once
// Conversion between UTF-8 (the 8-bit text of this platform) and UTF-16 (the
// wide text of the engine).
//
// File names on POSIX systems are arbitrary bytes, not always valid UTF-8. So
// that every name found on disk can be turned into wide text and back into the
// very same bytes, a byte that is not part of a valid UTF-8 sequence becomes
// the lone low surrogate U+DC80 + byte, and that surrogate turns back into the
// byte. Any other lone surrogate in wide text becomes U+FFFD.
#include <string>
#include <string_view>

namespace kilnor {

[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view text);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view text);

// True when every byte belongs to a well-formed UTF-8 sequence.
[[nodiscard]] bool IsValidUtf8(std::string_view text);

// A name as a disc's Unicode trees record it, so that every reader can show
// it: each control character (U+0000 to U+001F) becomes '_', and each
// unpaired surrogate (a byte that was not valid UTF-8 in the source's name)
// becomes U+FFFD. Other text is kept as it is.
[[nodiscard]] std::u16string RecordableName(std::u16string_view name);

// Length of the longest prefix of `text` that has at most `maxBytes` bytes and
// does not split a UTF-8 sequence.
[[nodiscard]] std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes);

// Length of the longest prefix of `text` that has at most `maxUnits` code
// units and does not split a surrogate pair.
[[nodiscard]] std::size_t Utf16PrefixLength(std::u16string_view text, std::size_t maxUnits);

}  // namespace kilnor
