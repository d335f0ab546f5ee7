#pragma once
// The one application object the shell's widgets need, created by whichever
// test asks first and kept for the rest of the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <ostream>

// Failure messages show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace velmor::shell::test {

inline void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
}

// A test whose fixture holds widgets: the application exists before them.
class ShellTest : public testing::Test {
 protected:
  ShellTest() { EnsureApplication(); }
};

}  // namespace velmor::shell::test
