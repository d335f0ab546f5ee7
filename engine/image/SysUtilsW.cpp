#include "engine/image/SysUtilsW.h"

#include <algorithm>

namespace kilnor {

std::u16string UpperCaseW(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& unit : out) unit = UpCaseChar(unit);
  return out;
}

std::u16string UpperCaseAsciiW(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& unit : out) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 32);
  }
  return out;
}

void UpperCaseAsciiInPlace(char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 32);
  }
}

bool SameTextW(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareTextW(a, b) == 0;
}

bool SameNameW(std::u16string_view a, std::u16string_view b) { return kNamesIgnoreCase ? SameTextW(a, b) : a == b; }

int CompareTextW(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t ua = UpCaseChar(a[i]);
    const char16_t ub = UpCaseChar(b[i]);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::uint64_t TextHashW(std::u16string_view text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char16_t unit : text) {
    const char16_t upper = UpCaseChar(unit);
    hash = (hash ^ (upper & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (upper >> 8)) * 1099511628211ull;
  }
  return hash;
}

}  // namespace kilnor
