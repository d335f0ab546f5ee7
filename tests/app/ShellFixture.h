#pragma once
// The shell's windows on the emulated recorder: the test program's own
// recorder state directory (the drive starts with a blank DVD+RW), the four
// windows created as the program creates them, a scratch folder for sources
// and images, and waits that keep the Qt loop running.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "app/Info.h"
#include "app/Infos.h"
#include "app/Main.h"
#include "app/Options.h"
#include "ShellApplication.h"
#include "device/EmulatedDrive.h"
#include "engine/platform/Clock.h"

namespace velmor::shell::test {

// Writes Size bytes of a repeating pattern to Path, making its folders.
void WriteFile(const QString& Path, qint64 Size);
// A file of Size bytes that takes no room on the disk (a hole).
void WriteSparseFile(const QString& Path, qint64 Size);

// Runs the Qt loop until Done or the timeout; Done's last answer.
bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 60000);

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // velmor-emulator <Arguments> on the test program's recorder; then the
  // window's drive is selected again so it sees the change.
  void Emulate(const std::string& Arguments);
  [[nodiscard]] QString Scratch(const QString& Name) const { return scratch.filePath(Name); }
  [[nodiscard]] QString Log() const { return frmMain->Memo1->toPlainText(); }
  // Waits for a log line containing Text.
  [[nodiscard]] bool WaitForLog(const QString& Text, int TimeoutMs = 60000);
  // Chooses the drive-list item Index as a user does.
  void ChooseDrive(int Index);
  void ChooseImageItem() { ChooseDrive(frmMain->cbDrives->count() - 1); }

  kilnor::TFakeClock clock;
  std::unique_ptr<kilnor::TClockOverride> useClock;
  QTemporaryDir scratch;
  std::unique_ptr<TfrmMain> frmMain;
  std::unique_ptr<TfrmOptions> frmOptions;
  std::unique_ptr<TFrmInfos> FrmInfos;
  std::unique_ptr<TfrmInfo> frmInfo;
};

}  // namespace velmor::shell::test
