// Verify after burning on the emulated recorder: files read back and
// compared with their sources, a medium damaged after the burn, sources
// changed or gone after it, abort and stop at the first failure, and the
// entries that have no data of their own to check.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "BurnFixtures.h"
#include "engine/Notifications.h"
#include "engine/image/Hash.h"
#include "engine/write/ErrorTexts.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

// SmallTree's files, all of which a verify of its session checks.
constexpr std::size_t kSmallTreeFiles = 6;

struct TFileEvent {
  std::int32_t FileId;
  bool Failed;
};

// The data file of the emulated medium last written to.
fs::path MediumDataFile() {
  fs::path newest;
  for (const fs::directory_entry& item : fs::directory_iterator(EmulatorDirectory())) {
    const std::string name = item.path().filename().string();
    if (!name.starts_with("medium-") || item.path().extension() != ".data") continue;
    if (newest.empty() || item.last_write_time() > fs::last_write_time(newest)) newest = item.path();
  }
  return newest;
}

// Inverts every byte of one sector of the medium, as a disc gone bad there
// would read back.
void DamageSector(std::uint32_t Sector) {
  std::fstream data(MediumDataFile(), std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(data) << MediumDataFile();
  std::string bytes(2048, '\0');
  data.seekg(std::streamoff{Sector} * 2048);
  data.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  for (char& byte : bytes) byte = static_cast<char>(~byte);
  data.seekp(std::streamoff{Sector} * 2048);
  data.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(data);
}

// Sets a file's last-write time Seconds after what it is.
void TouchLater(const fs::path& File, int Seconds) {
  fs::last_write_time(File, fs::last_write_time(File) + std::chrono::seconds(Seconds));
}

class VerifyTest : public BurnTest {
 protected:
  void SetUp() override {
    BurnTest::SetUp();
    kp.SetOnVerifyDone([this](void*, std::uint8_t, std::int32_t FileId, bool Failed) {
      if (FileId != kVerifySummary && OnFileEvent) OnFileEvent();
      std::lock_guard lock(mutex_);
      if (FileId == kVerifySummary) {
        ++Finals;
        FinalFailed = Failed;
      } else {
        Events.push_back({FileId, Failed});
      }
      ended_.notify_all();
    });
  }

  // Runs VerifyDisc and waits for its final event.
  [[nodiscard]] testing::AssertionResult Verify(bool StopOnMismatch = false, bool EveryFile = true) {
    Events.clear();
    Finals = 0;
    if (!kp.VerifyDisc(StopOnMismatch, EveryFile)) return testing::AssertionFailure() << "not started";
    std::unique_lock lock(mutex_);
    const bool ended = ended_.wait_for(lock, std::chrono::seconds(60), [&] { return Finals > 0; });
    lock.unlock();
    kp.Workers.StopAndJoinAll();
    if (!ended) return testing::AssertionFailure() << "no final event";
    return testing::AssertionSuccess();
  }

  [[nodiscard]] std::int32_t FileIdOf(std::u16string_view Name) const {
    for (std::int32_t id = 0; id < static_cast<std::int32_t>(kp.FilesCount()); ++id)
      if (kp.FileName(id) == Name && !kp.CDFiles.Files[static_cast<std::size_t>(id)]->Imported) return id;
    ADD_FAILURE() << "no entry of that name";
    return -1;
  }

  // The disc sector holding the Index-th sector of a file just burned.
  [[nodiscard]] std::uint32_t SectorOf(std::u16string_view Name, std::uint32_t Index = 0) const {
    const std::int32_t id = FileIdOf(Name);
    return kp.CDFiles.FirstWritableSector + kp.CDFiles.FirstDataSector +
           static_cast<std::uint32_t>(kp.FileAddress(id) / 2048) + Index;
  }

  [[nodiscard]] std::vector<TVerifyOutcome> Outcomes() const {
    std::vector<TVerifyOutcome> outcomes;
    for (const TVerifyFinding& finding : kp.LastVerify().Findings) outcomes.push_back(finding.Outcome);
    return outcomes;
  }

  [[nodiscard]] const TVerifyFinding* FindingOf(std::u16string_view Name) const {
    const std::int32_t id = FileIdOf(Name);
    for (const TVerifyFinding& finding : kp.LastVerify().Findings)
      if (finding.FileId == id) return &finding;
    return nullptr;
  }

  std::vector<TFileEvent> Events;
  int Finals = 0;
  bool FinalFailed = false;
  // Runs on the worker at each file's event, before it is recorded.
  std::function<void()> OnFileEvent;

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
};

struct TMediumCase {
  const char* Name;
  const char* Kind;
  bool SecondSession;  // the verified session is appended to an earlier one
};

class VerifyOnMedium : public VerifyTest, public testing::WithParamInterface<TMediumCase> {
 protected:
  // Burns SmallTree, and with SecondSession a second tree over it with the
  // first session imported; the compilation is then the last one burned.
  void BurnSession() {
    InsertMedium(GetParam().Kind);
    const fs::path first = SmallSource();
    ASSERT_TRUE(Burn(first));
    if (!GetParam().SecondSession) return;
    const fs::path second = scratch.path() / "second";
    SmallTree(second);
    WriteFile(second / "data" / "70000.bin", Pattern(70000, 9));
    WriteFile(second / "new.txt", "added by the second session\n");
    ASSERT_TRUE(PrepareCompilation(second));
    ASSERT_GE(kp.ImportSession(0, "\\"), 1) << kp.LastImport().Reason;
    ASSERT_NE(kp.Prepare(), 0u);
    ASSERT_TRUE(Run([this] { return kp.Burn(); }) && !WriteFailed) << Error;
  }

  [[nodiscard]] std::size_t FilesChecked() const { return kSmallTreeFiles + (GetParam().SecondSession ? 1 : 0); }
};

TEST_P(VerifyOnMedium, EveryFileOfTheSessionMatches) {
  ASSERT_NO_FATAL_FAILURE(BurnSession());
  ASSERT_TRUE(Verify());
  ASSERT_EQ(Events.size(), FilesChecked());
  for (const TFileEvent& event : Events) {
    EXPECT_FALSE(event.Failed) << event.FileId;
    EXPECT_FALSE(kp.CDFiles.Files[static_cast<std::size_t>(event.FileId)]->Imported);
  }
  EXPECT_EQ(Finals, 1);
  EXPECT_FALSE(FinalFailed);
  EXPECT_EQ(kp.LastVerify().Checked, FilesChecked());
  EXPECT_EQ(kp.LastVerify().Failed, 0u);
  EXPECT_GT(kp.VerifySize(), 0u);
  EXPECT_EQ(kp.VerifyProgress(), kp.VerifySize());
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

TEST_P(VerifyOnMedium, ADamagedSectorFailsExactlyItsFile) {
  ASSERT_NO_FATAL_FAILURE(BurnSession());
  ASSERT_NO_FATAL_FAILURE(DamageSector(SectorOf(u"70000.bin", 1)));
  ASSERT_TRUE(Verify(false, false));
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].FileId, FileIdOf(u"70000.bin"));
  EXPECT_TRUE(Events[0].Failed);
  EXPECT_TRUE(FinalFailed);
  EXPECT_EQ(kp.LastVerify().Checked, FilesChecked());
  EXPECT_EQ(kp.LastVerify().Failed, 1u);
  const TVerifyFinding* finding = FindingOf(u"70000.bin");
  ASSERT_NE(finding, nullptr);
  EXPECT_EQ(finding->Outcome, TVerifyOutcome::DiscDiffers);
  EXPECT_TRUE(finding->Message.starts_with("the disc's copy differs from the source")) << finding->Message;
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

INSTANTIATE_TEST_SUITE_P(Media, VerifyOnMedium,
                         testing::Values(TMediumCase{"CDR", "cd-r", false}, TMediumCase{"DVDPlusRW", "dvd+rw", false},
                                         TMediumCase{"BDRSecondSession", "bd-r", true}),
                         TNamedCase());

TEST_F(VerifyTest, StopOnMismatchEndsAtTheFirstFailedFile) {
  InsertMedium("dvd+rw");
  ASSERT_TRUE(Burn(SmallSource()));
  ASSERT_NO_FATAL_FAILURE(DamageSector(SectorOf(u"2049.bin")));
  ASSERT_NO_FATAL_FAILURE(DamageSector(SectorOf(u"100000.bin")));
  ASSERT_TRUE(Verify(true, true));
  ASSERT_FALSE(Events.empty());
  EXPECT_TRUE(Events.back().Failed);
  EXPECT_EQ(std::count_if(Events.begin(), Events.end(), [](const TFileEvent& e) { return e.Failed; }), 1);
  EXPECT_TRUE(FinalFailed);
  EXPECT_TRUE(kp.LastVerify().Stopped);
  EXPECT_LT(kp.LastVerify().Checked, kSmallTreeFiles);
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

TEST_F(VerifyTest, AnUnreadableSectorFailsItsFileWithTheDrivesReasonAndTheRestIsChecked) {
  InsertMedium("dvd+rw");
  ASSERT_TRUE(Burn(SmallSource()));
  ASSERT_EQ(Emulator("fault add fail-command --opcode 28 --count 1 --sense 3/11/00"), 0);
  ASSERT_TRUE(Verify());
  EXPECT_TRUE(FinalFailed);
  EXPECT_EQ(kp.LastVerify().Checked, kSmallTreeFiles);
  EXPECT_EQ(kp.LastVerify().Failed, 1u);
  const std::vector<TVerifyOutcome> outcomes = Outcomes();
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), TVerifyOutcome::DiscUnreadable), 1);
  for (const TVerifyFinding& finding : kp.LastVerify().Findings) {
    if (finding.Outcome == TVerifyOutcome::DiscUnreadable) {
      EXPECT_NE(finding.Message.find("sense 3/11/00"), std::string::npos) << finding.Message;
    }
  }
  EXPECT_EQ(kp.VerifyProgress(), kp.VerifySize());
}

// A drive that answers busy or "becoming ready" for a while is asked again,
// as a burn asks it, rather than the file being failed as unreadable.
TEST_F(VerifyTest, ReadsTheDriveAnswersBusyOrNotReadyForAreAskedAgain) {
  InsertMedium("dvd+rw");
  ASSERT_TRUE(Burn(SmallSource()));
  for (const char* fault : {"busy --opcode 28 --count 20", "not-ready --opcode 28 --count 20"}) {
    ASSERT_EQ(Emulator(std::string("fault add ") + fault), 0);
    ASSERT_TRUE(Verify()) << fault;
    EXPECT_FALSE(FinalFailed) << fault;
    EXPECT_EQ(kp.LastVerify().Checked, kSmallTreeFiles) << fault;
    EXPECT_EQ(kp.LastVerify().Failed, 0u) << fault;
  }
}

TEST_F(VerifyTest, AbortEndsWithTheFinalEventAndTheStatusIdle) {
  InsertMedium("dvd+rw");
  ASSERT_TRUE(Burn(SmallSource()));
  OnFileEvent = [this] { kp.AbortOperation(); };
  ASSERT_TRUE(Verify());
  EXPECT_EQ(Finals, 1);
  EXPECT_TRUE(FinalFailed);
  EXPECT_TRUE(kp.LastVerify().Aborted);
  EXPECT_EQ(Events.size(), 1u);
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
  EXPECT_EQ(kp.ErrorNumber(), erAborted);
}

TEST_F(VerifyTest, AnEarlierAbortDoesNotStopTheNextVerify) {
  InsertMedium("dvd+rw");
  ASSERT_TRUE(Burn(SmallSource()));
  kp.AbortOperation();
  ASSERT_TRUE(Verify());
  EXPECT_FALSE(FinalFailed);
  EXPECT_EQ(kp.LastVerify().Checked, kSmallTreeFiles);
  EXPECT_EQ(kp.ErrorNumber(), erNone);
}

struct TSourceCase {
  const char* Name;
  const char* File;  // below the source folder; large.bin is hashed alongside its read-back
  void (*Change)(const fs::path& File);
  TVerifyOutcome Outcome;
  const char* Message;  // how the finding's message begins
};

class VerifySourceChanged : public VerifyTest, public testing::WithParamInterface<TSourceCase> {};

TEST_P(VerifySourceChanged, IsReportedOnTheSourcesSideAndThePassCompletes) {
  InsertMedium("dvd+rw");
  const fs::path src = SmallSource();
  WriteFile(src / "large.bin", Pattern(3 << 20, 4));
  ASSERT_TRUE(Burn(src));
  const fs::path file = src / GetParam().File;
  GetParam().Change(file);
  ASSERT_TRUE(Verify());
  EXPECT_TRUE(FinalFailed);
  EXPECT_EQ(kp.LastVerify().Checked, kSmallTreeFiles + 1);
  EXPECT_EQ(kp.LastVerify().Failed, 1u);
  const TVerifyFinding* finding = FindingOf(file.filename().u16string());
  ASSERT_NE(finding, nullptr);
  EXPECT_EQ(finding->Outcome, GetParam().Outcome);
  EXPECT_TRUE(finding->Message.starts_with(GetParam().Message)) << finding->Message;
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, VerifySourceChanged,
    testing::Values(
        TSourceCase{"Deleted", "data/2049.bin", [](const fs::path& file) { fs::remove(file); },
                    TVerifyOutcome::SourceUnreadable, "the source cannot be read (No such file or directory)"},
        TSourceCase{"LargeDeleted", "large.bin", [](const fs::path& file) { fs::remove(file); },
                    TVerifyOutcome::SourceUnreadable, "the source cannot be read (No such file or directory)"},
        TSourceCase{"Grown", "data/2049.bin", [](const fs::path& file) { WriteFile(file, Pattern(3000, 2)); },
                    TVerifyOutcome::SourceChanged, "the source was changed after it was recorded"},
        TSourceCase{"LargeRewrittenLater", "large.bin",
                    [](const fs::path& file) {
                      WriteFile(file, Pattern(3 << 20, 5));
                      TouchLater(file, 10);
                    },
                    TVerifyOutcome::SourceChanged, "the source was changed after it was recorded"},
        TSourceCase{"RewrittenLater", "data/2049.bin",
                    [](const fs::path& file) {
                      WriteFile(file, Pattern(2049, 5));
                      TouchLater(file, 10);
                    },
                    TVerifyOutcome::SourceChanged, "the source was changed after it was recorded"},
        // Same size and the recorded time: nothing says the source changed.
        TSourceCase{"RewrittenWithItsOldTime", "data/2049.bin",
                    [](const fs::path& file) {
                      const fs::file_time_type time = fs::last_write_time(file);
                      WriteFile(file, Pattern(2049, 5));
                      fs::last_write_time(file, time);
                    },
                    TVerifyOutcome::DiscDiffers, "the disc's copy differs from the source"}),
    TNamedCase());

TEST_F(VerifyTest, ADigestKeptFromAnEarlierPassIsUsedWithoutReadingTheSource) {
  InsertMedium("dvd+rw");
  const fs::path src = SmallSource();
  ASSERT_TRUE(Burn(src));
  const std::string content = Pattern(100000, 3);
  TMD5Stream md5;
  md5.Write(content.data(), content.size());
  kp.CDFiles.Files[static_cast<std::size_t>(FileIdOf(u"100000.bin"))]->Extras.edit().Hash = md5.DigestString();
  fs::remove(src / "data" / "deeper" / "100000.bin");
  ASSERT_TRUE(Verify());
  EXPECT_FALSE(FinalFailed);
  EXPECT_EQ(kp.LastVerify().Failed, 0u);
}

TEST_F(VerifyTest, EmptyFilesMatchWithoutReadingTheDisc) {
  InsertMedium("dvd+rw");
  const fs::path src = scratch.path() / "empty";
  WriteFile(src / "one.txt", "");
  WriteFile(src / "two" / "two.txt", "");
  ASSERT_TRUE(Burn(src));
  // Any READ (10) would fail.
  ASSERT_EQ(Emulator("fault add fail-command --opcode 28 --count 1 --sense 3/11/00"), 0);
  ASSERT_TRUE(Verify());
  EXPECT_EQ(Events.size(), 2u);
  EXPECT_FALSE(FinalFailed);
  EXPECT_EQ(kp.VerifyProgress(), 0u);
}

TEST_F(VerifyTest, EntriesWithoutDataOfTheirOwnAreNotChecked) {
  InsertMedium("dvd+rw");
  const fs::path src = SmallSource();
  WriteFile(src / "twin" / "copy.bin", Pattern(70000, 1));
  kp.ClearAll();
  ASSERT_NE(kp.InsertDirW(u"\\", src.u16string(), u"*", true, false), nullptr);
  TWin32FindDataA memory;
  std::snprintf(memory.cFileName, sizeof memory.cFileName, "memory.bin");
  memory.nFileSizeLow = 4096;
  ASSERT_NE(kp.InsertMemoryFile("\\", memory,
                                [](void*, pFileEntry, std::uint32_t, void* buffer, std::uint32_t& size) {
                                  std::memset(buffer, 'm', size);
                                }),
            nullptr);
  // A twin that shares the recorded data of a file of the same content.
  const std::int32_t twin = FileIdOf(u"copy.bin");
  kp.CDFiles.Files[static_cast<std::size_t>(twin)]->ReferenceEntry =
      kp.CDFiles.Files[static_cast<std::size_t>(FileIdOf(u"70000.bin"))].get();
  ASSERT_NE(kp.Prepare(), 0u);
  ASSERT_TRUE(Run([this] { return kp.Burn(); }) && !WriteFailed) << Error;
  ASSERT_TRUE(Verify());
  EXPECT_EQ(Events.size(), kSmallTreeFiles);
  for (const TFileEvent& event : Events) {
    EXPECT_NE(event.FileId, twin);
    EXPECT_NE(kp.FileName(event.FileId), u"memory.bin");
  }
  EXPECT_FALSE(FinalFailed);
}

TEST_F(VerifyTest, IsRefusedWithoutTheLayoutJustBurned) {
  kp.ClearAll();
  EXPECT_FALSE(kp.VerifyDisc(false, true));
  EXPECT_EQ(kp.ErrorNumber(), erNotPrepared);
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

}  // namespace
}  // namespace kilnor::test
