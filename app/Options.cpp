#include "app/Options.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QCheckBox* CheckBox(const QString& caption, bool checked, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setChecked(checked);
  return box;
}

}  // namespace

TfrmOptions::TfrmOptions(QWidget* parent)
    : QDialog(parent),
      chkTestWrite(CheckBox(QStringLiteral("Test Write"), false, this)),
      chkUDFBridge(CheckBox(QStringLiteral("UDF Bridge"), false, this)),
      chkFinalizeDisc(CheckBox(QStringLiteral("Finalize Disc"), false, this)),
      chkJolietFS(CheckBox(QStringLiteral("Joliet File System"), true, this)),
      chkUnderrunProtection(CheckBox(QStringLiteral("Underrun Protection"), true, this)),
      sCheckEject(CheckBox(QStringLiteral("Eject after complete"), true, this)),
      chkRockRidge(CheckBox(QStringLiteral("Rock Ridge"), kilnor::TKilnorPro().RockRidge(), this)),
      chkRockRidgePublic(CheckBox(QStringLiteral("Readable by all"), false, this)),
      chkBootImage(CheckBox(QStringLiteral("Boot Image"), false, this)),
      sCheckVerify(CheckBox(QStringLiteral("Verify data"), false, this)),
      chkImportSession(CheckBox(QStringLiteral("Import Session"), false, this)),
      edtVolumeID(new QLineEdit(QStringLiteral("My Volume"), this)),
      edtCacheSize(new QLineEdit(QStringLiteral("2"), this)),
      edtBootImage(new QLineEdit(this)),
      edtImportSession(new QLineEdit(QStringLiteral("0"), this)),
      SpeedButton1(new QToolButton(this)) {
  setWindowTitle(QStringLiteral("Options"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

  edtVolumeID->setMaxLength(static_cast<int>(kilnor::kMaxVolumeLabelChars));
  edtBootImage->setReadOnly(true);
  // A long path does not fit the box: the hint shows all of it.
  connect(edtBootImage, &QLineEdit::textChanged, edtBootImage, &QLineEdit::setToolTip);
  SpeedButton1->setIcon(QIcon(QStringLiteral(":/icons/open.svg")));
  SpeedButton1->setToolTip(QStringLiteral("Choose the boot image"));
  connect(SpeedButton1, &QToolButton::clicked, this, &TfrmOptions::SpeedButton1Click);
  // Read by nothing: the burn neither verifies nor imports a session.
  sCheckVerify->hide();
  chkImportSession->hide();
  edtImportSession->hide();

  auto* left = new QVBoxLayout;
  left->addWidget(BurnGroup());
  left->addWidget(RockRidgeGroup());
  auto* columns = new QHBoxLayout(this);
  columns->addLayout(left);
  columns->addLayout(ImageFields(), 1);
  resize(420, 280);
}

// How the disc is written: the six boxes on the left.
QWidget* TfrmOptions::BurnGroup() {
  auto* group = new QGroupBox(this);
  auto* boxes = new QVBoxLayout(group);
  for (QCheckBox* box : {chkTestWrite, chkUDFBridge, chkFinalizeDisc, chkJolietFS, chkUnderrunProtection, sCheckEject}) {
    boxes->addWidget(box);
  }
  boxes->addStretch();
  return group;
}

// What Linux and BSD readers see: names, modes, owners, times and links.
// The attributes are read when items are added, so a compilation made with
// the box unticked keeps default ones for what it already holds.
QWidget* TfrmOptions::RockRidgeGroup() {
  chkRockRidge->setToolTip(QStringLiteral("Records POSIX names, permissions, owners, times and symbolic links "
                                          "for Linux and BSD readers; applies to items added afterwards"));
  chkRockRidgePublic->setToolTip(QStringLiteral("Records owners as root and permissions as readable by all, "
                                                "keeping execute permission"));
  connect(chkRockRidge, &QCheckBox::toggled, chkRockRidgePublic, &QCheckBox::setEnabled);
  chkRockRidgePublic->setEnabled(chkRockRidge->isChecked());
  auto* group = new QGroupBox(this);
  auto* boxes = new QVBoxLayout(group);
  boxes->addWidget(chkRockRidge);
  boxes->addWidget(chkRockRidgePublic);
  return group;
}

// What goes into the image: label, cache and boot image on the right.
QLayout* TfrmOptions::ImageFields() {
  auto* bootRow = new QHBoxLayout;
  bootRow->addWidget(edtBootImage);
  bootRow->addWidget(SpeedButton1);
  auto* fields = new QFormLayout;
  fields->setRowWrapPolicy(QFormLayout::WrapLongRows);
  fields->addRow(QStringLiteral("Volume Label:"), edtVolumeID);
  fields->addRow(QStringLiteral("Cache Size (MB):"), edtCacheSize);
  fields->addRow(chkBootImage);
  fields->addRow(bootRow);
  fields->addRow(sCheckVerify);
  fields->addRow(chkImportSession, edtImportSession);
  return fields;
}

QString TfrmOptions::DefaultBootImage() {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("DosBootimage.IMA"));
}

void TfrmOptions::FormShow() {
  if (edtBootImage->text().isEmpty()) edtBootImage->setText(DefaultBootImage());
}

void TfrmOptions::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfrmOptions::SpeedButton1Click() {
  const QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("Boot Image"), edtBootImage->text(),
                                                      QStringLiteral("All Files (*)"));
  if (!chosen.isEmpty()) edtBootImage->setText(QDir::toNativeSeparators(chosen));
}

void TfrmOptions::LoadFromComponent(const kilnor::TKilnorPro& kilnor) {
  chkTestWrite->setChecked(kilnor.TestWrite());
  chkUDFBridge->setChecked(kilnor.UDFBridge());
  chkFinalizeDisc->setChecked(kilnor.FinalizeDisc());
  chkJolietFS->setChecked(kilnor.JolietFileSystem());
  chkUnderrunProtection->setChecked(kilnor.BurnProof());
  chkRockRidge->setChecked(kilnor.RockRidge());
  chkRockRidgePublic->setChecked(kilnor.RockRidgePublic());
  edtVolumeID->setText(QString::fromStdU16String(kilnor.VolumeIDW()));
  edtCacheSize->setText(QString::number(kilnor.CacheSize()));
  const QString bootImage = QString::fromStdString(kilnor.BootImage());
  if (!bootImage.isEmpty()) {
    edtBootImage->setText(bootImage);
    chkBootImage->setChecked(true);
  }
}

void TfrmOptions::StoreToComponent(kilnor::TKilnorPro& kilnor) const {
  kilnor.SetTestWrite(chkTestWrite->isChecked());
  kilnor.SetUDFBridge(chkUDFBridge->isChecked());
  kilnor.SetFinalizeDisc(chkFinalizeDisc->isChecked());
  kilnor.SetJolietFileSystem(chkJolietFS->isChecked());
  kilnor.SetBurnProof(chkUnderrunProtection->isChecked());
  kilnor.SetRockRidge(chkRockRidge->isChecked());
  kilnor.SetRockRidgePublic(chkRockRidgePublic->isChecked());
  kilnor.SetVolumeIDW(edtVolumeID->text().toStdU16String());
  kilnor.SetCacheSize(CacheSizeOf(edtCacheSize->text()));
}

std::uint32_t TfrmOptions::CacheSizeOf(const QString& text) {
  bool isNumber = false;
  const qlonglong megabytes = text.trimmed().toLongLong(&isNumber, 10);
  if (!isNumber) return kilnor::kMinCacheSizeMB;
  return static_cast<std::uint32_t>(
      std::clamp<qlonglong>(megabytes, kilnor::kMinCacheSizeMB, kilnor::kMaxCacheSizeMB));
}
