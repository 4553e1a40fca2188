// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The white list of registered clients and the black list of blocked IP addresses,
// e-mail addresses and secure codes: loaded from the client database in the main
// thread, read by request threads through CheckClientAccess.
//
// White-list line: "<id>" id "</id><email>" email "</email><seccode>" seccode
//                  "</seccode><todate>" dd.MM.yyyy "</todate><note>" note "</note>"
// Black-list line: "<" blocktype ">" value "</" blocktype ">"
//
// No value in a line holds "<" or ">" (listValue), so every marker in a line is one of
// the line's own and each field is read where it stands: no value can pass for
// another field, whatever a row of the tables holds.
#include <QDateTime>
#include <QHashFunctions>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/snapshot.h"
#include "db/dbconnection.h"
#include "server/requeststeps.h"

namespace veldra {

class DatabaseConnections;

// Both lists as one immutable value; a request reads one version of it.
struct AccessLists {
    QStringList white;
    QStringList black;
};

// The content shown until the first load.
AccessLists initialAccessLists();

// A value as a list line shows it: "<" and ">" become U+2039 and U+203A, everything
// else stays.
QString listValue(const QString& value);
// True when a value holds "<" or ">", or their list forms: such e-mails and secure codes
// are refused, and a white line carrying one registers nobody.
bool holdsListMarker(const QString& value);
// The value of a field of a line: the text between "<" tag ">" and "</" tag ">".
QString lineField(const QString& line, const QString& tag);

QString whiteListLine(const QString& id, const QString& email, const QString& seccode, const QString& todate,
                      const QString& note);
QString blackListLine(const QString& blockType, const QString& value);

// The matching rule, built once from both lists when they are loaded, so that a
// request costs the same whatever the lists' length: the black list's values by type,
// the white lines by their (e-mail, secure code), each key's lines in list order.
// Every line is read (lowered, its fields taken where they stand) exactly as a scan of
// the lines on every request would read it.
class AccessLookup {
public:
    AccessLookup() = default;
    explicit AccessLookup(const AccessLists& lists);

    // Blocked by the black list (any of e-mail, secure code, IP address); else
    // registered by the first white line of (e-mail, secure code), in list order, whose
    // end date has not begun at `now`; else neither. Lowers its arguments itself.
    AccessDecision decide(const QString& email, const QString& seccode, const QString& address,
                          const QDateTime& now) const;

private:
    struct TextHash {
        size_t operator()(const QString& s) const noexcept { return qHash(s); }
        size_t operator()(const std::pair<QString, QString>& p) const noexcept
        {
            return qHash(p.first) ^ (qHash(p.second) * 0x9e3779b97f4a7c15ULL);
        }
    };
    // A white line that can register: its end date read, and its end-date text.
    struct Candidate {
        QDate date;
        QString endDate;
    };

    std::unordered_set<QString, TextHash> m_blockedEmails;
    std::unordered_set<QString, TextHash> m_blockedCodes;
    std::unordered_set<QString, TextHash> m_blockedAddresses;
    std::unordered_map<std::pair<QString, QString>, std::vector<Candidate>, TextHash> m_white;
};

// The matching rule: blocked by the black list (e-mail, then secure code, then IP
// address), else registered by the first matching white line whose end date has not
// begun at `now`, else neither. A white line whose end date cannot be read is skipped,
// and so is one whose e-mail or secure code holds a list marker. Each field of a line
// is compared whole (without regard to letter case), in the list form of the request's
// values. Builds the lookup for this one call: requests use the one built at the load.
AccessDecision CheckClientAccess(const AccessLists& lists, const QString& email, const QString& seccode,
                                 const QString& address, const QDateTime& now);

// The items of the "Sort by :" list, by index.
QStringList sortByItems();

// The statement that reads the white list for the list options; sortBy is an index of
// sortByItems(), -1 for none.
QString whiteListSql(bool showOnlyActiveClients, int sortBy);
QString blackListSql();

class ClientAccessLists {
public:
    ClientAccessLists();
    ClientAccessLists(const ClientAccessLists&) = delete;
    ClientAccessLists& operator=(const ClientAccessLists&) = delete;

    // List options: "Show only active clients" and the index of the "Sort by :" item
    // (3, "DATEACTIVE", at start; -1 for none).
    bool showOnlyActiveClients = false;
    int sortBy = 3;

    // Main thread. Runs TEST CONNECT with the two parameter sets, then, when the client
    // connection is open and no load is running, reads both tables into new lists. A
    // failure is written to the event log; the lists then hold what was read before it.
    void LoadListClientsAccess(DatabaseConnections& connections, const DbParams& client, const DbParams& work);
    // Main thread. A list option changed (apply it first): reloads and returns the black
    // line index to select again (`selectedBlack`, or -1 when it is out of range).
    int ListOptionChanged(int selectedBlack, DatabaseConnections& connections, const DbParams& client,
                          const DbParams& work);

    bool busy() const { return m_busy; }
    int whiteCount() const { return m_whiteCount; }
    int blackCount() const { return m_blackCount; }
    QString whiteCountText() const;  // "WHITE :: [n]"
    QString blackCountText() const;  // "BLACK :: [n]"
    // START sets both counts to 0 before its load.
    void resetCounts();

    // The current lists; any thread.
    std::shared_ptr<const AccessLists> lists() const
    {
        auto loaded = m_lists.load();
        return {loaded, &loaded->lists};
    }

    // Any thread: one consistent version of both lists, matched at the current local time.
    AccessDecision CheckClientAccess(const QString& email, const QString& seccode, const QString& address) const;

    // Called in the main thread after the lists or counts changed.
    std::function<void()> onChanged;

private:
    // The lists with the lookup built from them: one version, swapped whole.
    struct Loaded {
        explicit Loaded(AccessLists l) : lists(std::move(l)), lookup(lists) {}
        AccessLists lists;
        AccessLookup lookup;
    };

    void changed();

    Snapshot<Loaded> m_lists;
    bool m_busy = false;
    int m_whiteCount = 0;
    int m_blackCount = 0;
};

}  // namespace veldra
