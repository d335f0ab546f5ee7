// The state directory: defaults on first use, state kept between runs,
// changes made by another process, damaged files, sparse data, export.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "EmulatorTestSupport.h"
#include "StateStore.h"

namespace velmor::emu::test {
namespace {

class PersistenceTest : public ::testing::Test {
 protected:
  TAnswer Run(TEmulator& Emulator, const TBytes& Cdb, TDirection Direction = TDirection::None, TBytes Data = {}) {
    TAnswer answer;
    answer.Result = Emulator.Execute(0, Cdb, Direction, Data);
    answer.Data = std::move(Data);
    return answer;
  }
  static TBytes Filled(std::uint16_t Blocks, std::uint8_t Value) {
    return TBytes(std::size_t{Blocks} * kBlockSize, Value);
  }
  std::uint32_t NextWritable(TEmulator& Emulator) {
    TAnswer answer = Run(Emulator, TCdb::TrackInformation(255), TDirection::In, TBytes(48));
    EXPECT_TRUE(answer.Good());
    return Get32(answer.Data, 12);
  }
  void Insert(TEmulator& Emulator, TMediumKind Kind) {
    std::string error;
    ASSERT_TRUE(Emulator.WithDrive(0, [&](TDrive& d) { return d.InsertNew(Kind, 1 << 16, {}, error); })) << error;
  }
  // A DVD+R with 32 blocks of 0x5A recorded and synchronised in Directory,
  // whose emulator is then closed; the path of its data file.
  std::string RecordedDisc(const std::string& Directory) {
    TEmulator emulator(Directory);
    Insert(emulator, TMediumKind::DvdPlusR);
    EXPECT_TRUE(Run(emulator, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 0x5A)).Good());
    EXPECT_TRUE(Run(emulator, TCdb::SynchronizeCache()).Good());
    return emulator.WithDrive(0, [](TDrive& d) { return d.DataPath(d.Medium()->Id); });
  }

  TTempDir Dir;
};

TEST_F(PersistenceTest, FirstUseCreatesOneDriveWithABlankDvdPlusRw) {
  TEmulator emulator(Dir.Path);
  ASSERT_TRUE(emulator.Ready()) << emulator.Error();
  ASSERT_EQ(emulator.DriveCount(), 1u);
  TAnswer config = Run(emulator, TCdb::GetConfiguration(2, 0), TDirection::In, TBytes(64));
  EXPECT_EQ(Get16(config.Data, 6), 0x1A);
  EXPECT_TRUE(std::filesystem::exists(Dir.Path + "/drive-0.json"));
}

TEST_F(PersistenceTest, SynchronisedRecordingSurvivesAReopen) {
  {
    TEmulator emulator(Dir.Path);
    Insert(emulator, TMediumKind::DvdPlusR);
    ASSERT_TRUE(Run(emulator, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 0x5A)).Good());
    ASSERT_TRUE(Run(emulator, TCdb::SynchronizeCache()).Good());
  }
  TEmulator reopened(Dir.Path);
  EXPECT_EQ(NextWritable(reopened), 32u);
  TAnswer read = Run(reopened, TCdb::Read10(31, 1), TDirection::In, TBytes(kBlockSize));
  ASSERT_TRUE(read.Good());
  EXPECT_EQ(read.Data, Filled(1, 0x5A));
}

TEST_F(PersistenceTest, UnsynchronisedWritesAreCommittedWhenTheHostGoesAway) {
  {
    TEmulator emulator(Dir.Path);
    Insert(emulator, TMediumKind::DvdPlusR);
    ASSERT_TRUE(Run(emulator, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 1)).Good());
  }
  TEmulator reopened(Dir.Path);
  EXPECT_EQ(NextWritable(reopened), 32u);
}

TEST_F(PersistenceTest, ConsumedFaultsStayConsumed) {
  {
    TEmulator emulator(Dir.Path);
    TFault fault;
    fault.Type = TFaultType::FailCommand;
    fault.Opcode = 0x00;
    fault.Sense = sense::Make(2, 0x04, 0x00);
    TFault later = fault;
    later.Type = TFaultType::Busy;
    emulator.WithDrive(0, [&](TDrive& d) {
      d.ArmFault(fault);
      d.ArmFault(later);
    });
    EXPECT_FALSE(Run(emulator, TCdb::TestUnitReady()).Good());
  }
  TEmulator reopened(Dir.Path);
  EXPECT_EQ(reopened.WithDrive(0, [](TDrive& d) { return d.Faults().Armed().size(); }), 1u);
  EXPECT_EQ(Run(reopened, TCdb::TestUnitReady()).Result.Status, kStatusBusy);
}

TEST_F(PersistenceTest, AnotherProcessChangingTheMediumIsNoticed) {
  TEmulator library(Dir.Path);
  TEmulator helper(Dir.Path);
  ASSERT_TRUE(Run(library, TCdb::TestUnitReady()).Good());
  Insert(helper, TMediumKind::CdR);
  TAnswer config = Run(library, TCdb::GetConfiguration(2, 0), TDirection::In, TBytes(64));
  EXPECT_EQ(Get16(config.Data, 6), 0x09);
  helper.WithDrive(0, [](TDrive& d) { ASSERT_TRUE(d.OpenTray(false)); });
  EXPECT_TRUE(Run(library, TCdb::TestUnitReady()).Failed(sense::NoMediumTrayOpen()));
}

TEST_F(PersistenceTest, ChangingASettingMidBurnKeepsWhatTheDriveRecorded) {
  TEmulator library(Dir.Path);
  TEmulator helper(Dir.Path);
  Insert(library, TMediumKind::DvdPlusR);
  ASSERT_TRUE(Run(library, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 1)).Good());
  helper.WithDrive(0, [](TDrive& d) {
    TDriveConfig config = d.Config();
    config.BufferKiB = 4096;
    d.UpdateConfig(config);
  });
  EXPECT_TRUE(Run(library, TCdb::Write10(32, 32), TDirection::Out, Filled(32, 2)).Good());
  TAnswer buffer = Run(library, TCdb::BufferCapacity(), TDirection::In, TBytes(12));
  EXPECT_EQ(Get32(buffer.Data, 4), 4096u * 1024) << "the new setting applies";
}

TEST_F(PersistenceTest, DamagedStateFilesLeaveTheDriveOutWithoutCrashing) {
  { TEmulator first(Dir.Path); }
  const std::string state = Dir.Path + "/drive-0.json";
  const std::pair<const char*, std::string> damages[] = {
      {"truncated", "{\"drive\": {\"vendor\": \"X"},
      {"track past the end", R"({"drive": {}, "medium": {"id": "ab", "kind": "cd-r", "capacity": 100,
          "tracks": [{"number": 1, "session": 1, "start": 90, "recorded": 50}]}})"},
      {"unknown kind", R"({"drive": {}, "medium": {"id": "ab", "kind": "cd-x", "capacity": 100}})"},
      {"path in the id", R"({"drive": {}, "medium": {"id": "../../etc", "kind": "cd-r", "capacity": 100}})"},
  };
  for (const auto& [what, text] : damages) {
    SCOPED_TRACE(what);
    std::ofstream(state, std::ios::trunc) << text;
    TEmulator emulator(Dir.Path);
    EXPECT_TRUE(emulator.Ready());
    EXPECT_EQ(emulator.DriveCount(), 0u);
  }
}

// The data a disc recorded lives only in its data file: without it, or with
// less of it than the disc recorded, the disc is refused, never read back
// as zeros; the file is left as it was found.
TEST_F(PersistenceTest, ADiscWhoseDataIsGoneIsRefused) {
  const std::pair<const char*, std::function<void(const std::string&)>> losses[] = {
      {"missing", [](const std::string& Path) { std::filesystem::remove(Path); }},
      {"shorter than recorded", [](const std::string& Path) { std::filesystem::resize_file(Path, 31 * kBlockSize); }},
      {"empty", [](const std::string& Path) { std::filesystem::resize_file(Path, 0); }},
  };
  for (const auto& [what, lose] : losses) {
    SCOPED_TRACE(what);
    const TTempDir dir;
    const std::string dataPath = RecordedDisc(dir.Path);
    lose(dataPath);
    const auto left = std::filesystem::exists(dataPath) ? std::filesystem::file_size(dataPath) : 0;
    {
      TEmulator reopened(dir.Path);
      EXPECT_EQ(reopened.DriveCount(), 0u) << "the drive is left out with its disc";
    }
    EXPECT_EQ(std::filesystem::exists(dataPath) ? std::filesystem::file_size(dataPath) : 0, left);
  }
}

TEST_F(PersistenceTest, ADiscWithAllItRecordedIsKeptEvenWhenItsFileIsShort) {
  std::filesystem::resize_file(RecordedDisc(Dir.Path), 32 * kBlockSize);
  TEmulator reopened(Dir.Path);
  ASSERT_EQ(reopened.DriveCount(), 1u);
  TAnswer read = Run(reopened, TCdb::Read10(31, 1), TDirection::In, TBytes(kBlockSize));
  ASSERT_TRUE(read.Good());
  EXPECT_EQ(read.Data, Filled(1, 0x5A));
}

// A folder where a state file's new version would go makes every save fail,
// even for root: each change says so, and a command that committed to the
// disc fails rather than report what will not survive.
TEST_F(PersistenceTest, ASaveThatFailsIsReported) {
  TEmulator emulator(Dir.Path);
  Insert(emulator, TMediumKind::DvdPlusR);
  ASSERT_EQ(emulator.TakeProblem(), "");
  const std::string pid = std::to_string(::getpid());
  std::filesystem::create_directories(Dir.Path + "/drive-0.json.new." + pid + "/blocked");
  std::filesystem::create_directories(Dir.Path + "/drive-0.faults.json.new." + pid + "/blocked");

  emulator.WithDrive(0, [](TDrive& d) { d.ArmFault(TFault{TFaultType::Busy, 0x00, 1, 0, {}}); });
  EXPECT_NE(emulator.TakeProblem().find("cannot save the state of drive 0"), std::string::npos);
  emulator.WithDrive(0, [](TDrive& d) { d.ClearFaults(); });
  EXPECT_NE(emulator.TakeProblem(), "");

  ASSERT_TRUE(Run(emulator, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 0x5A)).Good());
  EXPECT_TRUE(Run(emulator, TCdb::SynchronizeCache()).Failed(sense::Make(0x4, 0x44, 0x00)));
  EXPECT_EQ(emulator.TakeProblem(), "") << "reported once, by the command";
}

TEST_F(PersistenceTest, LeftoverHalfWrittenFileIsIgnored) {
  { TEmulator first(Dir.Path); }
  std::ofstream(Dir.Path + "/drive-0.json.new.4242") << "{\"drive\": ";
  TEmulator emulator(Dir.Path);
  EXPECT_EQ(emulator.DriveCount(), 1u);
}

TEST_F(PersistenceTest, LargeMediaCostOnlyWhatIsWritten) {
  TEmulator emulator(Dir.Path);
  std::string error;
  std::string dataPath;
  ASSERT_TRUE(emulator.WithDrive(0, [&](TDrive& d) {
    const bool ok = d.InsertNew(TMediumKind::BdR, std::nullopt, {}, error);
    dataPath = d.DataPath(d.Medium()->Id);
    return ok;
  }));
  ASSERT_TRUE(Run(emulator, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 7)).Good());
  ASSERT_TRUE(Run(emulator, TCdb::SynchronizeCache()).Good());
  struct stat info {};
  ASSERT_EQ(::stat(dataPath.c_str(), &info), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), 12'219'392ull * kBlockSize);
  EXPECT_LT(static_cast<std::uint64_t>(info.st_blocks) * 512, 16ull << 20) << "a 25 GB disc is sparse";
}

TEST_F(PersistenceTest, ExportWritesTheRecordedDataAsAnImage) {
  TEmulator emulator(Dir.Path);
  Insert(emulator, TMediumKind::DvdPlusR);
  ASSERT_TRUE(Run(emulator, TCdb::Write10(0, 32), TDirection::Out, Filled(32, 0x11)).Good());
  ASSERT_TRUE(Run(emulator, TCdb::Write10(32, 16), TDirection::Out, Filled(16, 0x22)).Good());
  const std::string image = Dir.Path + "/out.iso";
  std::string error;
  ASSERT_TRUE(emulator.WithDrive(0, [&](TDrive& d) { return d.ExportImage(image, error); })) << error;
  std::ifstream in(image, std::ios::binary);
  TBytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 48u * kBlockSize);
  EXPECT_EQ(bytes.front(), 0x11);
  EXPECT_EQ(bytes.back(), 0x22);
  EXPECT_FALSE(std::filesystem::exists(image + ".partial"));
  EXPECT_FALSE(emulator.WithDrive(0, [&](TDrive& d) { return d.ExportImage(Dir.Path + "/no/such/dir.iso", error); }));
}

TEST_F(PersistenceTest, InsertingAnImageGivesARecordedDisc) {
  const std::string image = Dir.Path + "/in.iso";
  std::ofstream(image, std::ios::binary) << std::string(40 * kBlockSize + 100, 'v');
  TEmulator emulator(Dir.Path);
  std::string error;
  ASSERT_TRUE(emulator.WithDrive(0, [&](TDrive& d) { return d.InsertNew(TMediumKind::CdRom, std::nullopt, image, error); }));
  TAnswer capacity = Run(emulator, TCdb::ReadCapacity(), TDirection::In, TBytes(8));
  EXPECT_EQ(Get32(capacity.Data, 0), 40u) << "41 blocks, the last one partly filled";
  EXPECT_FALSE(emulator.WithDrive(0, [&](TDrive& d) {
    return d.InsertNew(TMediumKind::CdRom, std::nullopt, Dir.Path + "/missing.iso", error);
  }));
}

}  // namespace
}  // namespace velmor::emu::test
