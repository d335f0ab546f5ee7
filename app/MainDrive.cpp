// The tool bar's drive controls: the drive and speed lists, load and eject,
// erase with its progress sweep, the media information window, the options
// dialog and the about box.
#include <cmath>

#include "app/DriveItems.h"
#include "app/Info.h"
#include "app/Infos.h"
#include "app/Main.h"
#include "app/Options.h"

void TfrmMain::cbDrivesChange() {
  if (!ImageItemSelected()) kilnor.SelectDevice(static_cast<std::uint8_t>(cbDrives->currentIndex()));
  ApplyDriveRule();
}

void TfrmMain::cbSpeedDropDown() {
  if (operationRunning_) return;
  const int remembered = cbSpeed->currentIndex();
  cbSpeed->clear();
  cbSpeed->addItem("Max");
  const double base = kilnor::TKilnorPro::BaseSpeed(kilnor.DiscIs());
  const double fastest = SpeedFactor(kilnor.MaxWriteSpeed(), base);
  for (double factor = fastest; factor >= 1; --factor) {
    kilnor.SetDeviceSpeed(0, static_cast<std::uint32_t>(std::lround(factor * base)));
    const std::uint16_t accepted = kilnor.WriteSpeed();
    const QString item = SpeedItemText(accepted, base);
    if (accepted > 0 && cbSpeed->findText(item) < 0) cbSpeed->addItem(item, accepted);
  }
  cbSpeed->setCurrentIndex(remembered >= 0 && remembered < cbSpeed->count() ? remembered : 0);
}

void TfrmMain::ApplySpeed() {
  // Each item carries the speed it shows; "Max" carries none and asks for
  // the drive's fastest.
  const std::uint32_t speed = cbSpeed->currentData().toUInt();
  kilnor.SetDeviceSpeed(speed, speed);
}

void TfrmMain::btnLoadClick() { kilnor.LoadMedium(true); }

void TfrmMain::btnEjectClick() {
  kilnor.FlushCache();
  kilnor.EjectMedium(true);
}

void TfrmMain::btnQuickEraseClick() { Erase(true); }

void TfrmMain::btnFullEraseClick() { Erase(false); }

void TfrmMain::Erase(bool Quick) {
  if (!kilnor.TestUnitReady()) {
    LogLine(">>> DRIVE NOT READY.");
    return;
  }
  if (!kilnor.Erasable()) {
    LogLine(">>> DISC IS NOT ERASABLE.");
    return;
  }
  BeginOperation(tmrErase, false);
  ApplySpeed();
  pb->setMaximum(100);
  LogLine(">>> ERASING DISC ...");
  if (!kilnor.EraseDisc(Quick)) kilnorEraseDone(&kilnor, 0, true);
}

void TfrmMain::tmrEraseTimer() {
  pb->setValue(pb->value() + EraseStep);
  if (pb->value() == 100)
    EraseStep = -1;
  else if (pb->value() == 0)
    EraseStep = 1;
  lblStatus->setText(QString::fromStdString(kilnor::StatusText(kilnor.ComponentStatus())));
}

void TfrmMain::kilnorEraseDone(void*, std::uint8_t, bool EraseFailed) {
  tmrErase->stop();
  pb->setValue(0);
  LogLine(EraseFailed ? ">>> ERASE DONE WITH ERROR." : ">>> ERASE DONE.");
  EndOperation();
  lblStatus->setText("IDLE");
}

void TfrmMain::btnQuickInfoClick() {
  if (windows_.FrmInfos == nullptr) return;
  windows_.FrmInfos->Fill(kilnor);
  windows_.FrmInfos->exec();
}

void TfrmMain::btnOtherOptionsClick() {
  if (windows_.frmOptions == nullptr) return;
  windows_.frmOptions->LoadFromComponent(kilnor);
  windows_.frmOptions->exec();
  windows_.frmOptions->StoreToComponent(kilnor);
}

void TfrmMain::sBitBtn1Click() {
  if (windows_.frmInfo == nullptr) return;
  windows_.frmInfo->show();
  windows_.frmInfo->raise();
  windows_.frmInfo->activateWindow();
}
