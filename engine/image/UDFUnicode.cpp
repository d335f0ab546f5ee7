#include "engine/image/UDFUnicode.h"

#include <algorithm>
#include <cassert>

namespace kilnor {
namespace {

constexpr std::size_t kMaxKeptExtension = 16;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Number of leading units below 100h, the part that 8-bit compression holds.
std::size_t LeadingNarrowUnits(std::u16string_view text) {
  const auto wide = std::find_if(text.begin(), text.end(), [](char16_t u) { return u > 0xFF; });
  return static_cast<std::size_t>(wide - text.begin());
}

// Cuts text to at most units code units without splitting a surrogate pair.
std::u16string_view CutBetweenCharacters(std::u16string_view text, std::size_t units) {
  if (units >= text.size()) return text;
  if (units > 0 && IsHighSurrogate(text[units - 1])) --units;
  return text.substr(0, units);
}

}  // namespace

std::size_t CompressedLength(std::u16string_view text, std::uint8_t compressionId) {
  const std::size_t perUnit = compressionId == kCompressionId8 ? 1 : 2;
  return 1 + perUnit * text.size();
}

std::size_t CompressUnicode(std::u16string_view text, std::uint8_t compressionId,
                            std::span<std::uint8_t> out) {
  const std::size_t length = CompressedLength(text, compressionId);
  assert(out.size() >= length);
  out[0] = compressionId;
  std::size_t at = 1;
  for (const char16_t unit : text) {
    if (compressionId == kCompressionId8) {
      assert(unit <= 0xFF);
      out[at++] = static_cast<std::uint8_t>(unit);
    } else {
      out[at++] = static_cast<std::uint8_t>(unit >> 8);
      out[at++] = static_cast<std::uint8_t>(unit & 0xFF);
    }
  }
  return length;
}

std::optional<std::uint8_t> ChooseCompression(std::u16string_view text, std::size_t capacity) {
  if (CompressedLength(text, kCompressionId16) <= capacity) return kCompressionId16;
  if (CompressedLength(text, kCompressionId8) <= capacity && LeadingNarrowUnits(text) == text.size()) {
    return kCompressionId8;
  }
  return std::nullopt;
}

std::u16string_view FittingPrefix(std::u16string_view text, std::size_t capacity) {
  if (capacity == 0) return text.substr(0, 0);
  if (ChooseCompression(text, capacity)) return text;
  const std::size_t narrow = std::min(LeadingNarrowUnits(text), capacity - 1);
  const std::u16string_view wide = CutBetweenCharacters(text, (capacity - 1) / 2);
  return narrow > wide.size() ? text.substr(0, narrow) : wide;
}

std::u16string ShortenedName(std::u16string_view name, std::size_t capacity, std::uint32_t number) {
  std::u16string tail = u"~";
  for (const char digit : std::to_string(number)) tail.push_back(static_cast<char16_t>(digit));
  const std::size_t wideUnits = capacity > 0 ? (capacity - 1) / 2 : 0;

  std::u16string_view stem = name;
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos && dot > 0 && name.size() - dot - 1 <= kMaxKeptExtension &&
      tail.size() + (name.size() - dot) < wideUnits) {
    stem = name.substr(0, dot);
    tail.append(name.substr(dot));
  }
  // Sized for 16-bit compression, which holds every character.
  const std::size_t stemUnits = wideUnits > tail.size() ? wideUnits - tail.size() : 0;
  std::u16string shortened(CutBetweenCharacters(stem, stemUnits));
  shortened.append(tail);
  return shortened;
}

}  // namespace kilnor
