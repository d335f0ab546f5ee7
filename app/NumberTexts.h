#pragma once
// Numbers as the windows show them, in the user's locale: with thousands
// separators ("1,234.50") or without ("1234.50").
#include <QString>

[[nodiscard]] QString GroupedNumber(double Value, int Decimals);
[[nodiscard]] QString PlainNumber(double Value, int Decimals);
// Megabytes of 1,048,576 bytes, grouped with two decimals.
[[nodiscard]] QString Megabytes(double Bytes);
