// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/regional.h"

#include "common/text.h"

namespace veldra::regional {

namespace {

void twoDigits(char16_t* at, int v)
{
    at[0] = char16_t(u'0' + v / 10);
    at[1] = char16_t(u'0' + v % 10);
}

}  // namespace

// The formats written out by hand: a database answer formats two of them per row.
QString shortDate(const QDate& d)
{
    int y = 0, m = 0, day = 0;
    d.getDate(&y, &m, &day);
    if (!d.isValid() || y < 1 || y > 9999) return d.toString(QString::fromLatin1(kShortDateFormat));
    char16_t text[10];  // dd.MM.yyyy
    twoDigits(text, day);
    text[2] = u'.';
    twoDigits(text + 3, m);
    text[5] = u'.';
    twoDigits(text + 6, y / 100);
    twoDigits(text + 8, y % 100);
    return QString(reinterpret_cast<const QChar*>(text), 10);
}

QString longTime(const QTime& t)
{
    if (!t.isValid()) return t.toString(QString::fromLatin1(kLongTimeFormat));
    char16_t text[8];  // HH:mm:ss
    twoDigits(text, t.hour());
    text[2] = u':';
    twoDigits(text + 3, t.minute());
    text[5] = u':';
    twoDigits(text + 6, t.second());
    return QString(reinterpret_cast<const QChar*>(text), 8);
}

QString timeStamp(const QDateTime& dt)
{
    const QTime t = dt.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0 && t.msec() == 0) return shortDate(dt.date());
    return shortDate(dt.date()) + u' ' + longTime(t);
}

QString timeStamp() { return timeStamp(QDateTime::currentDateTime()); }

QString fileStamp(const QDateTime& dt) { return lettersAndDigits(timeStamp(dt)); }

QString fileStamp() { return fileStamp(QDateTime::currentDateTime()); }

QDate parseShortDate(const QString& text) { return QDate::fromString(text, QString::fromLatin1(kShortDateFormat)); }

}  // namespace veldra::regional
