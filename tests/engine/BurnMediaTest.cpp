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
  bool Udf = false;  // with the UDF bridge, read back through UDF as well
};

class BurnMedia : public BurnTest, public testing::WithParamInterface<TMediumCase> {};

TEST_P(BurnMedia, ReadersGetTheSourceTreeBackFromTheMedium) {
  InsertMedium(GetParam().Kind);
  const fs::path src = SmallSource();
  kp.SetUDFBridge(GetParam().Udf);
  ASSERT_TRUE(Burn(src));
  EXPECT_EQ(kp.CDFiles.BlocksWritten.load(), kp.ImageSize());
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
  const fs::path image = Export("medium.iso");
  ExpectExtractedTreeIs(image, src, scratch.path());
  ExpectToolsOpenIt(image, kBurnLabel, false);
  if (!GetParam().Udf) return;
  const fs::path out = scratch.path() / "udf";
  const TCommandResult extract = RunTool("7z x -tudf -o" + Quoted(out) + " " + Quoted(image));
  ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
  EXPECT_EQ(Snapshot(out), Snapshot(src));
}

INSTANTIATE_TEST_SUITE_P(Media, BurnMedia,
                         testing::Values(TMediumCase{"cd-r", "CDR"}, TMediumCase{"cd-rw", "CDRW", true},
                                         TMediumCase{"dvd-r", "DVDR", true}, TMediumCase{"dvd-rw", "DVDRW"},
                                         TMediumCase{"dvd+r", "DVDPlusR"}, TMediumCase{"dvd+r-dl", "DVDPlusRDL", true},
                                         TMediumCase{"dvd+rw", "DVDPlusRW", true}, TMediumCase{"dvd-ram", "DVDRAM"},
                                         TMediumCase{"bd-r", "BDR", true}, TMediumCase{"bd-re", "BDRE", true}),
                         TNamedCase());

// A second burn without import: on sequential media the new session starts
// where the drive says and a reader loading it there finds its files; on
// rewritable media the volume grows and a reader at the start finds them.
class BurnSecondSession : public BurnTest, public testing::WithParamInterface<TMediumCase> {};

TEST_P(BurnSecondSession, IsReadWhereItStarts) {
  InsertMedium(GetParam().Kind);
  const fs::path first = SmallSource();
  const fs::path second = scratch.path() / "second";
  WriteFile(second / "later.txt", "the second session\n");
  WriteFile(second / "more" / "5000.bin", Pattern(5000, 8));
  ASSERT_TRUE(Burn(first));
  const std::uint32_t firstSize = kp.ImageSize();
  ASSERT_TRUE(Burn(second));
  const std::uint32_t start = kp.CDFiles.FirstWritableSector;
  EXPECT_GE(start, firstSize);
  const fs::path image = Export("medium.iso");
  const fs::path out = scratch.path() / "extracted";
  const TCommandResult extract = RunTool("osirrox -indev " + Quoted(image) + " -load sbsector " +
                                         std::to_string(start) + " -extract / " + Quoted(out));
  ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
  EXPECT_EQ(Snapshot(out), Snapshot(second));
}

INSTANTIATE_TEST_SUITE_P(Media, BurnSecondSession,
                         testing::Values(TMediumCase{"cd-r", "CDR"}, TMediumCase{"dvd+r", "DVDPlusR"},
                                         TMediumCase{"bd-r", "BDR"}, TMediumCase{"dvd+rw", "DVDPlusRW"},
                                         TMediumCase{"bd-re", "BDRE"}),
                         TNamedCase());

}  // namespace
}  // namespace kilnor::test
