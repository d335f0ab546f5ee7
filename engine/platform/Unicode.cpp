#include "engine/platform/Unicode.h"

#include <cstdint>

namespace kilnor {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char16_t kEscapedByteBase = 0xDC80;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at the start of `text`. Returns its
// length in bytes, or 0 when the bytes there do not form a valid sequence
// (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!IsContinuation(byte)) return 0;
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

// Writes the UTF-8 form of one code point at `out`; returns the end.
char* PutUtf8(char* out, char32_t codePoint) {
  if (codePoint < 0x80) {
    *out++ = static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text, codePoint);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(kEscapedByteBase + static_cast<unsigned char>(text[0]) - 0x80));
      text.remove_prefix(1);
      continue;
    }
    if (codePoint < 0x10000) {
      out.push_back(static_cast<char16_t>(codePoint));
    } else {
      codePoint -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    }
    text.remove_prefix(length);
  }
  return out;
}

// Names are converted by the hundred thousand while a tree is read and laid
// out, so the text is written straight into a buffer sized for the worst case
// (three bytes a unit) instead of growing character by character.
std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out(text.size() * 3, '\0');
  char* end = out.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      *end++ = static_cast<char>(unit);
    } else if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      end = PutUtf8(end, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= kEscapedByteBase && unit <= kEscapedByteBase + 0x7F) {
      *end++ = static_cast<char>(unit - kEscapedByteBase + 0x80);
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      end = PutUtf8(end, kReplacement);
    } else {
      end = PutUtf8(end, unit);
    }
  }
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text, codePoint);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
  std::size_t position = 0;
  while (position < text.size()) {
    char32_t codePoint = 0;
    std::size_t length = DecodeUtf8(text.substr(position), codePoint);
    if (length == 0) length = 1;  // a stray byte stands on its own
    if (position + length > maxBytes) break;
    position += length;
  }
  return position;
}

std::u16string RecordableName(std::u16string_view name) {
  std::u16string out(name);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const char16_t unit = out[i];
    if (unit < 0x20) {
      out[i] = u'_';
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out[i] = static_cast<char16_t>(kReplacement);
    }
  }
  return out;
}

std::size_t Utf16PrefixLength(std::u16string_view text, std::size_t maxUnits) {
  if (text.size() <= maxUnits) return text.size();
  if (maxUnits > 0 && IsHighSurrogate(text[maxUnits - 1]) && IsLowSurrogate(text[maxUnits])) {
    return maxUnits - 1;
  }
  return maxUnits;
}

}  // namespace kilnor
