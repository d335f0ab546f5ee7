#include "BurnFixtures.h"

#include <chrono>

#include "engine/image/Tree.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {

namespace fs = std::filesystem;

void SmallTree(const fs::path& src) {
  WriteFile(src / "readme.txt", "a burned file\n");
  WriteFile(src / "data" / "70000.bin", Pattern(70000, 1));
  WriteFile(src / "data" / "2049.bin", Pattern(2049, 2));
  WriteFile(src / "data" / "deeper" / "100000.bin", Pattern(100000, 3));
  WriteFile(src / "Grüße.txt", "gruss");
  WriteFile(src / "empty.txt", "");
}

void BurnTest::SetUp() {
  ASSERT_EQ(Emulator("reset"), 0);
  ASSERT_TRUE(kp.InitializeASPI(true, kBinDir + "/libvelmor-recorder.so", ""));
  ASSERT_TRUE(kp.SelectDevice(0));
  kp.SetOnWriteDone([this](void*, std::uint8_t, bool Failed) {
    std::lock_guard lock(mutex_);
    WriteFailed = Failed;
    ++Reports;
    reported_.notify_all();
  });
}

void BurnTest::InsertMedium(const std::string& Kind) { ASSERT_EQ(Emulator("insert " + Kind), 0) << Kind; }

fs::path BurnTest::SmallSource() {
  const fs::path src = scratch.path() / "src";
  SmallTree(src);
  return src;
}

testing::AssertionResult BurnTest::PrepareCompilation(const fs::path& Src) {
  kp.ClearAll();
  kp.SetVolumeID(kBurnLabel);
  if (kp.InsertDirW(u"\\", Src.u16string(), u"*", true, false) == nullptr)
    return testing::AssertionFailure() << "insert failed: " << LastTreeError(kp.CDFiles);
  if (kp.Prepare() == 0) return testing::AssertionFailure() << "prepare failed";
  return testing::AssertionSuccess();
}

testing::AssertionResult BurnTest::Burn(const fs::path& Src) {
  if (testing::AssertionResult prepared = PrepareCompilation(Src); !prepared) return prepared;
  if (!Run([this] { return kp.Burn(); })) return testing::AssertionFailure() << "not started: " << Error;
  if (WriteFailed) return testing::AssertionFailure() << "burn failed: " << Error;
  return testing::AssertionSuccess();
}

bool BurnTest::Run(const std::function<bool()>& Start) {
  const int before = Reports;
  Error.clear();
  if (!Start()) {
    Error = kp.ErrorString();
    return false;
  }
  std::unique_lock lock(mutex_);
  const bool arrived = reported_.wait_for(lock, std::chrono::seconds(60), [&] { return Reports > before; });
  lock.unlock();
  kp.Workers.StopAndJoinAll();
  if (!arrived) {
    Error = "no completion";
    return false;
  }
  if (WriteFailed) Error = kp.ErrorString();
  return true;
}

fs::path BurnTest::Export(const std::string& Name) {
  const fs::path image = scratch.path() / Name;
  EXPECT_EQ(Emulator("export " + Quoted(image)), 0);
  return image;
}

}  // namespace kilnor::test
