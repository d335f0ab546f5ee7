// Processes sharing one state directory: they take turns with its files,
// none waits for ever, and a drive one host is using answers another host
// "not ready, operation in progress" until it has been idle.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "EmulatorTestSupport.h"
#include "StateLock.h"

namespace velmor::emu::test {
namespace {

using namespace std::chrono_literals;

const TSense kInUse = sense::Make(0x2, 0x04, 0x07);

std::string HelperCommand(const std::string& Directory, const std::string& Arguments) {
  return std::string(VELMOR_BIN_DIR) + "/velmor-emulator --dir '" + Directory + "' " + Arguments + " 2>&1";
}

int ExitCode(FILE* Pipe, std::string* Output = nullptr) {
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, Pipe))
    if (Output) *Output += chunk;
  const int status = ::pclose(Pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StateLockTest : public ::testing::Test {
 protected:
  TAnswer Send(TEmulator& Emulator, const TBytes& Cdb, TDirection Direction = TDirection::None, TBytes Data = {}) {
    TAnswer answer;
    answer.Result = Emulator.Execute(0, Cdb, Direction, Data);
    return answer;
  }
  TTempDir Dir;
};

// Without the lock, each insert removed the disc it had read and wrote its
// own state: the last rename won and the other discs' data files stayed.
TEST_F(StateLockTest, ConcurrentInsertsLeaveOneDiscAndNoStrayDataFile) {
  { TEmulator first(Dir.Path); }
  std::vector<FILE*> runs;
  for (int i = 0; i < 8; ++i) runs.push_back(::popen(HelperCommand(Dir.Path, "insert cd-rw").c_str(), "r"));
  for (FILE* run : runs) {
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(ExitCode(run), 0);
  }
  std::vector<std::string> dataFiles;
  for (const auto& entry : std::filesystem::directory_iterator(Dir.Path))
    if (entry.path().extension() == ".data") dataFiles.push_back(entry.path().filename());
  ASSERT_EQ(dataFiles.size(), 1u);
  TEmulator emulator(Dir.Path);
  const std::string id = emulator.WithDrive(0, [](TDrive& d) { return d.Medium()->Id; });
  EXPECT_EQ(dataFiles[0], "medium-" + id + ".data");
}

TEST_F(StateLockTest, AHelperWaitsForTheHolderAndGivesUpInTime) {
  { TEmulator first(Dir.Path); }
  std::optional<TDirectoryLock> held(std::in_place, Dir.Path);
  ASSERT_TRUE(held->Held());
  const auto started = std::chrono::steady_clock::now();
  FILE* waiting = ::popen(HelperCommand(Dir.Path, "fault add busy --count 1").c_str(), "r");
  ASSERT_NE(waiting, nullptr);
  std::this_thread::sleep_for(300ms);
  held.reset();
  EXPECT_EQ(ExitCode(waiting), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);

  TDirectoryLock holder(Dir.Path);
  std::thread other([&] {
    const auto asked = std::chrono::steady_clock::now();
    const TDirectoryLock late(Dir.Path, 50ms);
    EXPECT_FALSE(late.Held());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
  });
  other.join();
  TDirectoryLock again(Dir.Path, 0ms);
  EXPECT_TRUE(again.Held()) << "the holding thread takes it again at once";
}

TEST_F(StateLockTest, ADriveInUseByOneHostAnswersAnotherInProgress) {
  TEmulator first(Dir.Path, TEmulator::TRole::Host);
  TEmulator second(Dir.Path, TEmulator::TRole::Host);
  TEmulator bench(Dir.Path);
  ASSERT_TRUE(Send(first, TCdb::TestUnitReady()).Good());
  EXPECT_TRUE(Send(second, TCdb::TestUnitReady()).Failed(kInUse));
  EXPECT_TRUE(Send(second, TCdb::Inquiry(), TDirection::In, TBytes(96)).Good()) << "still listed";
  EXPECT_TRUE(second.InUseElsewhere(0));
  EXPECT_FALSE(first.InUseElsewhere(0));

  // The helper, a person at the drive, is never refused.
  bench.WithDrive(0, [](TDrive& d) { d.ArmFault(TFault{TFaultType::Busy, 0x00, 1, 0, {}}); });
  EXPECT_EQ(bench.TakeProblem(), "");
  bench.WithDrive(0, [](TDrive& d) { d.ClearFaults(); });

  // Recorded but not committed: the claim stays however long it waits.
  ASSERT_TRUE(Send(first, TCdb::Write10(0, 16), TDirection::Out, TBytes(16 * kBlockSize, 1)).Good());
  first.ReleaseIdleClaims(0s);
  EXPECT_TRUE(Send(second, TCdb::TestUnitReady()).Failed(kInUse));
  ASSERT_TRUE(Send(first, TCdb::SynchronizeCache()).Good());
  first.ReleaseIdleClaims(1h);
  EXPECT_TRUE(Send(second, TCdb::TestUnitReady()).Failed(kInUse)) << "not idle long enough";
  first.ReleaseIdleClaims(0s);
  EXPECT_TRUE(Send(second, TCdb::TestUnitReady()).Good());
  EXPECT_TRUE(Send(first, TCdb::TestUnitReady()).Failed(kInUse));
}

// velmor-cli erase while this process holds the drive: refused, the drive
// named as busy, and the disc untouched.
TEST_F(StateLockTest, ASecondEraseOnADriveInUseIsRefused) {
  TEmulator host(Dir.Path, TEmulator::TRole::Host);
  std::string error;
  ASSERT_TRUE(host.WithDrive(0, [&](TDrive& d) { return d.InsertNew(TMediumKind::CdRw, std::nullopt, {}, error); }));
  ASSERT_TRUE(Send(host, TCdb::TestUnitReady()).Good());
  const std::string command = "VELMOR_EMULATOR_DIR='" + Dir.Path + "' " + VELMOR_BIN_DIR + "/velmor-cli erase --aspi " +
                              VELMOR_BIN_DIR + "/libvelmor-recorder.so 2>&1";
  std::string output;
  EXPECT_EQ(ExitCode(::popen(command.c_str(), "r"), &output), 1);
  EXPECT_NE(output.find("sense 2/04/07: logical unit not ready, operation in progress"), std::string::npos)
      << output;
  EXPECT_EQ(output.find("ERASE DONE."), std::string::npos) << output;
}

}  // namespace
}  // namespace velmor::emu::test
