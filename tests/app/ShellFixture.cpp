#include "ShellFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace velmor::shell::test {

void WriteFile(const QString& Path, qint64 Size) {
  QDir().mkpath(QFileInfo(Path).path());
  QFile file(Path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << Path.toStdString();
  QByteArray chunk(4096, '\0');
  for (int i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7 + Size);
  for (qint64 left = Size; left > 0; left -= chunk.size())
    file.write(chunk.constData(), std::min<qint64>(left, chunk.size()));
}

void WriteSparseFile(const QString& Path, qint64 Size) {
  QDir().mkpath(QFileInfo(Path).path());
  QFile file(Path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << Path.toStdString();
  ASSERT_TRUE(file.resize(Size));
}

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer waited;
  waited.start();
  while (!Done()) {
    if (waited.elapsed() > TimeoutMs) return Done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void MainWindowTest::SetUp() {
  // Numbers read 1,234.56 as in the status texts' examples.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ASSERT_TRUE(scratch.isValid());
  ASSERT_EQ(kilnor::test::Emulator("reset"), 0);
  useClock = std::make_unique<kilnor::TClockOverride>(clock);
  frmMain = std::make_unique<TfrmMain>();
  frmOptions = std::make_unique<TfrmOptions>();
  FrmInfos = std::make_unique<TFrmInfos>();
  frmInfo = std::make_unique<TfrmInfo>();
  frmMain->UseWindows({frmOptions.get(), FrmInfos.get(), frmInfo.get()});
  // A test that wants the tray to open checks the box itself.
  frmOptions->sCheckEject->setChecked(false);
  frmMain->ConfirmAbortOnClose = [] { return true; };
  frmMain->ShowMessage = [](const QString& Text) { ADD_FAILURE() << "unexpected message " << Text.toStdString(); };
}

void MainWindowTest::TearDown() {
  if (frmMain) {
    frmMain->kilnor.AbortOperation();
    frmMain->kilnor.Workers.StopAndJoinAll();
  }
  frmInfo.reset();
  FrmInfos.reset();
  frmOptions.reset();
  frmMain.reset();
  useClock.reset();
}

void MainWindowTest::Emulate(const std::string& Arguments) {
  ASSERT_EQ(kilnor::test::Emulator(Arguments), 0) << Arguments;
  frmMain->kilnor.SelectDevice(0);
}

bool MainWindowTest::WaitForLog(const QString& Text, int TimeoutMs) {
  return WaitUntil([&] { return Log().contains(Text); }, TimeoutMs);
}

void MainWindowTest::ChooseDrive(int Index) {
  frmMain->cbDrives->setCurrentIndex(Index);
  emit frmMain->cbDrives->activated(Index);
}

}  // namespace velmor::shell::test
