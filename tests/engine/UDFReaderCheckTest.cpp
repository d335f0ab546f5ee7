// Images with the UDF bridge built from fixture trees through the component,
// as `velmor-cli build-iso --udf` builds them, read back by independent
// readers: udfinfo and 7z (udftools, p7zip-full) through UDF, a reader of
// our own that checks every descriptor tag, and through ISO 9660 and Joliet
// the same readers and checks as an image without the bridge. A check whose
// tool is missing is skipped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "UDFReader.h"
#include "engine/KilnorPro.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLabel = "UDF check";

void ExpectUDFReadersGetTheTree(const fs::path& image, const fs::path& src, const fs::path& scratch) {
  const TUDFVolume volume = ReadUDFVolume(image);
  for (const std::string& error : volume.Errors) ADD_FAILURE() << error;
  EXPECT_GE(volume.DescriptorsChecked, 20u) << "anchors, two sequences, integrity, file set, root";

  if (!HaveTool("udfinfo") || !HaveTool("7z")) GTEST_SKIP() << "udftools or p7zip-full is not installed";
  const TCommandResult info = RunTool("udfinfo " + Quoted(image));
  EXPECT_EQ(info.ExitCode, 0) << info.Output;
  EXPECT_NE(info.Output.find(std::string("\nlabel=") + kLabel + "\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("\nudfrev=1.50\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("\nblocksize=2048\n"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("\nintegrity=closed\n"), std::string::npos) << info.Output;
  EXPECT_EQ(info.Output.find("rror"), std::string::npos) << info.Output;

  const TCommandResult test = RunTool("7z t -tudf " + Quoted(image));
  EXPECT_EQ(test.ExitCode, 0) << test.Output;
  EXPECT_EQ(test.Output.find("ERROR"), std::string::npos) << test.Output;
  EXPECT_EQ(test.Output.find("Warnings"), std::string::npos) << test.Output;

  const fs::path out = scratch / "udf";
  const TCommandResult extract = RunTool("7z x -tudf -o" + Quoted(out) + " " + Quoted(image));
  ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
  EXPECT_EQ(Snapshot(out), Snapshot(src));
}

class UDFReaderCheck : public testing::TestWithParam<TTreeCase> {};

TEST_P(UDFReaderCheck, UDFAndISOReadersGetTheSourceTreeBack) {
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  GetParam().Populate(src);
  const fs::path image = scratch.path() / "image.iso";
  TKilnorPro kp;
  kp.SetUDFBridge(true);
  ASSERT_TRUE(BuildImage(kp, src, image, kLabel));
  ExpectUDFReadersGetTheTree(image, src, scratch.path());
  if (!HaveTool("xorriso") || !HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  ExpectExtractedTreeIs(image, src, scratch.path());
  ExpectToolsOpenIt(image, "UDF_CHECK", GetParam().NonBmp);
}

INSTANTIATE_TEST_SUITE_P(Trees, UDFReaderCheck, testing::ValuesIn(FixtureTrees()),
                         [](const testing::TestParamInfo<TTreeCase>& info) { return std::string(info.param.Name); });

TEST(UDFImage, WritingAPreparedCompilationTwiceGivesTheSameImage) {
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  NestedEightDeep(src);
  TKilnorPro kp;
  kp.SetUDFBridge(true);
  ASSERT_TRUE(BuildImage(kp, src, scratch.path() / "first.iso", kLabel));
  TWriteWaiter waiter(kp);
  ASSERT_TRUE(kp.BuildISOImageW((scratch.path() / "second.iso").u16string()));
  ASSERT_TRUE(waiter.Succeeded()) << kp.ErrorString();
  std::ifstream a(scratch.path() / "first.iso", std::ios::binary);
  std::ifstream b(scratch.path() / "second.iso", std::ios::binary);
  EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));
}

TEST(UDFImage, AGenerationThatFailsFailsTheWriteAndLeavesNoImage) {
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  WriteFile(src / "a.txt", "a");
  TKilnorPro kp;
  kp.ClearAll();
  kp.SetUDFBridge(true);
  ASSERT_NE(kp.InsertDirW(u"\\", src.u16string(), u"*", true, false), nullptr);
  // An entry of an earlier session whose data lies past the session being
  // written: the partition cannot address it.
  TFileEntry& stray = *kp.CDFiles.Files.back();
  stray.Imported = true;
  stray.Address = 4000000;
  SetSourcePath(stray, {});
  ASSERT_GT(Prepare(kp.CDFiles), 0u);
  const fs::path image = scratch.path() / "failed.iso";
  TWriteWaiter waiter(kp);
  // The failure ends the write before or after the write thread starts,
  // depending on when the generator is first asked; either way it fails.
  if (kp.BuildISOImageW(image.u16string())) {
    EXPECT_FALSE(waiter.Succeeded());
  }
  EXPECT_EQ(kp.ErrorNumber(), 1u) << "the data no longer matches the prepared layout";
  EXPECT_FALSE(fs::exists(image)) << "no partial image left looking complete";
}

}  // namespace
}  // namespace kilnor::test
