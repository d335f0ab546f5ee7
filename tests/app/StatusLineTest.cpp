// The main window's frame: status line texts, log time, the busy and idle
// control sets, the drive list and the notification path.
#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>

#include "ShellFixture.h"
#include "app/DriveItems.h"
#include "engine/Notifications.h"

namespace velmor::shell::test {
namespace {

struct TProgressCase {
  const char* Name;
  std::uint16_t Status;
  std::uint32_t Total;
  std::uint32_t Done;
  std::uint16_t MeasuredSpeed;
  const char* SizeText;    // lblSize afterwards; "" when it stays as it was
  const char* StatusText;  // lblStatus afterwards
};

class ShowProgressTest : public MainWindowTest, public testing::WithParamInterface<TProgressCase> {};

TEST_P(ShowProgressTest, StatusLineReadsAsTheUserSeesIt) {
  const TProgressCase& c = GetParam();
  kilnor::TKilnorPro& kp = frmMain->kilnor;
  kp.CDFiles.ComponentStatus = c.Status;
  kp.CDFiles.TotalImageSize = c.Total;
  kp.CDFiles.BlocksWritten = c.Done;
  kp.CDFiles.SmartReferencesSize = c.Total;
  kp.CDFiles.SmartReferencesProgress = c.Done;
  kp.CDFiles.VerifySize = c.Total;
  kp.CDFiles.VerifyProgress = c.Done;
  kp.Device.bmWriteSpeed = c.MeasuredSpeed;
  kp.Device.bmReadSpeed = c.MeasuredSpeed;
  frmMain->lblSize->setText("unchanged");
  frmMain->ShowProgress(c.Status);
  EXPECT_EQ(frmMain->lblSize->text().toStdString(), *c.SizeText ? c.SizeText : "unchanged");
  EXPECT_EQ(frmMain->lblStatus->text().toStdString(), c.StatusText);
  kp.CDFiles.ComponentStatus = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShowProgressTest,
    testing::Values(
        TProgressCase{"WriteNotStarted", 1, 100000, 0, 0, "0.00/195.31 MB", " WRITING "},
        TProgressCase{"WriteQuarter", 1, 100000, 25000, 5540, "48.83/195.31 MB (25.00%) @ 5540.00 KB/s", " WRITING "},
        TProgressCase{"ClosingTrack", 4, 100000, 100000, 0, "195.31/195.31 MB (100.00%) @ 0.00 KB/s",
                      " CLOSING TRACK "},
        TProgressCase{"Verifying", 10, 1024, 512, 1385, "1.00/2.00 MB (50.00%) @ 1385.00 KB/s", " VERIFYING "},
        TProgressCase{"SmartReferences", 11, 1000, 500, 0, "0.98/1.95 MB (50.00%)", " GEN. SM. REF "},
        TProgressCase{"LargeCounts", 1, 12000000, 6000000, 21000, "11,718.75/23,437.50 MB (50.00%) @ 21000.00 KB/s",
                      " WRITING "},
        TProgressCase{"PreparingChangesOnlyTheStatus", 6, 100000, 25000, 0, "", " PREPARING "}),
    [](const testing::TestParamInfo<TProgressCase>& Info) { return std::string(Info.param.Name); });

TEST_F(MainWindowTest, CacheMeterShowsTheFillOfTheWholeCache) {
  kilnor::TKilnorPro& kp = frmMain->kilnor;
  kp.SetCacheSize(64);
  kp.CDFiles.ComponentStatus = kilnor::stWriting;
  kp.CDFiles.TotalImageSize = 1000;
  kp.CDFiles.PacketCount = 16;
  frmMain->ShowProgress(kilnor::stWriting);
  EXPECT_EQ(frmMain->scs->maximum(), 67108864);
  EXPECT_EQ(frmMain->scs->value(), 1048576);
  kp.CDFiles.ComponentStatus = 0;
  kp.CDFiles.PacketCount = 0;
}

TEST_F(MainWindowTest, LogTimeIsMinuteSecondMillisecondOfUtc) {
  const QTime before = QDateTime::currentDateTimeUtc().time();
  const QString text = TfrmMain::LogTime();
  ASSERT_TRUE(QRegularExpression("^\\d{2}:\\d{2}:\\d{3}$").match(text).hasMatch()) << text.toStdString();
  const int minute = text.left(2).toInt();
  EXPECT_TRUE(minute == before.minute() || minute == (before.minute() + 1) % 60) << text.toStdString();
}

TEST_F(MainWindowTest, BusyStateDisablesTheDriveControlsOnly) {
  frmMain->UpdateControls(false);
  for (QWidget* control : std::initializer_list<QWidget*>{
           frmMain->cbDrives, frmMain->cbSpeed, frmMain->btnLoad, frmMain->btnEject, frmMain->btnQuickErase,
           frmMain->sBitBtn1, frmMain->btnQuickInfo, frmMain->btnOtherOptions, frmMain->btnBurnISO,
           frmMain->btnBurn, frmMain->files})
    EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
  EXPECT_TRUE(frmMain->btnClearLayout->isEnabled());
  EXPECT_TRUE(frmMain->browser->isEnabled());
  EXPECT_TRUE(frmMain->Memo1->isEnabled());

  frmMain->UpdateControls(true);
  EXPECT_TRUE(frmMain->btnBurn->isEnabled());
  EXPECT_TRUE(frmMain->btnBurnISO->isEnabled());
}

TEST_F(MainWindowTest, ImageItemKeepsBurnAndDisablesBurnIso) {
  ChooseImageItem();
  EXPECT_TRUE(frmMain->btnBurn->isEnabled());
  EXPECT_FALSE(frmMain->btnBurnISO->isEnabled());
  // Back from an operation, the rule of the chosen item still holds.
  frmMain->UpdateControls(false);
  frmMain->UpdateControls(true);
  EXPECT_TRUE(frmMain->btnBurn->isEnabled());
  EXPECT_FALSE(frmMain->btnBurnISO->isEnabled());
  ChooseDrive(0);
  EXPECT_TRUE(frmMain->btnBurnISO->isEnabled());
}

TEST_F(MainWindowTest, DriveListHoldsTheRecorderThenTheImageItem) {
  ASSERT_EQ(frmMain->cbDrives->count(), 2);
  EXPECT_EQ(frmMain->cbDrives->itemText(0),
            DriveItemText(frmMain->kilnor.GetDeviceName(0)));
  EXPECT_TRUE(frmMain->cbDrives->itemText(0).contains("VIRTUAL RECORDER"));
  EXPECT_FALSE(frmMain->cbDrives->itemText(0).endsWith(' '));
  EXPECT_EQ(frmMain->cbDrives->itemText(1), "ISOFile: Don't Burn, Save as ISO Image ...");
  EXPECT_EQ(frmMain->cbDrives->currentIndex(), 0);
  EXPECT_EQ(frmMain->cbSpeed->count(), 1);
  EXPECT_EQ(frmMain->cbSpeed->currentText(), "Max");
}

TEST(DriveItemText, StartsAtTheDriveLetterWithoutTheClosingBlank) {
  const struct {
    const char* Name;
    const char* Item;
  } cases[] = {
      {"1:0:0,E: VENDOR PRODUCT 1.00 ", "E: VENDOR PRODUCT 1.00"},
      {"1:1:0,F: OTHER DRIVE 2.00 ", "F: OTHER DRIVE 2.00"},
      {"12:10:0,G: WIDE ADDRESS 3.00 ", "G: WIDE ADDRESS 3.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(DriveItemText(c.Name).toStdString(), c.Item) << c.Name;
}

TEST_F(MainWindowTest, CompletionsArriveThroughTheQueueWithoutPolling) {
  frmMain->kilnor.Notifications()->Post(kilnor::WM_VERIFYDONE, static_cast<std::uint32_t>(-1), 0);
  EXPECT_TRUE(WaitForLog("VERIFYING DONE, ALL FILES OKAY", 5000));
}

TEST_F(MainWindowTest, LogMenuClearsTheLogButNotTheCompilation) {
  WriteFile(Scratch("a.bin"), 10);
  frmMain->AddItem(Scratch("a.bin"), false);
  frmMain->LogLine("something");
  frmMain->ClearAll1Click();
  EXPECT_TRUE(Log().isEmpty());
  EXPECT_EQ(frmMain->files->count(), 1);
}

TEST_F(MainWindowTest, DelayKeepsTheWindowWorking) {
  bool ticked = false;
  QTimer::singleShot(10, [&] { ticked = true; });
  QElapsedTimer waited;
  waited.start();
  frmMain->Delay(200);
  EXPECT_GE(waited.elapsed(), 190);
  EXPECT_TRUE(ticked);
}

}  // namespace
}  // namespace velmor::shell::test
