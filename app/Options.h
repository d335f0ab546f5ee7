#pragma once
// The options dialog: the burn settings the main window copies into the
// component before every burn. It has no OK or Cancel button; closing it
// keeps what was entered.
#include <QDialog>
#include <QString>
#include <cstdint>

#include "engine/KilnorPro.h"

class QCheckBox;
class QLayout;
class QLineEdit;
class QToolButton;

class TfrmOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmOptions(QWidget* parent = nullptr);

  QCheckBox* chkTestWrite;
  QCheckBox* chkUDFBridge;
  QCheckBox* chkFinalizeDisc;
  QCheckBox* chkJolietFS;
  QCheckBox* chkUnderrunProtection;
  QCheckBox* sCheckEject;
  QCheckBox* chkRockRidge;
  QCheckBox* chkRockRidgePublic;
  QCheckBox* chkBootImage;
  QCheckBox* sCheckVerify;
  QCheckBox* chkImportSession;
  QLineEdit* edtVolumeID;
  QLineEdit* edtCacheSize;
  QLineEdit* edtBootImage;
  QLineEdit* edtImportSession;
  QToolButton* SpeedButton1;

  // Offers the program folder's "DosBootimage.IMA" when no boot image has
  // been chosen yet; a path the user picked stays.
  void FormShow();
  // Lets the user pick the boot image, starting at the current path.
  void SpeedButton1Click();

  // The main window's options button copies the component in before the
  // dialog is shown and back out when it closes.
  void LoadFromComponent(const kilnor::TKilnorPro& kilnor);
  void StoreToComponent(kilnor::TKilnorPro& kilnor) const;

  // The cache size text as megabytes, within the range the component keeps;
  // 2 when the text is not a decimal integer.
  [[nodiscard]] static std::uint32_t CacheSizeOf(const QString& text);

  // Where FormShow looks for the boot image: the program's own folder.
  [[nodiscard]] static QString DefaultBootImage();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  [[nodiscard]] QWidget* BurnGroup();
  [[nodiscard]] QWidget* RockRidgeGroup();
  [[nodiscard]] QLayout* ImageFields();
};
