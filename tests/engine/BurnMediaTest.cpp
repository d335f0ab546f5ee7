// Burns through the component on every recordable medium kind of the
// emulated recorder, read back by independent readers from the medium's
// exported data.
#include <gtest/gtest.h>

#include "BurnFixtures.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

struct TMediumCase {
  const char* Kind;  // velmor-emulator's name
  const char* Name;
};

std::string CaseName(const testing::TestParamInfo<TMediumCase>& Info) { return Info.param.Name; }

class BurnMedia : public BurnTest, public testing::WithParamInterface<TMediumCase> {};

TEST_P(BurnMedia, ReadersGetTheSourceTreeBackFromTheMedium) {
  InsertMedium(GetParam().Kind);
  const fs::path src = scratch.path() / "src";
  SmallTree(src);
  ASSERT_TRUE(Burn(src));
  EXPECT_EQ(kp.CDFiles.BlocksWritten.load(), kp.ImageSize());
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
  const fs::path image = Export("medium.iso");
  ExpectExtractedTreeIs(image, src, scratch.path());
  ExpectToolsOpenIt(image, kBurnLabel, false);
}

INSTANTIATE_TEST_SUITE_P(Media, BurnMedia,
                         testing::Values(TMediumCase{"cd-r", "CDR"}, TMediumCase{"cd-rw", "CDRW"},
                                         TMediumCase{"dvd-r", "DVDR"}, TMediumCase{"dvd-rw", "DVDRW"},
                                         TMediumCase{"dvd+r", "DVDPlusR"}, TMediumCase{"dvd+r-dl", "DVDPlusRDL"},
                                         TMediumCase{"dvd+rw", "DVDPlusRW"}, TMediumCase{"dvd-ram", "DVDRAM"},
                                         TMediumCase{"bd-r", "BDR"}, TMediumCase{"bd-re", "BDRE"}),
                         CaseName);

}  // namespace
}  // namespace kilnor::test
