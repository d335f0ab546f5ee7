// The burn workflows: the compilation to a disc or to an image file, an
// image file to a disc, abort, the eject after a write, and the optional
// smart-reference pass and verification messages.
#include <QCheckBox>
#include <QLineEdit>
#include <QThread>

#include "app/Main.h"
#include "app/NumberTexts.h"
#include "app/Options.h"

namespace {

inline constexpr int kSizeRefusalPauseMs = 250;
inline constexpr int kEjectDelayMs = 2000;

}  // namespace

void TfrmMain::btnBurnClick() {
  kilnor.ClearAll();
  kilnor.SetReplaceFile(true);
  // The options decide how names are shortened while the list goes in.
  ApplyOptions();
  if (!AddListToCompilation()) return;
  if (bGSR->isChecked()) {
    BeginOperation(tmrWrite, true);
    if (!kilnor.GenerateSmartReferences()) {
      LogLine(" >>> SMART REFERENCE GENERATION FAILED, ABORTING");
      EndOperation();
    }
    return;
  }
  Burn();
}

void TfrmMain::Burn() {
  if (ImageItemSelected())
    BuildImageFile();
  else
    BurnToDisc();
}

void TfrmMain::BuildImageFile() {
  const QString fileName = ChooseImageFileName();
  if (fileName.isEmpty() || !ApplyBootImage()) {
    if (operationRunning_) EndOperation();
    return;
  }
  kilnor.Prepare();
  StartWrite(kilnor.BuildISOImageW(fileName.toStdU16String()), LogTime() + " >>> BUILDING ISO FILE ...",
             ">>> BUILDING ISO FAILED. Error: ");
}

void TfrmMain::BurnToDisc() {
  ApplySpeed();
  if (!ApplyBootImage()) {
    if (operationRunning_) EndOperation();
    return;
  }
  const std::uint16_t speed = kilnor.WriteSpeed();
  lMaxSpeed->setText(PlainNumber(speed, 0) + " kB/s");
  pbWriteSpeed->setMaximum(std::max<int>(speed, 1));
  kilnor.Prepare();
  if (kilnor.ImageSize() > kilnor.FreeBlocksOnDisc()) {
    LogLine(LogTime() + " >>> Data exceeds the size of the media ... Aborting... ");
    QThread::msleep(kSizeRefusalPauseMs);
    LogLine(">>> Ready ");
    if (operationRunning_) EndOperation();
    return;
  }
  StartWrite(kilnor.Burn(), LogTime() + " >>> WRITING DISC ... ", ">>> WRITE FAILED. Error: ");
}

void TfrmMain::StartWrite(bool Started, const QString& StartedLine, const QString& RefusedLine) {
  if (Started) {
    BeginOperation(tmrWrite, true);
    LogLine(StartedLine);
    return;
  }
  LogLine(RefusedLine + QString::fromStdString(kilnor.ErrorString()));
  if (operationRunning_) EndOperation();
}

bool TfrmMain::ApplyBootImage() {
  if (windows_.frmOptions == nullptr || !windows_.frmOptions->chkBootImage->isChecked()) return true;
  const QString path = windows_.frmOptions->edtBootImage->text();
  kilnor.SetBootImage(path.toStdString());
  if (!path.isEmpty() && kilnor.BootImage() == path.toStdString()) return true;
  LogLine(">>> BOOT IMAGE REFUSED: '" + path +
          "' is not a readable file of 2,048 bytes or of a 1.2, 1.44 or 2.88 MB floppy. "
          "Choose another one in the options or uncheck Boot Image. Nothing was started.");
  return false;
}

void TfrmMain::ApplyOptions() {
  if (windows_.frmOptions == nullptr) return;
  const TfrmOptions& options = *windows_.frmOptions;
  kilnor.SetTestWrite(options.chkTestWrite->isChecked());
  kilnor.SetUDFBridge(options.chkUDFBridge->isChecked());
  kilnor.SetFinalizeDisc(options.chkFinalizeDisc->isChecked());
  kilnor.SetJolietFileSystem(options.chkJolietFS->isChecked());
  JolietNames = options.chkJolietFS->isChecked();
  kilnor.SetBurnProof(options.chkUnderrunProtection->isChecked());
  kilnor.SetVolumeIDW(options.edtVolumeID->text().toStdU16String());
  kilnor.SetCacheSize(TfrmOptions::CacheSizeOf(options.edtCacheSize->text()));
}

void TfrmMain::btnBurnISOClick() {
  if (ImageItemSelected()) {
    ShowMessage("Please select another drive");
    return;
  }
  const QString fileName = ChooseImageToBurn();
  if (fileName.isEmpty()) return;
  ApplyOptions();
  ApplySpeed();
  StartWrite(kilnor.BurnISOImageW(fileName.toStdU16String()), LogTime() + " >>> WRITING ISO IMAGE TO DISC ... ",
             ">>> WRITE ISO IMAGE START FAILED. Error: ");
}

void TfrmMain::btnAbortBurnClick() { kilnor.AbortOperation(); }

void TfrmMain::kilnorWriteDone(void*, std::uint8_t, bool WriteFailed) {
  pb->setValue(0);
  btnAbortBurn->hide();
  if (WriteFailed)
    LogLine(LogTime() + " >>> WRITE DONE WITH ERROR (" + QString::fromStdString(kilnor.ErrorString()) + ").");
  else
    LogLine(LogTime() + " >>> WRITE DONE.");
  EndOperation();
  ShowProgress(0);
  Timer1->start();
  pbWriteSpeed->setValue(0);
}

void TfrmMain::Timer1Timer() {
  Timer1->stop();
  if (windows_.frmOptions == nullptr || !windows_.frmOptions->sCheckEject->isChecked() || ImageItemSelected())
    return;
  ejectPending_ = true;
  Delay(kEjectDelayMs);
  // Another operation started meanwhile cancels the eject.
  if (!ejectPending_ || operationRunning_) return;
  ejectPending_ = false;
  kilnor.EjectMedium(true);
}

void TfrmMain::kilnorGenerateSmartReferencesDone(void*, bool Failed, std::int32_t CanSaveBytes) {
  if (Failed || closing_) {
    LogLine(" >>> SMART REFERENCE GENERATION FAILED, ABORTING");
    EndOperation();
    return;
  }
  tmrWriteTimer();
  // The event's count stops at 2 GiB; the component keeps the full one.
  const std::uint64_t saved = std::max<std::uint64_t>(kilnor.SmartReferencesSavedBytes(),
                                                      static_cast<std::uint64_t>(std::max(CanSaveBytes, 0)));
  LogLine(LogTime() + " >>> SMART REFERENCE GENERATION DONE, SAVES " + QString::number(saved / 1048576) + " MB");
  tmrWrite->stop();
  Burn();
}

void TfrmMain::kilnorVerifyDone(void*, std::uint8_t, std::int32_t FileId, bool Failed) {
  if (FileId == -1) {
    LogLine(Failed ? "VERIFYING DONE, AT LEAST ONE FILE FAILED" : "VERIFYING DONE, ALL FILES OKAY");
    btnAbortBurn->hide();
    return;
  }
  const QString name = QString::fromStdU16String(kilnor.FileName(FileId));
  LogLine((Failed ? "VERIFY FAILED FOR " : "VERIFYING DONE FOR ") + name);
}
