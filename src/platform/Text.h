#ifndef KAVELO_PLATFORM_TEXT_H
#define KAVELO_PLATFORM_TEXT_H

#include <QString>
#include <QStringView>

namespace kavelo::platform {

// Removes leading and trailing U+0020 only; the full-width space U+3000 and other white space stay.
QString Trim(QStringView text);
QStringView TrimView(QStringView text);

// Removes trailing U+0020 only: the comparison form of keys ("ABC " matches "ABC").
QStringView TrimTrailing(QStringView text);

// "," becomes "." and "，" becomes "．"; nothing else changes, the length stays.
QString ReplaceCommas(QString text);

// The value's text left-padded with "0" to `width`; longer text comes back unchanged, a sign stays where it is
// (-5 gives 00-5).
QString ZeroPad(int width, qint64 value);
QString ZeroPad(int width, const QString& value);

} // namespace kavelo::platform

#endif
