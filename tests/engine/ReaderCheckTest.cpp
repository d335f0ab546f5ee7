// Images built from fixture trees, read back by independent tools: the
// extracted tree must be the source tree byte for byte (Joliet names), and
// every tool must open the image without complaint. A check whose tool is not
// installed is skipped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "engine/KilnorPro.h"
#include "engine/image/ElTorito.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLabel = "Reader check";

class ReaderCheck : public testing::TestWithParam<TTreeCase> {
 protected:
  void SetUp() override {
    if (!HaveTool("xorriso") || !HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  }
};

TEST_P(ReaderCheck, ReadersGetTheSourceTreeBack) {
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  GetParam().Populate(src);
  const fs::path image = scratch.path() / "image.iso";
  TKilnorPro kp;
  ASSERT_TRUE(BuildImage(kp, src, image, kLabel));
  ExpectExtractedTreeIs(image, src, scratch.path());
  ExpectToolsOpenIt(image, "READER_CHECK", GetParam().NonBmp);
}

INSTANTIATE_TEST_SUITE_P(Trees, ReaderCheck, testing::ValuesIn(FixtureTrees()),
                         [](const testing::TestParamInfo<TTreeCase>& info) { return info.param.Name; });

struct TOptionCase {
  const char* Name;
  bool Joliet;
  bool Iso1999;
  bool NamesKept;  // the tree readers see carries the long names
};

class ReaderCheckOptions : public testing::TestWithParam<TOptionCase> {};

// Without Joliet readers see the ISO 9660 tree: short names, unless the
// ISO 9660:1999 variant records the long names there.
TEST_P(ReaderCheckOptions, ReadersOpenEveryVariant) {
  if (!HaveTool("xorriso") || !HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  const TOptionCase& o = GetParam();
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  WriteFile(src / "A folder with a long name" / "Some document with a long name.txt", "inner");
  WriteFile(src / "readme.txt", "readme");
  WriteFile(src / "Another document with a long name.txt", Pattern(3000, 4));
  const fs::path image = scratch.path() / "image.iso";
  TKilnorPro kp;
  kp.SetJolietFileSystem(o.Joliet);
  kp.SetISO9660v1999FS(o.Iso1999);
  ASSERT_TRUE(BuildImage(kp, src, image, kLabel));
  const fs::path out = scratch.path() / "extracted";
  ASSERT_EQ(RunTool("osirrox -indev " + Quoted(image) + " -extract / " + Quoted(out)).ExitCode, 0);
  static_cast<void>(RunTool("chmod -R u+w " + Quoted(out)));
  if (o.NamesKept) {
    EXPECT_EQ(Snapshot(out), Snapshot(src));
  } else {
    std::multiset<std::string> extracted, source;
    for (const auto& [name, content] : Snapshot(out)) extracted.insert(content);
    for (const auto& [name, content] : Snapshot(src)) source.insert(content);
    EXPECT_EQ(extracted, source);
  }
  const TCommandResult list = RunTool("xorriso -indev " + Quoted(image) + " -find / -exec lsdl");
  EXPECT_EQ(XorrisoComplaints(list.Output, false), "") << list.Output;
  for (const std::string tool : {"iso-info --no-header -f -i", "7z l", "isoinfo -l -i"}) {
    if (!HaveTool(tool.substr(0, tool.find(' ')))) continue;
    const TCommandResult r = RunTool(tool + " " + Quoted(image));
    EXPECT_EQ(r.ExitCode, 0) << tool << r.Output;
    EXPECT_EQ(r.Output.find("arning"), std::string::npos) << tool << r.Output;
    EXPECT_EQ(r.Output.find("rror"), std::string::npos) << tool << r.Output;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, ReaderCheckOptions,
                         testing::Values(TOptionCase{"IsoOnly", false, false, false},
                                         TOptionCase{"Iso1999", false, true, true},
                                         TOptionCase{"Iso1999AndJoliet", true, true, true}),
                         [](const testing::TestParamInfo<TOptionCase>& info) { return info.param.Name; });

TEST_F(ReaderCheck, ListingsShowNamesSizesAndDates) {
  if (!HaveTool("isoinfo")) GTEST_SKIP() << "isoinfo is not installed";
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  WriteFile(src / "My long document A.txt", Pattern(1234, 1));
  WriteFile(src / "My long document B.txt", Pattern(4321, 2));
  const fs::path image = scratch.path() / "image.iso";
  TKilnorPro kp;
  ASSERT_TRUE(BuildImage(kp, src, image, kLabel));
  const std::string iso = RunTool("isoinfo -l -i " + Quoted(image)).Output;
  const std::string joliet = RunTool("isoinfo -J -l -i " + Quoted(image)).Output;
  EXPECT_TRUE(std::regex_search(iso, std::regex(R"( 1234 \w{3} +\d+ \d{4} \[ +\d+ 00\]  MY\w*~\w*\.TXT)"))) << iso;
  EXPECT_TRUE(std::regex_search(joliet, std::regex(R"( 4321 \w{3} +\d+ \d{4} \[ +\d+ 00\]  My long document B\.txt)")))
      << joliet;
}

TEST_F(ReaderCheck, JolietNamesOver110CharactersAreShortenedAndKeepTheirData) {
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  const std::string stem(150, 'n');
  WriteFile(src / (stem + "1.txt"), "first");
  WriteFile(src / (stem + "2.txt"), "second");
  const fs::path image = scratch.path() / "image.iso";
  TKilnorPro kp;
  ASSERT_TRUE(BuildImage(kp, src, image, kLabel));
  // Rock Ridge keeps the whole names; the Joliet tree is read here.
  const fs::path out = scratch.path() / "extracted";
  ASSERT_EQ(RunTool("osirrox -read_fs norock -indev " + Quoted(image) + " -extract / " + Quoted(out)).ExitCode, 0);
  static_cast<void>(RunTool("chmod -R u+w " + Quoted(out)));
  std::map<std::string, std::string> contents;
  for (const auto& [name, content] : Snapshot(out)) {
    EXPECT_EQ(name.size(), 110u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".txt");
    contents[content] = name;
  }
  EXPECT_EQ(contents.size(), 2u);
  EXPECT_TRUE(contents.count("first") && contents.count("second"));
}

// ---- A file of 4 GiB + 1 ---------------------------------------------------

// Writes the prepared session with the data of each file at its laid-out
// sector, copying only the data regions of sparse sources, so that a
// 4 GiB image costs a few blocks on disk (the command-line path writes it
// out in full).
bool WriteSparseImage(TCDFiles& cd, const fs::path& image) {
  if (!GenerateHeader(cd)) return false;
  const std::vector<std::uint8_t> header = WholeHeader(cd);
  const int out = open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = out >= 0 && !header.empty() &&
            pwrite(out, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size());
  for (const auto& e : cd.Files) {
    if (!ok || !HasNewData(*e)) continue;
    const int in = open(fs::path(SourcePath(*e)).c_str(), O_RDONLY);
    const off_t base = (off_t{cd.FirstDataSector} + e->Address) * 2048;
    std::string buffer(1 << 20, '\0');
    for (off_t data = lseek(in, 0, SEEK_DATA); ok && data >= 0 && data < e->FileSize;
         data = lseek(in, data, SEEK_DATA)) {
      const auto n = pread(in, buffer.data(), buffer.size(), data);
      ok = n > 0 && pwrite(out, buffer.data(), static_cast<std::size_t>(n), base + data) == n;
      data += n;
    }
    close(in);
  }
  ok = ok && ftruncate(out, off_t{cd.TotalImageSize} * 2048) == 0;
  if (out >= 0) close(out);
  return ok;
}

TEST_F(ReaderCheck, AFileOf4GiBPlusOneIsRecordedInTwoExtents) {
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  const std::int64_t size = (std::int64_t{1} << 32) + 1;
  WriteFile(src / "big.bin", "head");
  {
    const int fd = open((src / "big.bin").c_str(), O_WRONLY);
    ASSERT_EQ(ftruncate(fd, size - 5), 0);
    ASSERT_EQ(pwrite(fd, "tail!", 5, size - 5), 5);
    close(fd);
  }
  WriteFile(src / "after.txt", "after");
  fs::permissions(src / "big.bin", fs::perms(0640));
  TKilnorPro kp;
  ASSERT_TRUE(kp.RockRidge());
  kp.ClearAll();
  kp.SetVolumeID(kLabel);
  ASSERT_NE(kp.InsertDirW(u"\\", src.u16string(), u"*", true, false), nullptr);
  kp.Prepare();
  const fs::path image = scratch.path() / "image.iso";
  ASSERT_TRUE(WriteSparseImage(kp.CDFiles, image));

  const TCommandResult list = RunTool("xorriso -indev " + Quoted(image) + " -find / -exec lsdl");
  // Both extents' records carry the Rock Ridge fields: one file, its own mode.
  EXPECT_TRUE(std::regex_search(list.Output, std::regex("-rw-r----- +1 .* " + std::to_string(size) + " .*'/big.bin'")))
      << list.Output;
  // Two extents, back to back: a whole number of sectors, then the rest.
  // (Reading the data back through xorriso would take a minute for 4 GiB.)
  if (HaveTool("isoinfo")) {
    for (const char* listing : {"-l", "-J -l"}) {
      const std::string text = RunTool(std::string("isoinfo ") + listing + " -i " + Quoted(image)).Output;
      std::smatch m;
      ASSERT_TRUE(std::regex_search(text, m, std::regex(R"( 4294965248 .*\[ *(\d+) .*\n.* 2049 .*\[ *(\d+) )")))
          << text;
      EXPECT_EQ(std::stoul(m[2]), std::stoul(m[1]) + 4294965248u / 2048) << text;
    }
  }
  if (HaveTool("7z")) {
    const TCommandResult seven = RunTool("7z l " + Quoted(image));
    EXPECT_NE(seven.Output.find(std::to_string(size)), std::string::npos) << seven.Output;
  }
}

// ---- Boot images -----------------------------------------------------------

struct TBootCase {
  const char* Name;
  std::size_t Bytes;
  const char* Emulation;  // as xorriso reports it
};

class ReaderCheckBoot : public testing::TestWithParam<TBootCase> {};

TEST_P(ReaderCheckBoot, XorrisoReportsTheBootEntry) {
  if (!HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  const TBootCase& b = GetParam();
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  WriteFile(src / "readme.txt", "bootable");
  WriteFile(scratch.path() / "boot.img", Pattern(b.Bytes, 9));
  TKilnorPro kp;
  kp.ClearAll();
  ASSERT_NE(kp.InsertDirW(u"\\", src.u16string(), u"*", true, false), nullptr);
  kp.SetBootImage((scratch.path() / "boot.img").string());
  ASSERT_FALSE(kp.BootImage().empty());
  kp.Prepare();
  TWriteWaiter waiter(kp);
  const fs::path image = scratch.path() / "image.iso";
  ASSERT_TRUE(kp.BuildISOImageW(image.u16string()));
  ASSERT_TRUE(waiter.Succeeded());
  const TCommandResult report = RunTool("xorriso -indev " + Quoted(image) + " -report_el_torito plain");
  EXPECT_EQ(report.ExitCode, 0) << report.Output;
  EXPECT_TRUE(std::regex_search(report.Output, std::regex(std::string(R"(El Torito boot img : +1 +BIOS +y +)") +
                                                          b.Emulation + " ")))
      << report.Output;
  const fs::path cut = scratch.path() / "boot.read";
  ASSERT_EQ(RunTool("dd if=" + Quoted(image) + " of=" + Quoted(cut) + " bs=2048 skip=" +
                std::to_string(kp.CDFiles.BootImageLocation) + " count=" + std::to_string((b.Bytes + 2047) / 2048))
                .ExitCode,
            0);
  std::ifstream in(cut, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}).substr(0, b.Bytes), Pattern(b.Bytes, 9));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReaderCheckBoot,
                         testing::Values(TBootCase{"NoEmulation", 2048, "none"},
                                         TBootCase{"Floppy12", 1228800, "fd1.2"},
                                         TBootCase{"Floppy144", 1474560, "fd1.4"},
                                         TBootCase{"Floppy288", 2949120, "fd2.8"}),
                         [](const testing::TestParamInfo<TBootCase>& info) { return info.param.Name; });

}  // namespace
}  // namespace kilnor::test

namespace kilnor::test {
namespace {

// The same file through the real image pipeline, read back by xorriso at the
// start, across the boundary of its two extents and at its end (reading all
// 4 GiB back would take minutes; these three cuts are where a wrong extent
// address, length or sector rounding shows).
TEST(ReaderCheckPipeline, AFileOf4GiBPlusOneReadsBackAcrossItsExtents) {
  if (!HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  const std::int64_t size = (std::int64_t{1} << 32) + 1;
  const std::int64_t firstExtent = 4294965248;  // the largest whole number of sectors below 4 GiB
  const std::map<std::int64_t, std::string> marks = {
      {0, "head"}, {firstExtent - 3, "across"}, {size - 5, "tail!"}};
  WriteFile(src / "big.bin", "");
  {
    const int fd = open((src / "big.bin").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    for (const auto& [at, text] : marks) {
      ASSERT_EQ(pwrite(fd, text.data(), text.size(), at), static_cast<ssize_t>(text.size()));
    }
    close(fd);
  }
  TKilnorPro kp;
  const fs::path image = scratch.path() / "image.iso";
  ASSERT_TRUE(BuildImage(kp, src, image, kLabel));
  for (const auto& [at, text] : marks) {
    const fs::path cut = scratch.path() / ("cut" + std::to_string(at));
    const TCommandResult run = RunTool("xorriso -osirrox on -indev " + Quoted(image) + " -extract_cut /big.bin " +
                                       std::to_string(at) + " " + std::to_string(text.size()) + " " + Quoted(cut));
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    std::ifstream in(cut, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, text) << "at byte " << at;
  }
}

}  // namespace
}  // namespace kilnor::test
