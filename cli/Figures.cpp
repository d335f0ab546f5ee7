#include "cli/Figures.h"

#include <cstdio>

namespace velmor::cli {

std::string GroupedNumber(std::uint64_t Value) {
  const std::string digits = std::to_string(Value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string GroupedMegabytes(std::uint64_t Blocks) {
  const std::uint64_t hundredths = (Blocks * 100 + 256) / 512;  // rounded to the nearest hundredth
  char fraction[4];
  std::snprintf(fraction, sizeof fraction, ".%02u", static_cast<unsigned>(hundredths % 100));
  return GroupedNumber(hundredths / 100) + fraction;
}

}  // namespace velmor::cli
