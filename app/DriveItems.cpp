#include "app/DriveItems.h"

#include <cmath>

#include "app/NumberTexts.h"

QString DriveItemText(const std::string& DeviceName) {
  QString text = QString::fromStdString(DeviceName);
  const qsizetype comma = text.indexOf(',');
  if (comma >= 0) text.remove(0, comma + 1);
  if (text.endsWith(' ')) text.chop(1);
  return text;
}

double SpeedFactor(double KBps, double Base) { return std::nearbyint(KBps / Base); }

QString SpeedItemText(double KBps, double Base) {
  return PlainNumber(SpeedFactor(KBps, Base), 0) + "x (" + GroupedNumber(KBps, 0) + " KB/s)";
}
