#pragma once
// Test fixture: a component on the emulated recorder's drive, a small source
// tree to burn, the burn itself through the component, and the medium
// exported as an image for the reader checks.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "engine/KilnorPro.h"
#include "engine/platform/Clock.h"

namespace kilnor::test {

inline constexpr const char* kBurnLabel = "BURN_CHECK";

// Names a case of a parameterized test after its Name field.
struct TNamedCase {
  template <typename TCase>
  std::string operator()(const testing::TestParamInfo<TCase>& Info) const {
    return Info.param.Name;
  }
};

// A few folders and files of odd sizes, small enough that a burn takes a
// moment: about 200 KiB.
void SmallTree(const std::filesystem::path& src);

// A fresh emulated drive holding a new medium of Kind ("dvd+rw", ...), the
// component's drive selected; the drive's waits run on a fake clock.
class BurnTest : public testing::Test {
 protected:
  void SetUp() override;
  void InsertMedium(const std::string& Kind);

  // SmallTree in a folder of the scratch folder.
  [[nodiscard]] std::filesystem::path SmallSource();
  // Puts the content of Src at the root of a new compilation and prepares it.
  [[nodiscard]] testing::AssertionResult PrepareCompilation(const std::filesystem::path& Src);
  // PrepareCompilation, then burns it; the outcome the completion reported.
  [[nodiscard]] testing::AssertionResult Burn(const std::filesystem::path& Src);
  // Runs Start (Burn, BurnISOImage) and waits for the completion; false when
  // it did not start or never reported, with the error text in Error.
  [[nodiscard]] bool Run(const std::function<bool()>& Start);
  // velmor-emulator export of the medium.
  [[nodiscard]] std::filesystem::path Export(const std::string& Name);

  TFakeClock clock;
  TClockOverride useClock{clock};
  TTempDir scratch;
  TKilnorPro kp;
  std::string Error;
  bool WriteFailed = false;
  int Reports = 0;

 private:
  std::mutex mutex_;
  std::condition_variable reported_;
};

}  // namespace kilnor::test
