#include "app/Infos.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>
#include <array>

namespace {

using TBoxMember = QCheckBox* TFrmInfos::*;

// One row of the capability grid: its caption and the DeviceCan numbers of
// its read and write boxes (no write box for the read-only media).
struct TMediumRow {
  const char* Caption;
  TBoxMember Read;
  std::uint8_t ReadID;
  TBoxMember Write;
  std::uint8_t WriteID;
};

constexpr std::array kMediumRows{
    TMediumRow{"CDR ", &TFrmInfos::CheckDC_READ_CDR, 1, &TFrmInfos::CheckDC_WRITE_CDR, 21},
    TMediumRow{"CDRW", &TFrmInfos::CheckDC_READ_CDRW, 2, &TFrmInfos::CheckDC_WRITE_CDRW, 22},
    TMediumRow{"DVD RAM", &TFrmInfos::CheckDC_READ_DVDRAM, 3, &TFrmInfos::CheckDC_WRITE_DVDRAM, 23},
    TMediumRow{"DVDR", &TFrmInfos::CheckDC_READ_DVDR, 4, &TFrmInfos::CheckDC_WRITE_DVDR, 24},
    TMediumRow{"DVDRW", &TFrmInfos::CheckDC_READ_DVDRW, 5, &TFrmInfos::CheckDC_WRITE_DVDRW, 25},
    TMediumRow{"DVD+R", &TFrmInfos::CheckDC_READ_DVDPLUSR, 6, &TFrmInfos::CheckDC_WRITE_DVDPLUSR, 26},
    TMediumRow{"DVD+R DL", &TFrmInfos::CheckDC_READ_DVDPLUSRDL, 8, &TFrmInfos::CheckDC_WRITE_DVDPLUSRDL, 28},
    TMediumRow{"DVD+ RW", &TFrmInfos::CheckDC_READ_DVDPLUSRW, 7, &TFrmInfos::CheckDC_WRITE_DVDPLUSRW, 27},
    TMediumRow{"HD DVD ROM", &TFrmInfos::CheckDC_READ_HDDVDROM, 9, nullptr, 0},
    TMediumRow{"HD DVD R", &TFrmInfos::CheckDC_READ_HDDVDR, 10, &TFrmInfos::CheckDC_WRITE_HDDVDR, 29},
    TMediumRow{"HD DVD RAM", &TFrmInfos::CheckDC_READ_HDDVDRAM, 11, &TFrmInfos::CheckDC_WRITE_HDDVDRAM, 30},
    TMediumRow{"BD ROM", &TFrmInfos::CheckDC_READ_BDROM, 12, nullptr, 0},
    TMediumRow{"BDR", &TFrmInfos::CheckDC_READ_BDR, 13, &TFrmInfos::CheckDC_WRITE_BDR, 31},
    TMediumRow{"BDRE", &TFrmInfos::CheckDC_READ_BDRE, 14, &TFrmInfos::CheckDC_WRITE_BDRE, 32},
};

constexpr std::uint8_t kCanTestWrite = 41;
constexpr std::uint8_t kCanUnderrunProtection = 42;

// The window only reports: its boxes look like boxes but take no clicks.
QCheckBox* ReportBox(const QString& caption, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setAttribute(Qt::WA_TransparentForMouseEvents);
  box->setFocusPolicy(Qt::NoFocus);
  return box;
}

// Numbers with the user's group separators, also where the locale leaves
// them out by default.
QLocale DisplayLocale() {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale;
}

// Sectors of 2,048 bytes as megabytes of 1,048,576 bytes: "4,482.50 MB".
QString Megabytes(std::uint32_t blocks) {
  return DisplayLocale().toString(blocks / 512.0, 'f', 2) + QStringLiteral(" MB");
}

QString KilobytesPerSecond(std::uint16_t speed) {
  return QLatin1Char(' ') + DisplayLocale().toString(speed) + QStringLiteral(" KB/s");
}

}  // namespace

QString MediumName(kilnor::TMedium medium) {
  const std::string_view name = kilnor::TKilnorPro::MediumName(medium);
  return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

TFrmInfos::TFrmInfos(QWidget* parent)
    : QDialog(parent),
      CheckTestUnitReady(ReportBox(QStringLiteral("Device is ready and media is present"), this)),
      CheckErasable(ReportBox(QStringLiteral("DISC Erasable"), this)),
      CheckWritable(ReportBox(QStringLiteral("DISC Writable"), this)),
      CheckDC_TEST_WRITE(ReportBox(QStringLiteral("Test Write"), this)),
      CheckDC_UNDERRUNPROTECTION(ReportBox(QStringLiteral("UNDERRUN PROTECTION"), this)),
      LabelDiscIs(new QLabel(this)),
      LabelTotalBlocksOnDisc(new QLabel(this)),
      LabelFreeBlocksOnDisc(new QLabel(this)),
      LabelMaxWriteSpeed(new QLabel(this)),
      LabelReadSpeed(new QLabel(this)),
      LabelWriteSpeed(new QLabel(this)),
      LabelDeviceMaxReadSpeed(new QLabel(this)),
      LabelDeviceMaxWriteSpeed(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Infos"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

  auto* columns = new QHBoxLayout(this);
  columns->addLayout(DiscColumn(), 1);
  columns->addWidget(MediaGrid());
  resize(608, 353);
}

// The boxes about the drive and its medium, then the sizes and speeds.
QLayout* TFrmInfos::DiscColumn() {
  auto* discGroup = new QGroupBox(this);
  auto* discBoxes = new QVBoxLayout(discGroup);
  for (QCheckBox* box : {CheckTestUnitReady, CheckErasable, CheckWritable, CheckDC_TEST_WRITE,
                         CheckDC_UNDERRUNPROTECTION}) {
    discBoxes->addWidget(box);
  }
  auto* values = new QFormLayout;
  values->addRow(QStringLiteral("Disc in drive:"), LabelDiscIs);
  values->addRow(QStringLiteral("Total Size:"), LabelTotalBlocksOnDisc);
  values->addRow(QStringLiteral("Free size:"), LabelFreeBlocksOnDisc);
  values->addRow(QStringLiteral("Max write speed:"), LabelMaxWriteSpeed);
  values->addRow(QStringLiteral("Read speed:"), LabelReadSpeed);
  values->addRow(QStringLiteral("Write speed:"), LabelWriteSpeed);
  values->addRow(QStringLiteral("Device Max Read Speed:"), LabelDeviceMaxReadSpeed);
  values->addRow(QStringLiteral("Device Max Write Speed:"), LabelDeviceMaxWriteSpeed);
  auto* column = new QVBoxLayout;
  column->addWidget(discGroup);
  column->addLayout(values);
  column->addStretch();
  return column;
}

// One row per medium kind: can the drive read it, can it write it.
QWidget* TFrmInfos::MediaGrid() {
  auto* mediaGroup = new QGroupBox(this);
  auto* grid = new QGridLayout(mediaGroup);
  grid->addWidget(new QLabel(QStringLiteral("Read"), mediaGroup), 0, 1, Qt::AlignHCenter);
  grid->addWidget(new QLabel(QStringLiteral("Write"), mediaGroup), 0, 2, Qt::AlignHCenter);
  int row = 1;
  for (const TMediumRow& medium : kMediumRows) {
    grid->addWidget(new QLabel(QString::fromLatin1(medium.Caption), mediaGroup), row, 0);
    this->*medium.Read = ReportBox(QString(), mediaGroup);
    grid->addWidget(this->*medium.Read, row, 1, Qt::AlignHCenter);
    if (medium.Write) {
      this->*medium.Write = ReportBox(QString(), mediaGroup);
      grid->addWidget(this->*medium.Write, row, 2, Qt::AlignHCenter);
    }
    ++row;
  }
  return mediaGroup;
}

std::vector<TFrmInfos::TCapabilityBox> TFrmInfos::CapabilityBoxes() const {
  std::vector<TCapabilityBox> boxes;
  for (const TMediumRow& medium : kMediumRows) boxes.push_back({this->*medium.Read, medium.ReadID});
  for (const TMediumRow& medium : kMediumRows) {
    if (medium.Write) boxes.push_back({this->*medium.Write, medium.WriteID});
  }
  return boxes;
}

void TFrmInfos::Fill(kilnor::TKilnorPro& kilnor) {
  CheckTestUnitReady->setChecked(kilnor.TestUnitReady());
  LabelDiscIs->setText(MediumName(kilnor.DiscIs()).mid(2));
  CheckErasable->setChecked(kilnor.Erasable());
  CheckWritable->setChecked(kilnor.Writable());
  LabelTotalBlocksOnDisc->setText(Megabytes(kilnor.TotalBlocksOnDisc()));
  LabelFreeBlocksOnDisc->setText(Megabytes(kilnor.FreeBlocksOnDisc()));
  LabelMaxWriteSpeed->setText(KilobytesPerSecond(kilnor.MaxWriteSpeed()));
  LabelReadSpeed->setText(KilobytesPerSecond(kilnor.ReadSpeed()));
  LabelWriteSpeed->setText(KilobytesPerSecond(kilnor.WriteSpeed()));
  LabelDeviceMaxReadSpeed->setText(KilobytesPerSecond(kilnor.DeviceMaxReadSpeed()));
  LabelDeviceMaxWriteSpeed->setText(KilobytesPerSecond(kilnor.DeviceMaxWriteSpeed()));
  CheckDC_TEST_WRITE->setChecked(kilnor.DeviceCan(kCanTestWrite));
  CheckDC_UNDERRUNPROTECTION->setChecked(kilnor.DeviceCan(kCanUnderrunProtection));
  for (const TCapabilityBox& capability : CapabilityBoxes()) {
    capability.Box->setChecked(kilnor.DeviceCan(capability.DeviceCapabilityID));
  }
}
