// SPDX-License-Identifier: GPL-3.0-or-later
#include "access/accesslists.h"

#include "common/errors.h"
#include "common/eventlog.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "common/text.h"
#include "config/database.h"

namespace veldra {

namespace {

int fieldIndex(const DbResult& r, const QString& name)
{
    const int i = int(r.fieldNames().indexOf(name));
    if (i < 0) throw DbError(QStringLiteral("EDatabaseError"), u'\'' + name + QStringLiteral("' field not found"));
    return i;
}

}  // namespace

AccessLists initialAccessLists()
{
    AccessLists l;
    l.white << whiteListLine(QString(), QString(), QString(), QString(), QString());
    l.black << QStringLiteral("<IP>BLOCK IP</IP>") << QStringLiteral("<SECCODE>BLOCK SECURE CODE</SECCODE>")
            << QStringLiteral("<EMAIL>BLOCK EMAIL</EMAIL>");
    return l;
}

namespace {
constexpr char16_t kOpenMark = u'\u2039';
constexpr char16_t kCloseMark = u'\u203a';
}  // namespace

QString listValue(const QString& value)
{
    if (!value.contains(u'<') && !value.contains(u'>')) return value;
    QString out = value;
    out.replace(u'<', kOpenMark).replace(u'>', kCloseMark);
    return out;
}

bool holdsListMarker(const QString& value)
{
    for (QChar c : value)
        if (c == u'<' || c == u'>' || c == kOpenMark || c == kCloseMark) return true;
    return false;
}

QString lineField(const QString& line, const QString& tag)
{
    return textBetween(line, u'<' + tag + u'>', QStringLiteral("</") + tag + u'>');
}

QString whiteListLine(const QString& id, const QString& email, const QString& seccode, const QString& todate,
                      const QString& note)
{
    return QStringLiteral("<id>") + listValue(id) + QStringLiteral("</id><email>") + listValue(email) +
           QStringLiteral("</email><seccode>") + listValue(seccode) + QStringLiteral("</seccode><todate>") +
           listValue(todate) + QStringLiteral("</todate><note>") + listValue(note) + QStringLiteral("</note>");
}

QString blackListLine(const QString& blockType, const QString& value)
{
    const QString type = listValue(blockType);
    return u'<' + type + u'>' + listValue(value) + QStringLiteral("</") + type + u'>';
}

AccessLookup::AccessLookup(const AccessLists& lists)
{
    for (const QString& original : lists.black) {
        const QString line = original.toLower();
        if (!line.startsWith(u'<')) continue;
        const qsizetype close = line.indexOf(u'>');
        if (close < 0) continue;
        const QString type = line.mid(1, close - 1);
        const QString value = lineField(line, type);
        if (type == u"email")
            m_blockedEmails.insert(value);
        else if (type == u"seccode")
            m_blockedCodes.insert(value);
        else if (type == u"ip")
            m_blockedAddresses.insert(value);
    }

    for (const QString& original : lists.white) {
        const QString line = original.toLower();
        const QString lineEmail = lineField(line, QStringLiteral("email"));
        const QString lineCode = lineField(line, QStringLiteral("seccode"));
        if (holdsListMarker(lineEmail) || holdsListMarker(lineCode)) continue;
        const QString d = lineField(line, QStringLiteral("todate"));
        const QDate date = regional::parseShortDate(d);
        if (!date.isValid()) continue;
        m_white[{lineEmail, lineCode}].push_back({date, d});
    }
}

AccessDecision AccessLookup::decide(const QString& email, const QString& seccode, const QString& address,
                                    const QDateTime& now) const
{
    // The request's values in the form the lines show them, so that a request's "<" can
    // only ever be compared with a field's "<".
    const QString e = listValue(email.toLower());
    const QString c = listValue(seccode.toLower());
    const QString a = listValue(address.toLower());

    if (m_blockedEmails.count(e) || m_blockedCodes.count(c) || m_blockedAddresses.count(a))
        return {AccessDecision::Kind::Blocked, QString()};

    const auto found = m_white.find({e, c});
    if (found == m_white.end()) return {};
    // Registered up to 00:00:00 of the end date. The local date and time are compared as
    // they stand: making the end date's instant would ask the time zone on every request.
    const QDate today = now.date();
    const bool pastMidnight = now.time() > QTime(0, 0);
    for (const Candidate& line : found->second) {
        if (today > line.date || (today == line.date && pastMidnight)) continue;
        return {AccessDecision::Kind::Registered, line.endDate};
    }
    return {};
}

AccessDecision CheckClientAccess(const AccessLists& lists, const QString& email, const QString& seccode,
                                 const QString& address, const QDateTime& now)
{
    return AccessLookup(lists).decide(email, seccode, address, now);
}

QStringList sortByItems()
{
    return {QStringLiteral("IDS"), QStringLiteral("EMAIL"), QStringLiteral("SECCODE"), QStringLiteral("DATEACTIVE")};
}

QString whiteListSql(bool showOnlyActiveClients, int sortBy)
{
    QStringList lines{QStringLiteral("SELECT * FROM clients_veldra")};
    if (showOnlyActiveClients) lines << QStringLiteral(" WHERE `todate` >= DATE(NOW())");
    switch (sortBy) {
    case 0: lines << QStringLiteral("ORDER BY `id`; "); break;
    case 1: lines << QStringLiteral("ORDER BY `email` ASC;"); break;
    case 2: lines << QStringLiteral("ORDER BY `seccode` ASC;"); break;
    case 3: lines << QStringLiteral("ORDER BY `todate` DESC;"); break;
    default: break;
    }
    return lines.join(QStringLiteral("\r\n"));
}

QString blackListSql() { return QStringLiteral("SELECT * FROM blacklist_veldra ORDER BY `blocktype`;"); }

ClientAccessLists::ClientAccessLists() : m_lists(Loaded(initialAccessLists())) {}

void ClientAccessLists::changed()
{
    if (onChanged) onChanged();
}

QString ClientAccessLists::whiteCountText() const { return QStringLiteral("WHITE :: [%1]").arg(m_whiteCount); }

QString ClientAccessLists::blackCountText() const { return QStringLiteral("BLACK :: [%1]").arg(m_blackCount); }

void ClientAccessLists::resetCounts()
{
    m_whiteCount = 0;
    m_blackCount = 0;
    changed();
}

void ClientAccessLists::LoadListClientsAccess(DatabaseConnections& connections, const DbParams& client,
                                              const DbParams& work)
{
    VELDRA_ASSERT_MAIN_THREAD();
    connections.TestConnect(client, work);
    if (!connections.DataClients.connected()) {
        m_busy = false;
        return;
    }
    if (m_busy) return;
    m_busy = true;

    // The new lists are published once, at the end, so a request sees either the old
    // lists or the new ones.
    AccessLists next;
    auto finish = [this, &next] {
        m_lists.store(Loaded(std::move(next)));
        m_busy = false;
        changed();
    };
    try {
        {
            auto r = connections.DataClients.openBuffered(whiteListSql(showOnlyActiveClients, sortBy));
            const int id = fieldIndex(*r, QStringLiteral("id"));
            const int email = fieldIndex(*r, QStringLiteral("email"));
            const int seccode = fieldIndex(*r, QStringLiteral("seccode"));
            const int todate = fieldIndex(*r, QStringLiteral("todate"));
            const int note = fieldIndex(*r, QStringLiteral("note"));
            while (r->next())
                next.white << whiteListLine(r->value(id), r->value(email), r->value(seccode), r->value(todate),
                                            r->value(note));
            m_whiteCount = int(next.white.size());
        }
        {
            auto r = connections.DataClients.openBuffered(blackListSql());
            const int type = fieldIndex(*r, QStringLiteral("blocktype"));
            const int value = fieldIndex(*r, QStringLiteral("value"));
            while (r->next()) next.black << blackListLine(r->value(type), r->value(value));
            m_blackCount = int(next.black.size());
        }
    } catch (...) {
        const QString details = currentErrorTypeAndMessage();
        try {
            EventLog::instance().append(u'[' + regional::timeStamp() +
                                        QStringLiteral("] \t{LoadListClientsAccess}  Error|msg = [") + details + u']');
        } catch (...) {
            // The log's size check could not save it: the load still ends, then the
            // failure goes on to the caller.
            finish();
            throw;
        }
    }
    finish();
}

int ClientAccessLists::ListOptionChanged(int selectedBlack, DatabaseConnections& connections, const DbParams& client,
                                         const DbParams& work)
{
    VELDRA_ASSERT_MAIN_THREAD();
    LoadListClientsAccess(connections, client, work);
    const auto l = lists();
    return selectedBlack >= 0 && selectedBlack < l->black.size() ? selectedBlack : -1;
}

AccessDecision ClientAccessLists::CheckClientAccess(const QString& email, const QString& seccode,
                                                    const QString& address) const
{
    const auto loaded = m_lists.load();
    return loaded->lookup.decide(email, seccode, address, QDateTime::currentDateTime());
}

}  // namespace veldra
