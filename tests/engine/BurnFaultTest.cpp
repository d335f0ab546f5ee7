// Faults armed in the emulated recorder while a burn runs: each ends as a
// reported failure with the reason that caused it, the component idle, and
// on rewritable media the earlier volume as readable as before.
#include <gtest/gtest.h>

#include "BurnFixtures.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

struct TFaultCase {
  const char* Name;
  const char* Kind;
  const char* Fault;  // velmor-emulator fault add ...; empty: none
  const char* Error;  // the error text the failure leaves
};

class BurnFault : public BurnTest, public testing::WithParamInterface<TFaultCase> {};

TEST_P(BurnFault, EndsInAReportedFailureWithItsReason) {
  InsertMedium(GetParam().Kind);
  const fs::path src = SmallSource();
  ASSERT_EQ(Emulator(std::string("fault add ") + GetParam().Fault), 0);
  EXPECT_FALSE(Burn(src));
  EXPECT_EQ(Reports, 1);
  EXPECT_TRUE(WriteFailed);
  EXPECT_EQ(Error, GetParam().Error);
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BurnFault,
    testing::Values(
        TFaultCase{"WriteErrorOnDVDPlusR", "dvd+r", "write-error --lba 40", "Hardware Error 3072"},
        TFaultCase{"WriteErrorOnCDR", "cd-r", "write-error --lba 100", "Hardware Error 3072"},
        TFaultCase{"BusyPastTheRetries", "dvd+r", "busy --opcode 2A --count 5001",
                   "The drive stayed busy and did not take the data"},
        TFaultCase{"NotReadyPastTheRetries", "bd-r", "not-ready --opcode 2A --count 5001", "Hardware Error 1025"},
        TFaultCase{"TrayEjectedMidBurn", "dvd-r", "eject --count 2", "Hardware Error 14850"},
        TFaultCase{"PowerLossMidBurn", "bd-re", "power-loss --count 2", "Hardware Error 10496"},
        TFaultCase{"FailingSessionClose", "dvd+r", "fail-command --opcode 5B --count 2 --sense 3/0C/00",
                   "Hardware Error 3072"},
        TFaultCase{"FailingCDSessionClose", "cd-r", "fail-command --opcode 5B --sense 5/2C/00",
                   "Hardware Error 11264"},
        TFaultCase{"FailingFlush", "dvd+rw", "fail-command --opcode 35 --count 2 --sense 3/0C/00",
                   "Hardware Error 3072"}),
    TNamedCase());

TEST_F(BurnTest, RetriesWithinTheirCountsStillRecordTheSession) {
  InsertMedium("dvd+r");
  const fs::path src = SmallSource();
  ASSERT_EQ(Emulator("fault add not-ready --opcode 2A --count 4999"), 0);
  ASSERT_TRUE(Burn(src));
  ExpectExtractedTreeIs(Export("medium.iso"), src, scratch.path());
}

TEST_F(BurnTest, SourceFileChangedAfterPrepareFailsTheBurn) {
  InsertMedium("dvd+r");
  const fs::path src = SmallSource();
  ASSERT_TRUE(PrepareCompilation(src));
  WriteFile(src / "data" / "2049.bin", Pattern(2050, 2));
  EXPECT_FALSE(Run([this] { return kp.Burn(); }));
  EXPECT_EQ(Reports, 1);
  EXPECT_TRUE(WriteFailed);
  EXPECT_EQ(Error, "Error opening file \\" + (src / "data" / "2049.bin").string() + "\\");
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

// A burn of Src on a new Kind that the drive keeps from writing, aborted
// as soon as it has started.
class BurnAborted : public BurnTest {
 protected:
  [[nodiscard]] bool AbortedBurn(const char* Kind, const fs::path& Src) {
    InsertMedium(Kind);
    if (Emulator("fault add not-ready --opcode 2A --count 1000000") != 0 || !PrepareCompilation(Src)) return false;
    return Run([this] {
      const bool started = kp.Burn();
      kp.AbortOperation();
      return started;
    });
  }
};

TEST_F(BurnAborted, EndsTheBurnAsAFailure) {
  EXPECT_TRUE(AbortedBurn("dvd+r", SmallSource()));
  EXPECT_TRUE(WriteFailed);
  EXPECT_EQ(Error, "Aborted by user");
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

TEST_F(BurnAborted, DoesNotStopTheNextBurnsSetUp) {
  const fs::path src = SmallSource();
  ASSERT_TRUE(AbortedBurn("bd-r", src));
  ASSERT_EQ(Emulator("fault clear"), 0);
  // A blank DVD-RW is formatted before it is written, and the burn waits for it.
  InsertMedium("dvd-rw");
  ASSERT_TRUE(Burn(src)) << Error;
  ExpectExtractedTreeIs(Export("medium.iso"), src, scratch.path());
}

// The copy of a grown volume's descriptors to the start of a DVD+RW, refused
// for the medium's format: the disc is formatted again and the copy tried
// once more; refused again, the burn fails.
struct TCopyRefusal {
  const char* Name;
  int Refusals;
  bool Fails;
};

class BurnRefusedCopy : public BurnTest, public testing::WithParamInterface<TCopyRefusal> {};

TEST_P(BurnRefusedCopy, IsFormattedAndTriedOnceMore) {
  InsertMedium("dvd+rw");
  ASSERT_TRUE(Burn(SmallSource()));
  const fs::path second = scratch.path() / "second";
  WriteFile(second / "later.txt", "the second session\n");
  ASSERT_TRUE(PrepareCompilation(second));
  // The session's own writes come first; the copy is the next WRITE (10).
  const std::uint32_t copy = kp.ImageSize() / 32 + 1;
  ASSERT_EQ(Emulator("fault add fail-command --opcode 2A --count " + std::to_string(copy) + " --sense 5/30/05"), 0);
  if (GetParam().Refusals == 2) {
    ASSERT_EQ(Emulator("fault add fail-command --opcode 2A --sense 5/30/05"), 0);
  }
  ASSERT_TRUE(Run([this] { return kp.Burn(); })) << Error;
  EXPECT_EQ(WriteFailed, GetParam().Fails) << Error;
  if (GetParam().Fails) {
    EXPECT_EQ(Error, "Hardware Error 12293");
  } else {
    ExpectExtractedTreeIs(Export("medium.iso"), second, scratch.path());
  }
}

INSTANTIATE_TEST_SUITE_P(Refusals, BurnRefusedCopy,
                         testing::Values(TCopyRefusal{"Once", 1, false}, TCopyRefusal{"Twice", 2, true}),
                         TNamedCase());

// ---- A failed append on a rewritable medium -------------------------------------

struct TAppendCase {
  const char* Name;
  const char* Kind;
  const char* Fault;  // armed after the first session, at its sector count + 40 when "%"
};

class BurnFailedAppend : public BurnTest, public testing::WithParamInterface<TAppendCase> {};

TEST_P(BurnFailedAppend, LeavesTheFirstSessionReadable) {
  InsertMedium(GetParam().Kind);
  const fs::path first = scratch.path() / "first";
  const fs::path second = scratch.path() / "second";
  SmallTree(first);
  WriteFile(second / "new.bin", Pattern(300000, 7));
  ASSERT_TRUE(Burn(first));
  std::string fault = GetParam().Fault;
  if (const std::size_t at = fault.find('%'); at != std::string::npos)
    fault.replace(at, 1, std::to_string(kp.ImageSize() + 40));
  ASSERT_EQ(Emulator("fault add " + fault), 0);
  EXPECT_FALSE(Burn(second));
  EXPECT_TRUE(WriteFailed);
  ExpectExtractedTreeIs(Export("medium.iso"), first, scratch.path());
}

INSTANTIATE_TEST_SUITE_P(Media, BurnFailedAppend,
                         testing::Values(TAppendCase{"WriteErrorOnDVDPlusRW", "dvd+rw", "write-error --lba %"},
                                         TAppendCase{"WriteErrorOnBDRE", "bd-re", "write-error --lba %"},
                                         TAppendCase{"PowerLossOnDVDPlusRW", "dvd+rw", "power-loss --count 3"},
                                         TAppendCase{"FailingFlushOnBDRE", "bd-re",
                                                     "fail-command --opcode 35 --count 2 --sense 3/0C/00"}),
                         TNamedCase());

}  // namespace
}  // namespace kilnor::test
