// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/accessscan.h"

#include "common/regional.h"

namespace veldra::test {

AccessDecision scanClientAccess(const AccessLists& lists, const QString& email, const QString& seccode,
                                const QString& address, const QDateTime& now)
{
    const QString e = listValue(email.toLower());
    const QString c = listValue(seccode.toLower());
    const QString a = listValue(address.toLower());

    for (const QString& original : lists.black) {
        const QString line = original.toLower();
        if (!line.startsWith(u'<')) continue;
        const qsizetype close = line.indexOf(u'>');
        if (close < 0) continue;
        const QString type = line.mid(1, close - 1);
        const QString value = lineField(line, type);
        if ((type == u"email" && value == e) || (type == u"seccode" && value == c) || (type == u"ip" && value == a))
            return {AccessDecision::Kind::Blocked, QString()};
    }

    for (const QString& original : lists.white) {
        const QString line = original.toLower();
        const QString lineEmail = lineField(line, QStringLiteral("email"));
        const QString lineCode = lineField(line, QStringLiteral("seccode"));
        if (lineEmail != e || lineCode != c || holdsListMarker(lineEmail) || holdsListMarker(lineCode)) continue;
        const QString d = lineField(line, QStringLiteral("todate"));
        const QDate date = regional::parseShortDate(d);
        if (!date.isValid()) continue;
        if (now > QDateTime(date, QTime(0, 0))) continue;
        return {AccessDecision::Kind::Registered, d};
    }
    return {};
}

}  // namespace veldra::test
