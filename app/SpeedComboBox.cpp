#include "app/SpeedComboBox.h"

void TSpeedComboBox::showPopup() {
  emit AboutToOpen();
  QComboBox::showPopup();
}
