// SPDX-License-Identifier: GPL-3.0-or-later
#include "access/clientadmin.h"

#include "access/accesslists.h"

#include <QRandomGenerator>

#include "common/errors.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/regional.h"
#include "common/text.h"

namespace veldra {

namespace {

const QString kNotConnected = QStringLiteral("Not connected with database !!!");
const QString kBadEmail = QStringLiteral("EMAIL is not valid value !!!");
const QString kShortSeccode =
    QStringLiteral("SECCODE is empty value or is short string (must will more 10 sysmbols) !!!");
const QString kSeccodeMarkers = QStringLiteral("SECCODE must not hold the characters < and > !!!");
const QString kValueMarkers = QStringLiteral("VALUE must not hold the characters < and > !!!");

bool isAtom(char16_t c)
{
    if (c < 33 || c > 255 || c == 127) return false;
    switch (c) {
    case u'"': case u'(': case u')': case u'<': case u'>': case u'@': case u',': case u';': case u':':
    case u'\\': case u'/': case u'.': case u'[': case u']':
        return false;
    default:
        return true;
    }
}
// "<" and ">" are not even quoted: a list line shows an e-mail between such markers.
bool isMarker(char16_t c) { return c == u'<' || c == u'>'; }
bool isQuoted(char16_t c) { return c <= 255 && c != 13 && c != 34 && c != 92 && !isMarker(c); }
bool isLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool isLetterOrDigit(char16_t c) { return isLetter(c) || (c >= u'0' && c <= u'9'); }

// A date as the statements read it: STR_TO_DATE(.., '%d.%m.%Y').
QString sqlDate(const QDate& d) { return QStringLiteral("DATE_FORMAT(STR_TO_DATE('") + regional::shortDate(d) +
                                         QStringLiteral("', '%d.%m.%Y'), '%Y-%m-%d')"); }

QString blacklistInsert(DbConnection& c, const QString& type, const QString& value)
{
    return QStringLiteral("INSERT IGNORE INTO blacklist_veldra (`blocktype`, `value`) VALUES('") + c.escapeString(type) +
           QStringLiteral("','") + c.escapeString(value) + QStringLiteral("');");
}

}  // namespace

bool IsValidEmailAddress(const QString& text)
{
    enum State { Begin, AtomText, QuotedText, QuotedChar, AfterQuote, LocalPeriod, ExpectDomain, Domain, Hyphen };
    State s = Begin;
    int parts = 1;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        switch (s) {
        case Begin:
            if (isAtom(c)) s = AtomText;
            else if (c == u'"') s = QuotedText;
            else return false;
            break;
        case AtomText:
            if (c == u'@') s = ExpectDomain;
            else if (c == u'.') s = LocalPeriod;
            else if (!isAtom(c)) return false;
            break;
        case QuotedText:
            if (c == u'\\') s = QuotedChar;
            else if (c == u'"') s = AfterQuote;
            else if (!isQuoted(c)) return false;
            break;
        case QuotedChar:
            if (isMarker(c)) return false;
            s = QuotedText;
            break;
        case AfterQuote:
            if (c == u'@') s = ExpectDomain;
            else if (c == u'.') s = LocalPeriod;
            else return false;
            break;
        case LocalPeriod:
            if (isAtom(c)) s = AtomText;
            else if (c == u'"') s = QuotedText;
            else return false;
            break;
        case ExpectDomain:
            if (isLetter(c)) s = Domain;
            else return false;
            break;
        case Domain:
            if (c == u'.') {
                s = ExpectDomain;
                ++parts;
            } else if (c == u'-') {
                s = Hyphen;
            } else if (!isLetterOrDigit(c)) {
                return false;
            }
            break;
        case Hyphen:
            if (isLetterOrDigit(c)) s = Domain;
            else if (c != u'-') return false;
            break;
        }
    }
    return s == Domain && parts >= 2;
}

QString GenerateSecureCode()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray bytes(reinterpret_cast<const char*>(words), sizeof words);
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QString clientIdList(const QStringList& whiteLines)
{
    QString list;
    for (const QString& line : whiteLines) {
        const QString id = textBetween(line, QStringLiteral("<id>"), QStringLiteral("</id>"));
        if (id.isEmpty()) continue;  // the line shown before the first load
        bool digits = true;
        for (QChar c : id) digits = digits && c >= u'0' && c <= u'9';
        if (!digits) throw Error(QStringLiteral("EConvertError"), u'\'' + id + QStringLiteral("' is not a valid client id"));
        list += (list.isEmpty() ? QString() : QStringLiteral(",")) + id;
    }
    return list;
}

QString blockTypeOfLine(const QString& line)
{
    if (line.contains(QStringLiteral("</IP>"))) return QStringLiteral("IP");
    if (line.contains(QStringLiteral("</EMAIL>"))) return QStringLiteral("EMAIL");
    if (line.contains(QStringLiteral("</SECCODE>"))) return QStringLiteral("SECCODE");
    return QStringLiteral("IP");
}

QString blockValueOfLine(const QString& line)
{
    const QString type = blockTypeOfLine(line);
    return textBetween(line, u'<' + type + u'>', QStringLiteral("</") + type + u'>');
}

QString deleteBlackLineSql(const QString& type, const QString& value,
                           const std::function<QString(const QString&)>& escape)
{
    const QString head =
        QStringLiteral("DELETE FROM blacklist_veldra WHERE blocktype = '") + escape(type) + QStringLiteral("' AND ");
    if (!holdsListMarker(value)) return head + QStringLiteral("value = '") + escape(value) + QStringLiteral("';");
    // The line shows a row's "<" and ">" in their list form: the row is found by that form.
    return head + QStringLiteral("REPLACE(REPLACE(value, '<', '\u2039'), '>', '\u203a') = '") + escape(value) +
           QStringLiteral("';");
}

bool ClientAdministration::connected()
{
    if (m_dataClients.connected()) return true;
    m_ui.showMessage(kNotConnected);
    return false;
}

bool ClientAdministration::change(const QString& errorText,
                                  const std::function<QStringList(DbConnection&)>& statements)
{
    try {
        const DbParams params = m_dataClients.params();
        mainthread::runLongWait(QStringLiteral("Changing the client lists ..."), [&params, &statements] {
            DbConnection connection(params);
            connection.onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::Fail; };
            connection.connect();
            // One by one, without a transaction: after a failure what ran stays done.
            for (const QString& sql : statements(connection)) connection.execute(sql);
        });
        if (m_reload) m_reload();
        return true;
    } catch (...) {
        m_ui.showMessage(errorText + QStringLiteral(" \r ") + currentErrorDetails());
        return false;
    }
}

bool ClientAdministration::markedIds(const WhiteListSelection& white, const QString& errorText, QString& ids)
{
    try {
        ids = clientIdList(white.marked);
    } catch (...) {
        m_ui.showMessage(errorText + QStringLiteral(" \r ") + currentErrorDetails());
        return false;
    }
    return !trim(ids).isEmpty();
}

void ClientAdministration::createClient(const QString& email, const QString& seccode, const QDate& toDate,
                                        const QString& note, const QDate& today)
{
    if (!connected()) return;
    if (trim(email).isEmpty() || !IsValidEmailAddress(email)) {
        m_ui.showMessage(kBadEmail);
        return;
    }
    if (trim(seccode).size() < 10) {
        m_ui.showMessage(kShortSeccode);
        return;
    }
    if (holdsListMarker(seccode)) {
        m_ui.showMessage(kSeccodeMarkers);
        return;
    }
    if (toDate < today) {
        m_ui.showMessage(QStringLiteral("TO DATE must will more NOW or = !!!"));
        return;
    }
    const bool created = change(QStringLiteral("Error in during create client"), [&](DbConnection& c) {
        return QStringList{QStringLiteral("INSERT INTO clients_veldra (email,seccode,todate,note) VALUES('") +
                           c.escapeString(trim(email)) + QStringLiteral("','") + c.escapeString(trim(seccode)) +
                           QStringLiteral("',") + sqlDate(toDate) + QStringLiteral(",'") + c.escapeString(trim(note)) +
                           QStringLiteral("');")};
    });
    if (created) m_ui.showMessage(QStringLiteral("Client was created"));
}

void ClientAdministration::updateEndDate(const WhiteListSelection& white, const QDate& date)
{
    if (white.count == 0) return;
    if (!connected()) return;
    const QString errorText = QStringLiteral("Error in during update date for selected client(s)");
    QString ids;
    if (!markedIds(white, errorText, ids)) return;
    if (!m_ui.askYesNo(QStringLiteral("Update final date to [") + regional::shortDate(date) +
                       QStringLiteral("] for selected client(s) ?")))
        return;
    change(errorText, [&](DbConnection&) {
        return QStringList{QStringLiteral("UPDATE clients_veldra SET `todate` = ") + sqlDate(date) +
                           QStringLiteral(" WHERE id IN (") + ids + QStringLiteral(");")};
    });
}

void ClientAdministration::deleteSelectedClients(const WhiteListSelection& white)
{
    if (white.count == 0) return;
    if (!connected()) return;
    const QString errorText = QStringLiteral("Error in during delete selected client(s)");
    QString ids;
    if (!markedIds(white, errorText, ids)) return;
    if (!m_ui.askYesNo(QStringLiteral("Delete selected client(s) ?"))) return;
    change(errorText, [&](DbConnection&) {
        return QStringList{QStringLiteral("DELETE FROM clients_veldra WHERE id IN (") + ids + QStringLiteral(");")};
    });
}

void ClientAdministration::cleanWhiteList(int whiteCount)
{
    if (whiteCount == 0) return;
    if (!connected()) return;
    if (!m_ui.askYesNo(QStringLiteral("Delete all clients ?"))) return;
    change(QStringLiteral("Error in during delete all clients"),
           [](DbConnection&) { return QStringList{QStringLiteral("DELETE FROM clients_veldra;")}; });
}

void ClientAdministration::moveToBlackList(const WhiteListSelection& white)
{
    if (white.count == 0) return;
    if (!connected()) return;
    const QString errorText = QStringLiteral("Error in during move selected client(s) in black list");
    QString ids;
    if (!markedIds(white, errorText, ids)) return;
    if (!m_ui.askYesNo(QStringLiteral("Move selected client(s) in black list ?"))) return;
    change(errorText, [&](DbConnection& c) {
        QStringList sql;
        for (const QString& line : white.marked) {
            sql << blacklistInsert(c, QStringLiteral("EMAIL"),
                                   textBetween(line, QStringLiteral("<email>"), QStringLiteral("</email>")));
            sql << blacklistInsert(c, QStringLiteral("SECCODE"),
                                   textBetween(line, QStringLiteral("<seccode>"), QStringLiteral("</seccode>")));
        }
        sql << QStringLiteral("DELETE FROM clients_veldra WHERE id IN (") + ids + QStringLiteral(");");
        return sql;
    });
}

void ClientAdministration::addNewBlocking(const QString& blockType, const QString& value)
{
    if (!connected()) return;
    if (blockType.isEmpty()) {
        m_ui.showMessage(QStringLiteral("BLOCK TYPE IS NOT SET !!!"));
        return;
    }
    if (trim(value).isEmpty()) {
        m_ui.showMessage(QStringLiteral("VALUE IS NOT SET !!!"));
        return;
    }
    if (blockType == u"EMAIL" && !IsValidEmailAddress(value)) {
        m_ui.showMessage(kBadEmail);
        return;
    }
    if (blockType == u"SECCODE" && trim(value).size() < 10) {
        m_ui.showMessage(kShortSeccode);
        return;
    }
    // A list line shows the value between markers of its type.
    if (holdsListMarker(value) || holdsListMarker(blockType)) {
        m_ui.showMessage(blockType == u"SECCODE" ? kSeccodeMarkers : kValueMarkers);
        return;
    }
    if (!m_ui.askYesNo(QStringLiteral("Add data [") + blockType + QStringLiteral("]:") + value +
                       QStringLiteral(" in black list ?")))
        return;
    change(QStringLiteral("Error in during add line in black list"),
           [&](DbConnection& c) { return QStringList{blacklistInsert(c, blockType, trim(value))}; });
}

void ClientAdministration::deleteBlackLine(int blackCount, const QString& selectedLine)
{
    if (blackCount == 0 || selectedLine.isNull()) return;
    if (!connected()) return;
    if (!m_ui.askYesNo(QStringLiteral("Clean selected line [") + selectedLine + QStringLiteral("] in black list ?")))
        return;
    change(QStringLiteral("Error in during clean black list"), [&](DbConnection& c) {
        return QStringList{deleteBlackLineSql(blockTypeOfLine(selectedLine), blockValueOfLine(selectedLine),
                                              [&c](const QString& t) { return c.escapeString(t); })};
    });
}

void ClientAdministration::cleanBlackList(int blackCount)
{
    if (blackCount == 0) return;
    if (!connected()) return;
    if (!m_ui.askYesNo(QStringLiteral("Clean black list ?"))) return;
    change(QStringLiteral("Error in during clean black list"),
           [](DbConnection&) { return QStringList{QStringLiteral("DELETE FROM blacklist_veldra;")}; });
}

QString ClientAdministration::copyFromLine(int whiteCount, const QString& selectedLine, const QString& tag)
{
    if (whiteCount == 0) return QString();
    if (selectedLine.isNull()) {
        m_ui.showMessage(QStringLiteral("Please select necessary line"));
        return QString();
    }
    return textBetween(selectedLine, u'<' + tag + u'>', QStringLiteral("</") + tag + u'>');
}

}  // namespace veldra
