// velmor-cli build-iso and burn with --smart-refs: the files that share an
// identical file's data and the bytes saved are printed, and the image or
// disc still gives every file back as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CliRun.h"
#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

class CliSmartRefs : public testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src / "photos" / "holiday.jpg", Pattern(1 << 20, 3));
    WriteFile(src / "backup" / "holiday copy.jpg", Pattern(1 << 20, 3));
    WriteFile(src / "notes.txt", Pattern(1 << 20, 4));
  }

  TTempDir scratch;
  const fs::path tree = scratch.path() / "tree";
  const fs::path src = tree / "src";
};

constexpr const char* kSaving = "Smart references: 1 file shares the data of an identical file, saving 1.0 MiB";

TEST_F(CliSmartRefs, BuildIsoPrintsTheSharingFilesAndTheSaving) {
  const fs::path plain = scratch.path() / "plain.iso";
  const fs::path shared = scratch.path() / "shared.iso";
  const TCommandResult without = RunTool(kBinDir + "/velmor-cli build-iso " + Quoted(src) + " -o " + Quoted(plain));
  ASSERT_EQ(without.ExitCode, 0) << without.Output;
  const TCommandResult run =
      RunTool(kBinDir + "/velmor-cli build-iso --smart-refs " + Quoted(src) + " -o " + Quoted(shared));
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find(kSaving), std::string::npos) << run.Output;
  // Which of the two is recorded first depends on the order the folders are read in.
  const std::string first = "\"" + (src / "photos" / "holiday.jpg").string() + "\"";
  const std::string second = "\"" + (src / "backup" / "holiday copy.jpg").string() + "\"";
  EXPECT_TRUE(run.Output.find(first + " shares the data of " + second) != std::string::npos ||
              run.Output.find(second + " shares the data of " + first) != std::string::npos)
      << run.Output;
  EXPECT_EQ(fs::file_size(plain) - fs::file_size(shared), 1u << 20);
  if (!HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  ExpectExtractedTreeIs(shared, tree, scratch.path());
}

TEST_F(CliSmartRefs, BurnSharesTheDataOnTheDisc) {
  ASSERT_EQ(Emulator("reset"), 0);
  ASSERT_EQ(Emulator("insert cd-r"), 0);
  const TCliRun run = Cli("burn --smart-refs " + Quoted(src));
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find(kSaving), std::string::npos) << run.Output;
  if (!HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  const fs::path image = scratch.path() / "medium.iso";
  ASSERT_EQ(Emulator("export " + Quoted(image)), 0);
  ExpectExtractedTreeIs(image, tree, scratch.path());
}

}  // namespace
}  // namespace kilnor::test
