#include "engine/platform/CaseMapping.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kilnor {
namespace {

// How a block of code points maps to upper case.
enum class Mapping : std::uint8_t {
  Offset,        // lower-case letter + delta = upper-case letter
  EvenUpper,     // pairs: even code point upper, the odd one after it lower
  OddUpper,      // pairs: odd code point upper, the even one after it lower
};

struct CaseBlock {
  char16_t first;
  char16_t last;
  Mapping mapping;
  std::int32_t delta;
};

// Sorted by first code point; blocks do not overlap.
constexpr std::array kCaseBlocks = {
    CaseBlock{0x0061, 0x007A, Mapping::Offset, -32},
    CaseBlock{0x00E0, 0x00F6, Mapping::Offset, -32},
    CaseBlock{0x00F8, 0x00FE, Mapping::Offset, -32},
    CaseBlock{0x00FF, 0x00FF, Mapping::Offset, 0x0178 - 0x00FF},
    CaseBlock{0x0100, 0x012F, Mapping::EvenUpper, 0},
    CaseBlock{0x0132, 0x0137, Mapping::EvenUpper, 0},
    CaseBlock{0x0139, 0x0148, Mapping::OddUpper, 0},
    CaseBlock{0x014A, 0x0177, Mapping::EvenUpper, 0},
    CaseBlock{0x0179, 0x017E, Mapping::OddUpper, 0},
    CaseBlock{0x0180, 0x0180, Mapping::Offset, 0x0243 - 0x0180},
    CaseBlock{0x0182, 0x0185, Mapping::EvenUpper, 0},
    CaseBlock{0x0187, 0x0188, Mapping::OddUpper, 0},
    CaseBlock{0x018B, 0x018C, Mapping::OddUpper, 0},
    CaseBlock{0x0191, 0x0192, Mapping::OddUpper, 0},
    CaseBlock{0x0198, 0x0199, Mapping::EvenUpper, 0},
    CaseBlock{0x01A0, 0x01A5, Mapping::EvenUpper, 0},
    CaseBlock{0x01A7, 0x01A8, Mapping::OddUpper, 0},
    CaseBlock{0x01AC, 0x01AD, Mapping::EvenUpper, 0},
    CaseBlock{0x01AF, 0x01B0, Mapping::OddUpper, 0},
    CaseBlock{0x01B3, 0x01B6, Mapping::OddUpper, 0},
    CaseBlock{0x01B8, 0x01B9, Mapping::EvenUpper, 0},
    CaseBlock{0x01BC, 0x01BD, Mapping::EvenUpper, 0},
    CaseBlock{0x01C6, 0x01C6, Mapping::Offset, -2},
    CaseBlock{0x01C9, 0x01C9, Mapping::Offset, -2},
    CaseBlock{0x01CC, 0x01CC, Mapping::Offset, -2},
    CaseBlock{0x01CD, 0x01DC, Mapping::OddUpper, 0},
    CaseBlock{0x01DE, 0x01EF, Mapping::EvenUpper, 0},
    CaseBlock{0x01F3, 0x01F3, Mapping::Offset, -2},
    CaseBlock{0x01F4, 0x01F5, Mapping::EvenUpper, 0},
    CaseBlock{0x01F8, 0x021F, Mapping::EvenUpper, 0},
    CaseBlock{0x0222, 0x0233, Mapping::EvenUpper, 0},
    CaseBlock{0x023B, 0x023C, Mapping::OddUpper, 0},
    CaseBlock{0x0241, 0x0242, Mapping::OddUpper, 0},
    CaseBlock{0x0246, 0x024F, Mapping::EvenUpper, 0},
    CaseBlock{0x03AC, 0x03AC, Mapping::Offset, 0x0386 - 0x03AC},
    CaseBlock{0x03AD, 0x03AF, Mapping::Offset, 0x0388 - 0x03AD},
    CaseBlock{0x03B1, 0x03C1, Mapping::Offset, -32},
    CaseBlock{0x03C2, 0x03C2, Mapping::Offset, 0x03A3 - 0x03C2},
    CaseBlock{0x03C3, 0x03CB, Mapping::Offset, -32},
    CaseBlock{0x03CC, 0x03CC, Mapping::Offset, 0x038C - 0x03CC},
    CaseBlock{0x03CD, 0x03CE, Mapping::Offset, 0x038E - 0x03CD},
    CaseBlock{0x03D8, 0x03EF, Mapping::EvenUpper, 0},
    CaseBlock{0x0430, 0x044F, Mapping::Offset, -32},
    CaseBlock{0x0450, 0x045F, Mapping::Offset, -80},
    CaseBlock{0x0460, 0x0481, Mapping::EvenUpper, 0},
    CaseBlock{0x048A, 0x04BF, Mapping::EvenUpper, 0},
    CaseBlock{0x04C1, 0x04CE, Mapping::OddUpper, 0},
    CaseBlock{0x04CF, 0x04CF, Mapping::Offset, 0x04C0 - 0x04CF},
    CaseBlock{0x04D0, 0x052F, Mapping::EvenUpper, 0},
    CaseBlock{0x0561, 0x0586, Mapping::Offset, -48},
    CaseBlock{0x1E00, 0x1E95, Mapping::EvenUpper, 0},
    CaseBlock{0x1EA0, 0x1EFF, Mapping::EvenUpper, 0},
    CaseBlock{0x2170, 0x217F, Mapping::Offset, -16},
    CaseBlock{0x24D0, 0x24E9, Mapping::Offset, -26},
    CaseBlock{0xFF41, 0xFF5A, Mapping::Offset, -32},
};

char16_t MapInBlock(const CaseBlock& block, char16_t unit) {
  switch (block.mapping) {
    case Mapping::Offset:
      return static_cast<char16_t>(unit + block.delta);
    case Mapping::EvenUpper:
      return (unit % 2 == 1) ? static_cast<char16_t>(unit - 1) : unit;
    case Mapping::OddUpper:
      return (unit % 2 == 0) ? static_cast<char16_t>(unit - 1) : unit;
  }
  return unit;
}

}  // namespace

char16_t UpCaseChar(char16_t unit) {
  if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 32) : unit;
  const auto* block = std::upper_bound(kCaseBlocks.begin(), kCaseBlocks.end(), unit,
                                       [](char16_t u, const CaseBlock& b) { return u < b.first; });
  if (block == kCaseBlocks.begin()) return unit;
  --block;
  return unit <= block->last ? MapInBlock(*block, unit) : unit;
}

}  // namespace kilnor
