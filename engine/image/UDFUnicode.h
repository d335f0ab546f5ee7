#pragma once
// OSTA compressed Unicode (CS0): how names and labels are stored in UDF
// identifiers. The first byte is the compression id: 8 stores the low byte of
// each UTF-16 unit (only for text within U+0000..U+00FF), 16 stores every
// unit as two bytes, high byte first.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kilnor {

inline constexpr std::uint8_t kCompressionId8 = 8;
inline constexpr std::uint8_t kCompressionId16 = 16;

// Bytes the CS0 form of text takes with the given compression id, id included.
[[nodiscard]] std::size_t CompressedLength(std::u16string_view text, std::uint8_t compressionId);

// Writes the CS0 form of text into out (which must hold CompressedLength
// bytes) and returns the bytes written. With id 8 every unit must be below 100h.
[[nodiscard]] std::size_t CompressUnicode(std::u16string_view text, std::uint8_t compressionId,
                                          std::span<std::uint8_t> out);

// The compression id that stores all of text within capacity bytes: 16 when
// that fits (names keep their full Unicode form), else 8 when every unit is
// below 100h and that fits; none when text must be shortened first.
[[nodiscard]] std::optional<std::uint8_t> ChooseCompression(std::u16string_view text,
                                                            std::size_t capacity);

// The longest prefix of text that some compression stores within capacity
// bytes, cut between characters: a surrogate pair is never split.
[[nodiscard]] std::u16string_view FittingPrefix(std::u16string_view text, std::size_t capacity);

// A shortened form of name marked with ~number that fits capacity bytes: the
// extension (a final dot and up to 16 units after it) is kept, the stem is cut
// between characters. Callers try increasing numbers until the result is unique.
[[nodiscard]] std::u16string ShortenedName(std::u16string_view name, std::size_t capacity,
                                           std::uint32_t number);

}  // namespace kilnor
