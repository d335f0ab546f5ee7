#include "app/NumberTexts.h"

#include <QLocale>

namespace {

[[nodiscard]] QString Formatted(double Value, int Decimals, bool Grouped) {
  QLocale locale;
  QLocale::NumberOptions options = locale.numberOptions();
  options.setFlag(QLocale::OmitGroupSeparator, !Grouped);
  locale.setNumberOptions(options);
  return locale.toString(Value, 'f', Decimals);
}

}  // namespace

QString GroupedNumber(double Value, int Decimals) { return Formatted(Value, Decimals, true); }

QString PlainNumber(double Value, int Decimals) { return Formatted(Value, Decimals, false); }

QString Megabytes(double Bytes) { return GroupedNumber(Bytes / 1024 / 1024, 2); }
