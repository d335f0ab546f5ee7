#include "ShellApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

// The one application object of the test program. It ends before the
// program's exit handlers run, which would otherwise tear down the input
// devices it still holds.
class TShellApplication : public testing::Environment {
 public:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[10] = "app_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] testing::Environment* const kShellApplication =
    testing::AddGlobalTestEnvironment(new TShellApplication);

}  // namespace
