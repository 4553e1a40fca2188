// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/text.h"

namespace veldra {

QString trim(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 32) ++b;
    while (e > b && s.at(e - 1).unicode() <= 32) --e;
    return s.mid(b, e - b);
}

bool isBlank(QByteArrayView bytes)
{
    for (char c : bytes)
        if (uchar(c) > 32) return false;
    return true;
}

QString textBetween(const QString& s, const QString& start, const QString& end)
{
    const qsizetype a = s.indexOf(start);
    if (a < 0) return {};
    const qsizetype from = a + start.size();
    const qsizetype b = s.indexOf(end, from);
    if (b < 0) return {};
    return s.mid(from, b - from);
}

QString replaceAllNoCase(const QString& s, const QString& what, const QString& with)
{
    if (what.isEmpty()) return s;
    QString out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype hit = s.indexOf(what, pos, Qt::CaseInsensitive);
        if (hit < 0) break;
        out += QStringView(s).mid(pos, hit - pos);
        out += with;
        pos = hit + what.size();
    }
    out += QStringView(s).mid(pos);
    return out;
}

QString lettersAndDigits(const QString& s)
{
    QString out;
    for (QChar c : trim(s)) {
        const ushort u = c.unicode();
        if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')) out += c;
    }
    return out;
}

QStringList splitLines(const QString& s)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s.at(i);
        if (c == u'\r' || c == u'\n') {
            lines << s.mid(start, i - start);
            if (c == u'\r' && i + 1 < n && s.at(i + 1) == u'\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < n) lines << s.mid(start);
    return lines;
}

QString oneLine(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

bool toInt32(const QString& s, qint32& out)
{
    bool ok = false;
    const int v = s.toInt(&ok, 10);
    if (ok) out = v;
    return ok;
}

}  // namespace veldra
