// The meanings printed beside a drive error.
#include <gtest/gtest.h>

#include "engine/device/SenseTexts.h"

namespace kilnor {
namespace {

TEST(SenseTexts, DescribeKeyCodeAndQualifier) {
  struct TCase {
    std::uint8_t Key, Asc, Ascq;
    const char* Text;
  };
  for (const TCase& c : {
           TCase{0x2, 0x3A, 0x02, "sense 2/3A/02: medium not present, tray open"},
           TCase{0x2, 0x04, 0x01, "sense 2/04/01: logical unit is in process of becoming ready"},
           TCase{0x3, 0x0C, 0x00, "sense 3/0C/00: write error"},
           TCase{0x5, 0x21, 0x02, "sense 5/21/02: invalid address for write"},
           TCase{0x6, 0x28, 0x00, "sense 6/28/00: not ready to ready change, medium may have changed"},
           // A qualifier not listed: the code's family.
           TCase{0x2, 0x04, 0x3C, "sense 2/04/3C: logical unit not ready"},
           TCase{0x6, 0x29, 0x07, "sense 6/29/07: power on or reset occurred"},
           // A code not known at all (vendor-specific): the key's name.
           TCase{0x4, 0xE1, 0x05, "sense 4/E1/05: hardware error"},
           TCase{0xB, 0x00, 0x06, "sense B/00/06: aborted command"},
           // Only the key's four bits count.
           TCase{0xF2, 0x3A, 0x00, "sense 2/3A/00: medium not present"},
       })
    EXPECT_EQ(SenseDescription(c.Key, c.Asc, c.Ascq), c.Text);
}

}  // namespace
}  // namespace kilnor
