#pragma once
// The speed list `cbSpeed`: it asks to be rebuilt each time it is about to
// open, so the list shows what the drive accepts for the medium now in it.
// Each item but "Max" carries the speed it shows, in KB/s.
#include <QComboBox>

class TSpeedComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TSpeedComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}
  void showPopup() override;

 signals:
  void AboutToOpen();
};
