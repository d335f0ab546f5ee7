// The tool bar's drive controls on the emulated recorder: the speed list,
// erase, the media information window, the options dialog, and the eject
// after a write.
#include <QRegularExpression>

#include "ShellFixture.h"

namespace velmor::shell::test {
namespace {

class DriveControlsTest : public MainWindowTest {
 protected:
  void OpenSpeedList() {
    frmMain->cbSpeed->showPopup();
    frmMain->cbSpeed->hidePopup();
  }
  // Answers the next modal dialog by closing it as soon as it shows.
  static void CloseWhenShown(QDialog* Dialog) {
    QTimer::singleShot(0, Dialog, [Dialog] { Dialog->done(QDialog::Accepted); });
  }
};

TEST_F(DriveControlsTest, SpeedListOfADvdHoldsTheAcceptedSpeedsFastestFirst) {
  OpenSpeedList();
  TSpeedComboBox& speeds = *frmMain->cbSpeed;
  ASSERT_GT(speeds.count(), 1);
  EXPECT_EQ(speeds.itemText(0), "Max");
  const QRegularExpression item("^(\\d+)x \\((\\d{1,3}(,\\d{3})*) KB/s\\)$");
  int previous = std::numeric_limits<int>::max();
  QStringList seen;
  for (int row = 1; row < speeds.count(); ++row) {
    const QRegularExpressionMatch parts = item.match(speeds.itemText(row));
    ASSERT_TRUE(parts.hasMatch()) << speeds.itemText(row).toStdString();
    const int kbps = QString(parts.captured(2)).remove(',').toInt();
    EXPECT_EQ(parts.captured(1).toInt(), qRound(kbps / 1385.0)) << speeds.itemText(row).toStdString();
    EXPECT_LT(kbps, previous);
    EXPECT_FALSE(seen.contains(speeds.itemText(row)));
    seen << speeds.itemText(row);
    previous = kbps;
  }
  EXPECT_EQ(speeds.currentIndex(), 0);

  // A chosen item sends the speed it shows and stays chosen when the list
  // is built again.
  speeds.setCurrentIndex(speeds.count() - 1);
  const auto shown = speeds.currentData().toUInt();
  frmMain->ApplySpeed();
  EXPECT_EQ(frmMain->kilnor.WriteSpeed(), shown);
  OpenSpeedList();
  EXPECT_EQ(speeds.currentData().toUInt(), shown);
}

TEST_F(DriveControlsTest, EraseOfACdRwSweepsAndEndsIdle) {
  Emulate("insert cd-rw");
  frmMain->EraseStep = 2;
  frmMain->btnQuickErase->click();
  EXPECT_EQ(Log(), ">>> ERASING DISC ...");
  EXPECT_FALSE(frmMain->btnBurn->isEnabled());
  EXPECT_FALSE(frmMain->btnAbortBurn->isVisible());
  ASSERT_TRUE(WaitForLog(">>> ERASE DONE")) << Log().toStdString();
  EXPECT_TRUE(Log().endsWith(">>> ERASE DONE.")) << Log().toStdString();
  EXPECT_EQ(frmMain->lblStatus->text(), "IDLE");
  EXPECT_EQ(frmMain->pb->value(), 0);
  EXPECT_TRUE(frmMain->btnBurn->isEnabled());
  EXPECT_FALSE(frmMain->tmrErase->isActive());
}

TEST_F(DriveControlsTest, EraseAnimationTurnsAtBothEnds) {
  frmMain->pb->setMaximum(100);
  frmMain->pb->setValue(0);
  frmMain->EraseStep = 2;
  for (int tick = 0; tick < 50; ++tick) frmMain->tmrEraseTimer();
  EXPECT_EQ(frmMain->pb->value(), 100);
  EXPECT_EQ(frmMain->EraseStep, -1);
  for (int tick = 0; tick < 100; ++tick) frmMain->tmrEraseTimer();
  EXPECT_EQ(frmMain->pb->value(), 0);
  EXPECT_EQ(frmMain->EraseStep, 1);
}

TEST_F(DriveControlsTest, EraseRefusals) {
  const struct {
    const char* Setup;
    const char* Line;
  } cases[] = {{"insert dvd+r", ">>> DISC IS NOT ERASABLE."}, {"remove", ">>> DRIVE NOT READY."}};
  for (const auto& c : cases) {
    frmMain->ClearAll1Click();
    Emulate(c.Setup);
    frmMain->btnQuickEraseClick();
    EXPECT_EQ(Log().toStdString(), c.Line) << c.Setup;
    EXPECT_FALSE(frmMain->OperationRunning()) << c.Setup;
  }
}

TEST_F(DriveControlsTest, MediaInformationNamesTheMedium) {
  const struct {
    const char* Kind;
    const char* Shown;
  } cases[] = {{"dvd-r", "DVDR"}, {"bd-re", "BDRE"}, {"hd-dvd-r", "HDDVDR"}, {"cd-rw", "CDRW"}};
  for (const auto& c : cases) {
    Emulate(std::string("insert ") + c.Kind);
    CloseWhenShown(FrmInfos.get());
    frmMain->btnQuickInfo->click();
    EXPECT_EQ(FrmInfos->LabelDiscIs->text().trimmed().toStdString(), c.Shown) << c.Kind;
  }
}

TEST_F(DriveControlsTest, OptionsDialogCopiesTheSettingsBack) {
  frmMain->kilnor.SetCacheSize(64);
  QTimer::singleShot(0, frmOptions.get(), [this] {
    frmOptions->edtCacheSize->setText("abc");
    frmOptions->chkUDFBridge->setChecked(true);
    frmOptions->done(QDialog::Accepted);
  });
  frmMain->btnOtherOptions->click();
  EXPECT_EQ(frmMain->kilnor.CacheSize(), 2u);
  EXPECT_TRUE(frmMain->kilnor.UDFBridge());
}

TEST_F(DriveControlsTest, AboutBoxIsNotModal) {
  frmMain->sBitBtn1->click();
  EXPECT_TRUE(frmInfo->isVisible());
  EXPECT_FALSE(frmInfo->isModal());
  frmInfo->close();
}

TEST_F(DriveControlsTest, EjectAfterWriteWaitsAndYieldsToANewOperation) {
  frmOptions->sCheckEject->setChecked(true);
  frmMain->kilnorWriteDone(&frmMain->kilnor, 0, false);
  // The eject waits two seconds after the timer; an erase started meanwhile
  // keeps the tray shut.
  QTimer::singleShot(1500, frmMain.get(), [this] { frmMain->btnQuickEraseClick(); });
  ASSERT_TRUE(WaitForLog(">>> ERASE DONE", 20000)) << Log().toStdString();
  frmMain->Delay(200);
  EXPECT_TRUE(frmMain->kilnor.TestUnitReady());

  frmMain->kilnorWriteDone(&frmMain->kilnor, 0, true);
  EXPECT_TRUE(WaitUntil([&] { return !frmMain->kilnor.TestUnitReady(); }, 10000)) << "tray did not open";
}

}  // namespace
}  // namespace velmor::shell::test
