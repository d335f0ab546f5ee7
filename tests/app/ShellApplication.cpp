#include "ShellApplication.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// Without a runtime folder Qt makes /tmp/runtime-<user> and leaves it
// behind; the tests give it a private one that ends with them.
class TRuntimeFolder {
 public:
  TRuntimeFolder() {
    const char* given = std::getenv("XDG_RUNTIME_DIR");
    if (given != nullptr && *given != '\0') return;
    std::string pattern = (std::filesystem::temp_directory_path() / "velmor-runtime-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  ~TRuntimeFolder() {
    if (folder_.empty()) return;
    unsetenv("XDG_RUNTIME_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TRuntimeFolder(const TRuntimeFolder&) = delete;
  TRuntimeFolder& operator=(const TRuntimeFolder&) = delete;

 private:
  std::string folder_;
};

// The one application object of the test program. It ends before the
// program's exit handlers run, which would otherwise tear down the input
// devices it still holds.
class TShellApplication : public testing::Environment {
 public:
  void SetUp() override {
    if (QCoreApplication::instance() != nullptr) return;
    runtime_ = std::make_unique<TRuntimeFolder>();
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override {
    application_.reset();
    runtime_.reset();
  }

 private:
  int argc_ = 1;
  char name_[10] = "app_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TRuntimeFolder> runtime_;
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] testing::Environment* const kShellApplication =
    testing::AddGlobalTestEnvironment(new TShellApplication);

}  // namespace
