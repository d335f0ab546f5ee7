// The burn workflows on the emulated recorder: a compilation to disc and to
// an image file, the size refusal, abort, boot images, closing while busy,
// and the smart-reference and verification messages.
#include <QDir>
#include <QFile>
#include <QProcess>

#include "ReaderCheckFixtures.h"
#include "ShellFixture.h"
#include "engine/Notifications.h"

namespace velmor::shell::test {
namespace {

class BurnWorkflowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteFile(Scratch("src/Docs/report.txt"), 70000);
    WriteFile(Scratch("src/Docs/deeper/table.bin"), 100000);
    WriteFile(Scratch("src/readme.txt"), 14);
    frmMain->AddItem(Scratch("src/Docs"), true);
    frmMain->AddItem(Scratch("src/readme.txt"), false);
    frmMain->show();
  }
  // Answers the save dialog with Name in the scratch folder.
  QString SaveImageAs(const QString& Name) {
    const QString path = Scratch(Name);
    frmMain->ChooseImageFileName = [path] { return path; };
    return path;
  }
  bool Idle() const { return !frmMain->OperationRunning() && frmMain->btnBurn->isEnabled(); }
  // The files (not folders) directly in Folder.
  static QStringList FilesIn(const QString& Folder) { return QDir(Folder).entryList(QDir::Files | QDir::Hidden); }
};

// isoinfo's listing of an image file; empty when it cannot read it.
QString IsoListing(const QString& Image, const QStringList& Options) {
  QProcess isoinfo;
  isoinfo.start("isoinfo", QStringList(Options) << "-i" << Image);
  if (!isoinfo.waitForFinished(30000) || isoinfo.exitCode() != 0) return {};
  return QString::fromLocal8Bit(isoinfo.readAllStandardOutput());
}

TEST_F(BurnWorkflowTest, BurnToTheEmulatedDvdEndsWithWriteDone) {
  frmMain->btnBurn->click();
  EXPECT_TRUE(Log().contains(QRegularExpression("^\\d{2}:\\d{2}:\\d{3} >>> WRITING DISC ... $",
                                                QRegularExpression::MultilineOption)))
      << Log().toStdString();
  EXPECT_TRUE(frmMain->btnAbortBurn->isVisible());
  EXPECT_FALSE(frmMain->btnBurn->isEnabled());
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  EXPECT_TRUE(Log().contains(QRegularExpression("\\d{2}:\\d{2}:\\d{3} >>> WRITE DONE\\.$"))) << Log().toStdString();
  EXPECT_TRUE(Idle());
  EXPECT_FALSE(frmMain->btnAbortBurn->isVisible());
  EXPECT_EQ(frmMain->lblStatus->text(), " IDLE ");
  EXPECT_EQ(frmMain->pb->value(), 0);
  EXPECT_TRUE(frmMain->Timer1->isActive());
  EXPECT_GT(kilnor::test::EmulatorMedium().Recorded, 0u);
}

TEST_F(BurnWorkflowTest, FailedBurnShowsTheDriveErrorText) {
  Emulate("fault add write-error --lba 40");
  frmOptions->sCheckEject->setChecked(true);
  frmMain->btnBurn->click();
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  EXPECT_TRUE(Log().contains(QRegularExpression(" >>> WRITE DONE WITH ERROR \\(.+\\)\\.$"))) << Log().toStdString();
  EXPECT_FALSE(Log().contains("WITH ERROR ().")) << Log().toStdString();
  EXPECT_TRUE(Idle());
  // The tray opens after a failed write as after a good one.
  EXPECT_TRUE(WaitUntil([&] { return !frmMain->kilnor.TestUnitReady(); }, 10000)) << "tray did not open";
}

TEST_F(BurnWorkflowTest, ImageBuildWritesAReadableImageUnderTheChosenName) {
  const QString image = SaveImageAs("out.iso");
  ChooseImageItem();
  frmMain->btnBurn->click();
  EXPECT_TRUE(Log().contains(" >>> BUILDING ISO FILE ...")) << Log().toStdString();
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  EXPECT_FALSE(Log().contains("WITH ERROR")) << Log().toStdString();
  // The list holds the source folder's two items, so the disc's root is
  // that folder.
  kilnor::test::ExpectExtractedTreeIs(image.toStdString(), Scratch("src").toStdString(),
                                      Scratch("extracted").toStdString());
  // The options' "My Volume" as the primary volume's d-characters.
  kilnor::test::ExpectToolsOpenIt(image.toStdString(), "MY_VOLUME", false);
  EXPECT_TRUE(Idle());
  // The image entry never ejects, and writes nothing to the disc.
  EXPECT_EQ(kilnor::test::EmulatorMedium().Recorded, 0u);
}

TEST_F(BurnWorkflowTest, CancelledSaveDialogDoesNothing) {
  frmMain->ChooseImageFileName = [] { return QString(); };
  ChooseImageItem();
  frmMain->btnBurn->click();
  EXPECT_TRUE(Log().isEmpty()) << Log().toStdString();
  EXPECT_TRUE(Idle());
}

TEST_F(BurnWorkflowTest, BootImageGoesIntoImageBuilds) {
  WriteFile(Scratch("boot.img"), 2048);
  frmOptions->chkBootImage->setChecked(true);
  frmOptions->edtBootImage->setText(Scratch("boot.img"));
  const QString image = SaveImageAs("boot.iso");
  ChooseImageItem();
  frmMain->btnBurn->click();
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  EXPECT_TRUE(IsoListing(image, {"-d"}).contains("El Torito")) << IsoListing(image, {"-d"}).toStdString();
}

TEST_F(BurnWorkflowTest, RefusedBootImageStopsTheBurnWithALogLine) {
  WriteFile(Scratch("odd.img"), 1000);
  const QString cases[] = {Scratch("missing.img"), Scratch("odd.img")};
  frmOptions->chkBootImage->setChecked(true);
  for (const QString& boot : cases) {
    frmMain->ClearAll1Click();
    frmOptions->edtBootImage->setText(boot);
    frmMain->btnBurn->click();
    EXPECT_TRUE(Log().contains("BOOT IMAGE REFUSED")) << Log().toStdString();
    EXPECT_TRUE(Log().contains(boot)) << Log().toStdString();
    EXPECT_FALSE(Log().contains("WRITING DISC")) << Log().toStdString();
    EXPECT_TRUE(Idle());
  }
  EXPECT_EQ(kilnor::test::EmulatorMedium().Recorded, 0u);
}

TEST_F(BurnWorkflowTest, CompilationLargerThanTheMediumIsRefused) {
  Emulate("insert cd-r");
  WriteSparseFile(Scratch("big/huge.bin"), 900ll * 1024 * 1024);
  frmMain->AddItem(Scratch("big"), true);
  frmMain->btnBurn->click();
  const QStringList lines = Log().split('\n');
  ASSERT_EQ(lines.size(), 2) << Log().toStdString();
  EXPECT_TRUE(lines[0].endsWith(" >>> Data exceeds the size of the media ... Aborting... ")) << Log().toStdString();
  EXPECT_EQ(lines[1], ">>> Ready ");
  EXPECT_TRUE(Idle());
}

TEST_F(BurnWorkflowTest, AbortDuringABurnLogsAbortedByUser) {
  Emulate("set realtime on");
  WriteSparseFile(Scratch("big/huge.bin"), 200ll * 1024 * 1024);
  frmMain->AddItem(Scratch("big"), true);
  frmMain->btnBurn->click();
  ASSERT_TRUE(frmMain->btnAbortBurn->isVisible()) << Log().toStdString();
  frmMain->btnAbortBurn->click();
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  EXPECT_TRUE(Log().contains(" >>> WRITE DONE WITH ERROR (Aborted by user).")) << Log().toStdString();
  EXPECT_TRUE(Idle());
}

TEST_F(BurnWorkflowTest, ClosingWhileAnImageIsBuiltLeavesNoPartialFile) {
  WriteSparseFile(Scratch("big/huge.bin"), 1024ll * 1024 * 1024);
  frmMain->AddItem(Scratch("big"), true);
  const QString image = SaveImageAs("closing.iso");
  ChooseImageItem();

  int asked = 0;
  frmMain->ConfirmAbortOnClose = [&] { return ++asked == 2; };
  frmMain->btnBurn->click();
  ASSERT_TRUE(frmMain->OperationRunning()) << Log().toStdString();
  EXPECT_FALSE(frmMain->close());  // "no": the build goes on
  EXPECT_TRUE(frmMain->OperationRunning());
  EXPECT_TRUE(frmMain->close());  // "yes": aborted and waited for
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(frmMain->OperationRunning());
  EXPECT_EQ(frmMain->kilnor.Workers.Running(), 0u);
  EXPECT_TRUE(Log().contains("Aborted by user")) << Log().toStdString();
  EXPECT_FALSE(QFile::exists(image));
  EXPECT_TRUE(FilesIn(scratch.path()).isEmpty()) << FilesIn(scratch.path()).join(", ").toStdString();
}

TEST_F(BurnWorkflowTest, ClosingWhenIdleAsksNothing) {
  frmMain->ConfirmAbortOnClose = [] {
    ADD_FAILURE() << "asked while idle";
    return false;
  };
  EXPECT_TRUE(frmMain->close());
}

TEST_F(BurnWorkflowTest, BurnIsoWithTheImageItemOnlyTellsTheUser) {
  QString told;
  frmMain->ShowMessage = [&](const QString& Text) { told = Text; };
  frmMain->ChooseImageToBurn = [] {
    ADD_FAILURE() << "open dialog shown";
    return QString();
  };
  ChooseImageItem();
  frmMain->btnBurnISOClick();
  EXPECT_EQ(told, "Please select another drive");
  EXPECT_TRUE(Log().isEmpty());
}

TEST_F(BurnWorkflowTest, BurnIsoWritesTheImageToTheDisc) {
  const QString image = SaveImageAs("first.iso");
  ChooseImageItem();
  frmMain->btnBurn->click();
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  frmMain->ClearAll1Click();
  ChooseDrive(0);
  frmMain->ChooseImageToBurn = [image] { return image; };
  frmMain->btnBurnISO->click();
  EXPECT_TRUE(Log().contains(" >>> WRITING ISO IMAGE TO DISC ... ")) << Log().toStdString();
  ASSERT_TRUE(WaitForLog(">>> WRITE DONE")) << Log().toStdString();
  EXPECT_FALSE(Log().contains("WITH ERROR")) << Log().toStdString();
  EXPECT_EQ(kilnor::test::EmulatorMedium().Recorded, static_cast<std::uint32_t>(QFileInfo(image).size() / 2048));
}

TEST_F(BurnWorkflowTest, RefusedStartsAreLoggedWithTheEngineText) {
  Emulate("remove");
  frmMain->ChooseImageToBurn = [this] { return Scratch("src/readme.txt"); };
  frmMain->btnBurnISO->click();
  EXPECT_TRUE(Log().startsWith(">>> WRITE ISO IMAGE START FAILED. Error: ")) << Log().toStdString();
  EXPECT_GT(Log().size(), QString(">>> WRITE ISO IMAGE START FAILED. Error: ").size());
  EXPECT_TRUE(Idle());
}

TEST_F(BurnWorkflowTest, SmartReferenceCompletions) {
  const struct {
    const char* Name;
    std::uintptr_t ErrorNumber;
    std::uint64_t SavedBytes;
    const char* Line;
  } cases[] = {
      {"three megabytes", 0, 3145728, " >>> SMART REFERENCE GENERATION DONE, SAVES 3 MB"},
      {"below a megabyte", 0, 1048575, " >>> SMART REFERENCE GENERATION DONE, SAVES 0 MB"},
      {"beyond what 32 bits hold", 0, 5ull << 30, " >>> SMART REFERENCE GENERATION DONE, SAVES 5120 MB"},
      {"failed", 4, 0, " >>> SMART REFERENCE GENERATION FAILED, ABORTING"},
  };
  frmMain->ChooseImageFileName = [] { return QString(); };
  ChooseImageItem();
  for (const auto& c : cases) {
    frmMain->ClearAll1Click();
    frmMain->kilnor.CDFiles.SmartReferencesSaved = c.SavedBytes;
    frmMain->kilnor.Notifications()->Post(kilnor::WM_SMARTREFDONE, c.ErrorNumber,
                                          static_cast<std::intptr_t>(std::min<std::uint64_t>(c.SavedBytes, INT32_MAX)));
    ASSERT_TRUE(WaitForLog("SMART REFERENCE GENERATION", 5000)) << c.Name;
    EXPECT_TRUE(Log().endsWith(c.Line)) << c.Name << ": " << Log().toStdString();
    EXPECT_FALSE(frmMain->tmrWrite->isActive()) << c.Name;
  }
}

TEST_F(BurnWorkflowTest, SmartReferencePassEndsIdleWhateverItsOutcome) {
  frmMain->bGSR->setEnabled(true);
  frmMain->bGSR->setChecked(true);
  frmMain->ChooseImageFileName = [] { return QString(); };
  ChooseImageItem();
  frmMain->btnBurn->click();
  ASSERT_TRUE(WaitForLog("SMART REFERENCE GENERATION")) << Log().toStdString();
  EXPECT_TRUE(WaitUntil([&] { return Idle(); }, 10000));
  EXPECT_FALSE(frmMain->btnAbortBurn->isVisible());
  EXPECT_FALSE(frmMain->tmrWrite->isActive());
}

TEST_F(BurnWorkflowTest, VerificationNotificationsEachLogALine) {
  frmMain->kilnor.ClearAll();
  ASSERT_TRUE(frmMain->AddListToCompilation());
  const QString first = QString::fromStdU16String(frmMain->kilnor.FileName(0));
  const QString second = QString::fromStdU16String(frmMain->kilnor.FileName(1));
  frmMain->btnAbortBurn->show();
  kilnor::TNotificationQueue& queue = *frmMain->kilnor.Notifications();
  queue.Post(kilnor::WM_VERIFYDONE, 0, 0);
  queue.Post(kilnor::WM_VERIFYDONE, 1, 1);
  queue.Post(kilnor::WM_VERIFYDONE, static_cast<std::uint32_t>(-1), 1);
  ASSERT_TRUE(WaitForLog("VERIFYING DONE, AT LEAST ONE FILE FAILED", 5000)) << Log().toStdString();
  EXPECT_EQ(Log().split('\n'), QStringList({"VERIFYING DONE FOR " + first, "VERIFY FAILED FOR " + second,
                                            "VERIFYING DONE, AT LEAST ONE FILE FAILED"}));
  EXPECT_FALSE(frmMain->btnAbortBurn->isVisible());
}

}  // namespace
}  // namespace velmor::shell::test
