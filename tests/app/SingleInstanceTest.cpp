// One shell per user: the lock's place, a second instance in another
// process, and the release when the holder goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/SingleInstance.h"

namespace velmor::shell::test {
namespace {

namespace fs = std::filesystem;

// Points the runtime and temporary folders at a fresh folder of the test,
// and puts both variables back afterwards.
class SingleInstance : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "velmor-instance-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    savedRuntime = Saved("XDG_RUNTIME_DIR");
    savedTemp = Saved("TMPDIR");
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    setenv("TMPDIR", folder.c_str(), 1);
  }
  void TearDown() override {
    Restore("XDG_RUNTIME_DIR", savedRuntime);
    Restore("TMPDIR", savedTemp);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  static std::optional<std::string> Saved(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Restore(const char* variable, const std::optional<std::string>& value) {
    if (value) {
      setenv(variable, value->c_str(), 1);
    } else {
      unsetenv(variable);
    }
  }

  fs::path folder;
  std::optional<std::string> savedRuntime;
  std::optional<std::string> savedTemp;
};

// In a child process: exits 0 when that process got the lock, 1 when not.
[[noreturn]] void ExitWithLockOutcome() { std::_Exit(TSingleInstance().Acquired() ? 0 : 1); }

TEST_F(SingleInstance, TheLockLivesInTheUsersRuntimeFolder) {
  EXPECT_EQ(fs::path(TSingleInstance::LockPath()), folder / "VelmorDataBurner.lock");
  const TSingleInstance first;
  EXPECT_TRUE(first.Acquired());
  EXPECT_TRUE(fs::exists(folder / "VelmorDataBurner.lock"));
}

TEST_F(SingleInstance, WithoutARuntimeFolderTheTemporaryFolderHoldsItUnderTheUserId) {
  unsetenv("XDG_RUNTIME_DIR");
  const fs::path expected = folder / ("VelmorDataBurner-" + std::to_string(getuid()) + ".lock");
  EXPECT_EQ(fs::path(TSingleInstance::LockPath()), expected);
  const TSingleInstance first;
  EXPECT_TRUE(first.Acquired());
  EXPECT_TRUE(fs::exists(expected));
}

TEST_F(SingleInstance, ASecondInstanceIsRefusedUntilTheFirstEnds) {
  {
    const TSingleInstance first;
    ASSERT_TRUE(first.Acquired());
    EXPECT_EXIT(ExitWithLockOutcome(), testing::ExitedWithCode(1), "");
    EXPECT_FALSE(TSingleInstance().Acquired());
  }
  EXPECT_EXIT(ExitWithLockOutcome(), testing::ExitedWithCode(0), "");
}

TEST_F(SingleInstance, TheLockGoesWithAProcessThatEndsWithoutCleaningUp) {
  EXPECT_EXIT(
      {
        const TSingleInstance held;
        std::_Exit(held.Acquired() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_TRUE(TSingleInstance().Acquired());
}

TEST_F(SingleInstance, ALinkPlantedUnderTheLocksNameIsNotFollowed) {
  const fs::path target = folder / "victim";
  fs::create_symlink(target, folder / "VelmorDataBurner.lock");
  EXPECT_FALSE(TSingleInstance().Acquired());
  EXPECT_FALSE(fs::exists(target));
}

}  // namespace
}  // namespace velmor::shell::test
