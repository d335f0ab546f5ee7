#pragma once
// The media information window: what the selected drive and its medium can
// do, taken from the component at the moment it is filled.
#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/KilnorPro.h"

class QCheckBox;
class QLabel;
class QLayout;

class TFrmInfos : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmInfos(QWidget* parent = nullptr);

  QCheckBox* CheckTestUnitReady;
  QCheckBox* CheckErasable;
  QCheckBox* CheckWritable;
  QCheckBox* CheckDC_TEST_WRITE;
  QCheckBox* CheckDC_UNDERRUNPROTECTION;

  QLabel* LabelDiscIs;
  QLabel* LabelTotalBlocksOnDisc;
  QLabel* LabelFreeBlocksOnDisc;
  QLabel* LabelMaxWriteSpeed;
  QLabel* LabelReadSpeed;
  QLabel* LabelWriteSpeed;
  QLabel* LabelDeviceMaxReadSpeed;
  QLabel* LabelDeviceMaxWriteSpeed;

  QCheckBox* CheckDC_READ_CDR;
  QCheckBox* CheckDC_READ_CDRW;
  QCheckBox* CheckDC_READ_DVDRAM;
  QCheckBox* CheckDC_READ_DVDR;
  QCheckBox* CheckDC_READ_DVDRW;
  QCheckBox* CheckDC_READ_DVDPLUSR;
  QCheckBox* CheckDC_READ_DVDPLUSRDL;
  QCheckBox* CheckDC_READ_DVDPLUSRW;
  QCheckBox* CheckDC_READ_HDDVDROM;
  QCheckBox* CheckDC_READ_HDDVDR;
  QCheckBox* CheckDC_READ_HDDVDRAM;
  QCheckBox* CheckDC_READ_BDROM;
  QCheckBox* CheckDC_READ_BDR;
  QCheckBox* CheckDC_READ_BDRE;

  QCheckBox* CheckDC_WRITE_CDR;
  QCheckBox* CheckDC_WRITE_CDRW;
  QCheckBox* CheckDC_WRITE_DVDRAM;
  QCheckBox* CheckDC_WRITE_DVDR;
  QCheckBox* CheckDC_WRITE_DVDRW;
  QCheckBox* CheckDC_WRITE_DVDPLUSR;
  QCheckBox* CheckDC_WRITE_DVDPLUSRDL;
  QCheckBox* CheckDC_WRITE_DVDPLUSRW;
  QCheckBox* CheckDC_WRITE_HDDVDR;
  QCheckBox* CheckDC_WRITE_HDDVDRAM;
  QCheckBox* CheckDC_WRITE_BDR;
  QCheckBox* CheckDC_WRITE_BDRE;

  // Asks the component about the selected drive and shows the answers. The
  // queries send drive commands: call it while no operation runs.
  void Fill(kilnor::TKilnorPro& kilnor);

 private:
  [[nodiscard]] QLayout* DiscColumn();
  [[nodiscard]] QWidget* MediaGrid();

  struct TCapabilityBox {
    QCheckBox* Box;
    std::uint8_t DeviceCapabilityID;
  };
  // The read column then the write column, each in the order they are asked.
  [[nodiscard]] std::vector<TCapabilityBox> CapabilityBoxes() const;
};

// The medium names the window shows without their first two characters
// ("mtUNKNOWN" ... "mtDDCDRW"; a sequential-recording BD-R is "mtBDR").
[[nodiscard]] QString MediumName(kilnor::TMedium medium);
