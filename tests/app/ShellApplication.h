#pragma once
// What the shell's tests share: the application object their widgets need
// (made before the first test and ended after the last, ShellApplication.cpp)
// and readable texts in failure messages.
#include <QString>
#include <ostream>

// Failure messages show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
