#include "common/regional.h"

#include "common/text.h"

namespace veldra::regional {

QString shortDate(const QDate& d) { return d.toString(QString::fromLatin1(kShortDateFormat)); }

QString longTime(const QTime& t) { return t.toString(QString::fromLatin1(kLongTimeFormat)); }

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
