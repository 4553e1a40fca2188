// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The regional format of the machine, kept in one place: short date dd.MM.yyyy,
// long time HH:mm:ss, decimal separator ".".
#include <QDate>
#include <QDateTime>
#include <QString>

namespace veldra::regional {

inline constexpr const char* kShortDateFormat = "dd.MM.yyyy";
inline constexpr const char* kLongTimeFormat = "HH:mm:ss";
inline constexpr QChar kDecimalSeparator = u'.';

QString shortDate(const QDate& d);
QString longTime(const QTime& t);
// Date, one blank, time; the time part is left out at exactly midnight.
QString timeStamp(const QDateTime& dt);
QString timeStamp();  // now, local time
// The time stamp, trimmed, with every character that is not an ASCII letter or digit removed.
QString fileStamp(const QDateTime& dt);
QString fileStamp();
// Parses a short date; an invalid QDate when the text is not one.
QDate parseShortDate(const QString& text);

}  // namespace veldra::regional
