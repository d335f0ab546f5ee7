// GenerateSmartReferences on the component: which files come to share the
// data of an identical one, what the pass reports on the owner's thread, and
// what happens to references when an owner is replaced or the pass aborted.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ReaderCheckFixtures.h"
#include "engine/KilnorPro.h"
#include "engine/image/Tree.h"
#include "fixtures/temp-folder/TempFolder.h"

namespace kilnor {
namespace {

using test::Pattern;
using velmor_test::TempFolder;

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

// Two different 128-byte blocks with one MD5 digest,
// 79054025255fb1a26e4bc422aef54eb4 (md5sum of either).
const std::string kCollisionA = FromHex(
    "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f8955ad340609f4b30283e488832571415a085125e8f7cdc99f"
    "d91dbdf280373c5bd8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0e99f33420f577ee8ce54b67080a80d1e"
    "c69821bcb6a8839396f9652b6ff72a70");
const std::string kCollisionB = FromHex(
    "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f8955ad340609f4b30283e4888325f1415a085125e8f7cdc99f"
    "d91dbd7280373c5bd8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0e99f33420f577ee8ce54b67080280d1e"
    "c69821bcb6a8839396f965ab6ff72a70");

class SmartReferences : public testing::Test {
 protected:
  void SetUp() override {
    kp.ClearAll();
    kp.SetOnGenerateSmartReferencesDone([this](void*, bool Failed, std::int32_t CanSaveBytes) {
      ++reports;
      failed = Failed;
      reportedSaving = CanSaveBytes;
      statusWhenReported = kp.ComponentStatus();
    });
  }

  // A source file `name` in the folder `place` of the scratch folder,
  // inserted at the root of the compilation.
  pFileEntry AddFile(const std::string& name, const std::string& content, const std::string& place = "src") {
    const std::string path = folder.MakeFile(place + "/" + name, content);
    const pFileEntry entry = kp.InsertFile("\\", path);
    EXPECT_NE(entry, nullptr) << kp.LastTreeError();
    return entry;
  }

  pFileEntry AddMemoryFile(const std::string& name, std::uint32_t size, const TGetDataEvent& data) {
    TWin32FindDataA fd;
    std::strncpy(fd.cFileName, name.c_str(), sizeof(fd.cFileName) - 1);
    fd.nFileSizeLow = size;
    const pFileEntry entry = kp.InsertMemoryFile("\\", fd, data);
    EXPECT_NE(entry, nullptr) << kp.LastTreeError();
    return entry;
  }

  // Runs the pass and drains completions until it has reported once.
  void RunPass() {
    const int before = reports;
    ASSERT_TRUE(kp.GenerateSmartReferences());
    for (int i = 0; i < 600 && reports == before; ++i) {
      kp.WaitForNotifications(std::chrono::milliseconds(100));
      kp.DrainNotifications();
    }
    ASSERT_EQ(reports, before + 1);
    EXPECT_EQ(statusWhenReported, stIdle);
  }

  // Long name -> long name of the entry whose data it shares.
  std::map<std::string, std::string> Shares() const {
    std::map<std::string, std::string> shares;
    for (const auto& entry : kp.CDFiles.Files) {
      if (entry->ReferenceEntry != nullptr) {
        shares[std::string(entry->LongName.begin(), entry->LongName.end())] =
            std::string(entry->ReferenceEntry->LongName.begin(), entry->ReferenceEntry->LongName.end());
      }
    }
    return shares;
  }

  TempFolder folder;
  int owner = 0;
  TKilnorPro kp{&owner};
  int reports = 0;
  bool failed = false;
  std::int32_t reportedSaving = -1;
  std::uint16_t statusWhenReported = 0xFFFF;
};

struct TSourceFile {
  std::string Name;
  std::string Content;
  bool GoneBeforePass = false;  // removed after it was added
};

struct TPassCase {
  const char* Name;
  std::vector<TSourceFile> Files;
  std::map<std::string, std::string> Shares;  // file -> the file whose data it shares
  std::vector<std::string> Read;              // the files whose content the pass read
  std::int32_t Saved;
};

const TPassCase kPassCases[] = {
    {"TwoIdentical",
     {{"a.bin", Pattern(5000, 1)}, {"b.bin", Pattern(5000, 1)}},
     {{"b.bin", "a.bin"}},
     {"a.bin", "b.bin"},
     6144},
    {"ThreeIdenticalShareTheFirst",
     {{"a.bin", Pattern(5000, 1)}, {"b.bin", Pattern(5000, 1)}, {"c.bin", Pattern(5000, 1)}},
     {{"b.bin", "a.bin"}, {"c.bin", "a.bin"}},
     {"a.bin", "b.bin", "c.bin"},
     12288},
    {"EqualSizeDifferentBytes",
     {{"a.bin", Pattern(5000, 1)}, {"b.bin", Pattern(5000, 2)}},
     {},
     {"a.bin", "b.bin"},
     0},
    {"OneDigestDifferentBytes", {{"a.bin", kCollisionA}, {"b.bin", kCollisionB}}, {}, {"a.bin", "b.bin"}, 0},
    {"UniqueSizeNeverOpened",
     {{"a.bin", Pattern(5000, 1)}, {"b.bin", Pattern(5000, 1)}, {"gone.bin", Pattern(7000, 3), true}},
     {{"b.bin", "a.bin"}},
     {"a.bin", "b.bin"},
     6144},
    {"UnreadableTwinKeepsItsOwnData",
     {{"a.bin", Pattern(5000, 1)}, {"gone.bin", Pattern(5000, 1), true}, {"c.bin", Pattern(5000, 1)}},
     {{"c.bin", "a.bin"}},
     {"a.bin", "c.bin"},
     6144},
    {"EmptyFilesTakeNoPart", {{"a.bin", ""}, {"b.bin", ""}}, {}, {}, 0},
    {"GroupsOfEachSize",
     {{"big1.bin", Pattern(9000, 2)}, {"small1.bin", Pattern(3000, 1)}, {"big2.bin", Pattern(9000, 2)},
      {"small2.bin", Pattern(3000, 1)}},
     {{"big2.bin", "big1.bin"}, {"small2.bin", "small1.bin"}},
     {"big1.bin", "big2.bin", "small1.bin", "small2.bin"},
     10240 + 4096},
};

class SmartReferencePass : public SmartReferences, public testing::WithParamInterface<TPassCase> {};

TEST_P(SmartReferencePass, LaterTwinsShareTheFirstsData) {
  for (const TSourceFile& file : GetParam().Files) AddFile(file.Name, file.Content);
  for (const TSourceFile& file : GetParam().Files) {
    if (file.GoneBeforePass) std::filesystem::remove(folder.Path("src/" + file.Name));
  }
  RunPass();
  EXPECT_FALSE(failed);
  EXPECT_EQ(kp.ErrorNumber(), 0u);
  EXPECT_EQ(Shares(), GetParam().Shares);
  EXPECT_EQ(reportedSaving, GetParam().Saved);
  EXPECT_EQ(kp.SmartReferencesSavedBytes(), static_cast<std::uint64_t>(GetParam().Saved));
  EXPECT_EQ(kp.SmartReferencesProgress(), kp.SmartReferencesSize());
  std::vector<std::string> read;
  for (const auto& entry : kp.CDFiles.Files) {
    if (!entry->Extras.get().Hash.empty()) read.emplace_back(entry->LongName.begin(), entry->LongName.end());
  }
  std::sort(read.begin(), read.end());
  EXPECT_EQ(read, GetParam().Read);
}

INSTANTIATE_TEST_SUITE_P(Sources, SmartReferencePass, testing::ValuesIn(kPassCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SmartReferences, TwinsAreLaidOutOnOneExtentAndTheirSourcesKept) {
  const pFileEntry first = AddFile("a.bin", Pattern(5000, 1));
  const pFileEntry twin = AddFile("b.bin", Pattern(5000, 1));
  const std::u16string twinSource = SourcePath(*twin);
  RunPass();
  ASSERT_GT(kp.Prepare(), 0u);
  EXPECT_EQ(twin->Address, first->Address);
  EXPECT_EQ(kp.CDFiles.FilesSize, 3u) << "the data is recorded once";
  EXPECT_EQ(SourcePath(*twin), twinSource);
}

TEST_F(SmartReferences, ARunAgainKeepsEarlierReferencesAndAddsNewOnes) {
  AddFile("a.bin", Pattern(5000, 1));
  AddFile("b.bin", Pattern(5000, 1));
  RunPass();
  AddFile("c.bin", Pattern(5000, 1));
  RunPass();
  EXPECT_EQ(Shares(), (std::map<std::string, std::string>{{"b.bin", "a.bin"}, {"c.bin", "a.bin"}}));
  EXPECT_EQ(reportedSaving, 6144) << "what this run saved";
}

TEST_F(SmartReferences, AReplacedOwnersTwinsRecordTheirOwnDataAgain) {
  const pFileEntry first = AddFile("a.bin", Pattern(5000, 1));
  const pFileEntry twin = AddFile("b.bin", Pattern(5000, 1));
  RunPass();
  ASSERT_EQ(twin->ReferenceEntry, first);
  kp.SetReplaceFile(true);
  ASSERT_EQ(AddFile("a.bin", Pattern(6000, 2), "other"), first);
  EXPECT_EQ(twin->ReferenceEntry, nullptr);
  ASSERT_GT(kp.Prepare(), 0u);
  EXPECT_NE(twin->Address, first->Address);
  EXPECT_EQ(kp.CDFiles.FilesSize, 3u + 3u);
}

// b's twin z first references b; once a holds the same bytes as b, b
// references a, and z is led on to a rather than through b.
TEST_F(SmartReferences, ReferencesLeadStraightToTheRecordedOwner) {
  const pFileEntry a = AddFile("a.bin", Pattern(5000, 1));
  AddFile("b.bin", Pattern(5000, 2));
  AddFile("z.bin", Pattern(5000, 2));
  RunPass();
  ASSERT_EQ(Shares(), (std::map<std::string, std::string>{{"z.bin", "b.bin"}}));
  kp.SetReplaceFile(true);
  ASSERT_EQ(AddFile("a.bin", Pattern(5000, 2), "other"), a);
  RunPass();
  EXPECT_EQ(Shares(), (std::map<std::string, std::string>{{"b.bin", "a.bin"}, {"z.bin", "a.bin"}}));
  for (const auto& entry : kp.CDFiles.Files) {
    if (entry->ReferenceEntry != nullptr) {
      EXPECT_EQ(entry->ReferenceEntry->ReferenceEntry, nullptr);
    }
  }
}

// Large files are read one at a time beside the small ones.
TEST_F(SmartReferences, LargeAndSmallTwinsAreFoundTogether) {
  constexpr std::uintmax_t kLarge = std::uintmax_t{64} << 20;
  for (const char* name : {"large1.bin", "large2.bin", "large3.bin"}) {
    const std::string path = folder.MakeFile(std::string("src/") + name, name == std::string("large3.bin") ? "x" : "");
    std::filesystem::resize_file(path, kLarge);
    EXPECT_NE(kp.InsertFile("\\", path), nullptr);
  }
  AddFile("small1.bin", Pattern(3000, 1));
  AddFile("small2.bin", Pattern(3000, 1));
  RunPass();
  EXPECT_EQ(Shares(), (std::map<std::string, std::string>{{"large2.bin", "large1.bin"}, {"small2.bin", "small1.bin"}}));
  EXPECT_EQ(kp.SmartReferencesSavedBytes(), kLarge + 4096);
}

TEST_F(SmartReferences, AMemoryFileSharesTheDataOfAnIdenticalDiskFile) {
  const std::string content = Pattern(5000, 1);
  const pFileEntry disk = AddFile("disk.bin", content);
  const pFileEntry memory =
      AddMemoryFile("memory.bin", 5000, [&](void*, pFileEntry, std::uint32_t position, void* to, std::uint32_t& size) {
        size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(content.size()) - position);
        std::memcpy(to, content.data() + position, size);
      });
  RunPass();
  EXPECT_EQ(memory->ReferenceEntry, disk);
  ASSERT_GT(kp.Prepare(), 0u);
  EXPECT_EQ(memory->Address, disk->Address);
}

TEST_F(SmartReferences, AnAbortWhileHashingEndsThePassFailedAndIdle) {
  constexpr std::uint32_t kLarge = 64u << 20;
  const TGetDataEvent abortingData = [&](void*, pFileEntry, std::uint32_t, void* to, std::uint32_t& size) {
    std::memset(to, 0, size);
    kp.AbortOperation();
  };
  AddMemoryFile("first.bin", kLarge, abortingData);
  AddMemoryFile("second.bin", kLarge, abortingData);
  RunPass();
  EXPECT_TRUE(failed);
  EXPECT_EQ(kp.ErrorNumber(), 4u);
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
  EXPECT_TRUE(Shares().empty());
  EXPECT_EQ(reportedSaving, 0);
}

}  // namespace
}  // namespace kilnor
