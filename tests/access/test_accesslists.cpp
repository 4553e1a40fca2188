// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "access/accesslists.h"
#include "common/errors.h"
#include "common/eventlog.h"
#include "common/regional.h"
#include "config/database.h"
#include "db/dbtestutil.h"
#include "support/accessscan.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

using Kind = AccessDecision::Kind;

QString day(int fromToday) { return regional::shortDate(QDate::currentDate().addDays(fromToday)); }
QString sqlDay(int fromToday) { return QDate::currentDate().addDays(fromToday).toString(Qt::ISODate); }

}  // namespace

TEST(AccessLists, InitialContent)
{
    ClientAccessLists l;
    EXPECT_EQ(l.lists()->white, QStringList({"<id></id><email></email><seccode></seccode><todate></todate><note></note>"}));
    EXPECT_EQ(l.lists()->black, QStringList({"<IP>BLOCK IP</IP>", "<SECCODE>BLOCK SECURE CODE</SECCODE>", "<EMAIL>BLOCK EMAIL</EMAIL>"}));
    EXPECT_EQ(l.whiteCountText(), QStringLiteral("WHITE :: [0]"));
    EXPECT_EQ(l.blackCountText(), QStringLiteral("BLACK :: [0]"));
    EXPECT_FALSE(l.showOnlyActiveClients);
    EXPECT_EQ(sortByItems().value(l.sortBy), QStringLiteral("DATEACTIVE"));
    EXPECT_FALSE(l.busy());
}

TEST(AccessLists, StatementTexts)
{
    EXPECT_EQ(whiteListSql(false, 0), QStringLiteral("SELECT * FROM clients_veldra\r\nORDER BY `id`; "));
    EXPECT_EQ(whiteListSql(true, 1), QStringLiteral("SELECT * FROM clients_veldra\r\n WHERE `todate` >= DATE(NOW())\r\nORDER BY `email` ASC;"));
    EXPECT_EQ(whiteListSql(false, 2), QStringLiteral("SELECT * FROM clients_veldra\r\nORDER BY `seccode` ASC;"));
    EXPECT_EQ(whiteListSql(false, 3), QStringLiteral("SELECT * FROM clients_veldra\r\nORDER BY `todate` DESC;"));
    EXPECT_EQ(whiteListSql(true, -1), QStringLiteral("SELECT * FROM clients_veldra\r\n WHERE `todate` >= DATE(NOW())"));
    EXPECT_EQ(blackListSql(), QStringLiteral("SELECT * FROM blacklist_veldra ORDER BY `blocktype`;"));
}

TEST(AccessLists, Matching)
{
    const QDateTime now(QDate(2025, 6, 15), QTime(12, 0));
    AccessLists l;
    l.white << whiteListLine("1", "Reg@Example.com", "CODE1", "16.06.2025", "")    // ends tomorrow
            << whiteListLine("2", "today@x.y", "c2", "15.06.2025", "")             // ends today
            << whiteListLine("3", "late@x.y", "c3", "", "")                         // no end date
            << whiteListLine("4", "late@x.y", "c3", "not a date", "")
            << whiteListLine("5", "late@x.y", "c3", "01.01.2030", "")
            << whiteListLine("6", "other@x.y", "right", "01.01.2030", "");
    l.black << blackListLine("IP", "10.0.0.1") << blackListLine("EMAIL", "Bad@X.y") << blackListLine("SECCODE", "badcode");

    const struct {
        const char* email;
        const char* code;
        const char* ip;
        Kind kind;
        const char* endDate;
    } cases[] = {
        {"reg@example.com", "code1", "1.2.3.4", Kind::Registered, "16.06.2025"},
        {"today@x.y", "c2", "1.2.3.4", Kind::Neither, ""},
        {"late@x.y", "c3", "1.2.3.4", Kind::Registered, "01.01.2030"},
        {"other@x.y", "wrong", "1.2.3.4", Kind::Neither, ""},
        {"bad@x.y", "anything", "1.2.3.4", Kind::Blocked, ""},
        {"reg@example.com", "badcode", "1.2.3.4", Kind::Blocked, ""},
        {"reg@example.com", "code1", "10.0.0.1", Kind::Blocked, ""},
        {"reg@example.com", "code1", "10.0.0.12", Kind::Registered, "16.06.2025"},
        {"nobody@x.y", "none", "1.2.3.4", Kind::Neither, ""},
    };
    for (const auto& c : cases) {
        const AccessDecision d = CheckClientAccess(l, c.email, c.code, c.ip, now);
        EXPECT_EQ(d.kind, c.kind) << c.email << " " << c.code << " " << c.ip;
        EXPECT_EQ(d.endDate, QString::fromLatin1(c.endDate)) << c.email;
    }
    // Registered up to 00:00:00 of the end date, not a moment later.
    EXPECT_EQ(CheckClientAccess(l, "today@x.y", "c2", "1.2.3.4", QDateTime(QDate(2025, 6, 15), QTime(0, 0))).kind, Kind::Registered);
    EXPECT_EQ(CheckClientAccess(l, "today@x.y", "c2", "1.2.3.4", QDateTime(QDate(2025, 6, 15), QTime(0, 0, 1))).kind, Kind::Neither);
    EXPECT_EQ(CheckClientAccess(l, "today@x.y", "c2", "1.2.3.4", QDateTime(QDate(2025, 6, 14), QTime(23, 59, 59))).kind, Kind::Registered);
}

// Lists that are awkward to match: the same client twice (expired and current, both
// current with different end dates), letter-case variants, blank and unreadable end
// dates, values that hold markers, raw lines of other shapes, and black lines of every
// type in any case. The lookup built once must decide exactly as the scan of the lines
// does, for every request against them at every moment.
TEST(AccessLists, LookupDecidesAsTheScanOfTheLines)
{
    AccessLists l;
    l.white << whiteListLine("1", "Dup@X.y", "Code", "10.06.2025", "expired first")
            << whiteListLine("2", "dup@x.y", "CODE", "20.06.2025", "current, wins")
            << whiteListLine("3", "DUP@X.Y", "code", "30.06.2025", "current, later")
            << whiteListLine("4", "blank@x.y", "b", "", "")
            << whiteListLine("5", "blank@x.y", "b", "31.02.2025", "no such day")
            << whiteListLine("6", "blank@x.y", "b", "01.01.2030", "")
            << whiteListLine("7", "", "", "01.01.2030", "blank e-mail and code")
            << whiteListLine("8", "a<b@x.y", "c>d", "01.01.2030", "markers, shown as list forms")
            << whiteListLine("9", "a\u2039b@x.y", "k", "01.01.2030", "a list form typed")
            << "<id>10</id><email>raw<@x.y</email><seccode>r</seccode><todate>01.01.2030</todate>"
            << "<id>11</id><email>first@x.y</email><email>second@x.y</email><seccode>s</seccode><todate>01.01.2030</todate>"
            << "<note><email>note@x.y</email></note><seccode>n</seccode><todate>01.01.2030</todate>"
            << "<email>open@x.y<seccode>o</seccode><todate>01.01.2030</todate>"
            << whiteListLine("14", "\u00c4rger@X.y", "\u00dfCODE", "16.06.2025", "non-ASCII")
            << whiteListLine("15", "blocked@x.y", "ok", "01.01.2030", "also on the black list")
            << whiteListLine("16", "ip@x.y", "ok", "01.01.2030", "");
    l.black << blackListLine("Email", "Blocked@X.y") << blackListLine("SECCODE", "BadCode")
            << blackListLine("ip", "10.0.0.1") << blackListLine("IP", "") << blackListLine("EMAIL", "a<b@x.y")
            << blackListLine("NOTE", "dup@x.y") << "<EMAIL>unclosed@x.y" << "no marker at all" << "<seccode"
            << "<IP>BLOCK IP</IP>";

    const QStringList emails{"dup@x.y", "DUP@x.y", "blank@x.y", "", "a<b@x.y", "a\u2039b@x.y", "raw<@x.y",
                             "first@x.y", "second@x.y", "note@x.y", "open@x.y", "\u00e4rger@x.y", "\u00c4RGER@X.Y",
                             "blocked@x.y", "unclosed@x.y", "ip@x.y", "nobody@x.y"};
    const QStringList codes{"code", "Code", "b", "", "c>d", "c\u203ad", "k", "r", "s", "n", "o", "\u00dfcode", "ok",
                            "badcode", "other"};
    const QStringList addresses{"1.2.3.4", "10.0.0.1", "10.0.0.12", "", "block ip"};
    const QList<QDateTime> moments{QDateTime(QDate(2025, 6, 1), QTime(8, 0)), QDateTime(QDate(2025, 6, 10), QTime(0, 0)),
                                   QDateTime(QDate(2025, 6, 10), QTime(0, 0, 1)), QDateTime(QDate(2025, 6, 16), QTime(12, 0)),
                                   QDateTime(QDate(2025, 6, 25), QTime(0, 0)), QDateTime(QDate(2031, 1, 1), QTime(0, 0))};

    const AccessLookup lookup(l);
    int compared = 0;
    for (const QString& e : emails)
        for (const QString& c : codes)
            for (const QString& a : addresses)
                for (const QDateTime& now : moments) {
                    const AccessDecision want = scanClientAccess(l, e, c, a, now);
                    const AccessDecision got = lookup.decide(e, c, a, now);
                    ASSERT_TRUE(got.kind == want.kind && got.endDate == want.endDate)
                        << e.toStdString() << " " << c.toStdString() << " " << a.toStdString() << " "
                        << now.toString(Qt::ISODate).toStdString() << ": got " << int(got.kind) << " "
                        << got.endDate.toStdString() << ", the scan " << int(want.kind) << " " << want.endDate.toStdString();
                    ++compared;
                }
    EXPECT_EQ(compared, emails.size() * codes.size() * addresses.size() * moments.size());

    // And the decisions themselves, for the cases that tell the rules apart.
    const QDateTime june1(QDate(2025, 6, 1), QTime(8, 0));
    const QDateTime june15(QDate(2025, 6, 15), QTime(8, 0));
    const QDateTime june25(QDate(2025, 6, 25), QTime(8, 0));
    const struct {
        QString email, code, ip;
        QDateTime now;
        Kind kind;
        QString endDate;
    } cases[] = {
        {"dup@x.y", "code", "1.2.3.4", june1, Kind::Registered, "10.06.2025"},   // the first line in list order
        {"DUP@X.Y", "CODE", "1.2.3.4", june15, Kind::Registered, "20.06.2025"},  // the first whose end date has not begun
        {"dup@x.y", "code", "1.2.3.4", june25, Kind::Registered, "30.06.2025"},
        {"dup@x.y", "code", "1.2.3.4", QDateTime(QDate(2025, 7, 1), QTime(0, 0, 1)), Kind::Neither, ""},
        {"blank@x.y", "b", "1.2.3.4", june1, Kind::Registered, "01.01.2030"},    // blank and impossible dates skipped
        {"", "", "1.2.3.4", june1, Kind::Blocked, ""},                           // an unclosed black e-mail reads as blank
        {"a<b@x.y", "c>d", "1.2.3.4", june1, Kind::Blocked, ""},                 // the black e-mail, in its list form
        {"a\u2039b@x.y", "k", "1.2.3.4", june1, Kind::Blocked, ""},              // the same list form as "a<b@x.y"
        {"raw<@x.y", "r", "1.2.3.4", june1, Kind::Neither, ""},
        {"first@x.y", "s", "1.2.3.4", june1, Kind::Registered, "01.01.2030"},    // the field where it first stands
        {"second@x.y", "s", "1.2.3.4", june1, Kind::Neither, ""},
        {"note@x.y", "n", "1.2.3.4", june1, Kind::Registered, "01.01.2030"},
        {"\u00c4RGER@X.Y", "\u00dfcode", "1.2.3.4", june1, Kind::Registered, "16.06.2025"},
        {"blocked@x.y", "ok", "1.2.3.4", june1, Kind::Blocked, ""},              // the black list comes first
        {"unclosed@x.y", "other", "1.2.3.4", june1, Kind::Neither, ""},
        {"nobody@x.y", "BADCODE", "1.2.3.4", june1, Kind::Blocked, ""},
        {"ip@x.y", "ok", "10.0.0.1", june1, Kind::Blocked, ""},
        {"ip@x.y", "ok", "10.0.0.12", june1, Kind::Registered, "01.01.2030"},
        {"ip@x.y", "ok", "", june1, Kind::Blocked, ""},                          // the blank IP line
        {"dup@x.y", "other", "1.2.3.4", june1, Kind::Neither, ""},               // e-mail right, code wrong
    };
    for (const auto& c : cases) {
        const AccessDecision d = lookup.decide(c.email, c.code, c.ip, c.now);
        EXPECT_EQ(d.kind, c.kind) << c.email.toStdString() << " " << c.code.toStdString() << " " << c.ip.toStdString();
        EXPECT_EQ(d.endDate, c.endDate) << c.email.toStdString();
    }
    // Without the black list: blank fields match blank fields, a white value holding a
    // marker registers nobody.
    const AccessLookup whiteOnly(AccessLists{l.white, {}});
    EXPECT_EQ(whiteOnly.decide("", "", "1.2.3.4", june1).endDate, QStringLiteral("01.01.2030"));
    EXPECT_EQ(whiteOnly.decide("a\u2039b@x.y", "k", "1.2.3.4", june1).kind, Kind::Neither);
    EXPECT_EQ(whiteOnly.decide("a<b@x.y", "c>d", "1.2.3.4", june1).kind, Kind::Neither);
    // An empty lookup, and one of the initial lists, decide nothing but their own lines.
    EXPECT_EQ(AccessLookup().decide("a@x.y", "c", "1.2.3.4", june1).kind, Kind::Neither);
    const AccessLookup initial(initialAccessLists());
    EXPECT_EQ(initial.decide("a@x.y", "block secure code", "1.2.3.4", june1).kind, Kind::Blocked);
    EXPECT_EQ(initial.decide("a@x.y", "c", "1.2.3.4", june1).kind, Kind::Neither);
}

class LoadLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        VELDRA_REQUIRE_DATABASE(db);
        m_db = std::make_unique<ScratchDatabase>(db, QStringLiteral("veldra_t_access"));
        m_connections.TestConnect(params(), params());
        ASSERT_TRUE(m_connections.errorArea().isEmpty()) << m_connections.errorAreaText().toStdString();
        EventLog::instance().clear();
    }
    const DbParams& params() const { return m_db->params(); }
    void load() { m_lists.LoadListClientsAccess(m_connections, params(), params()); }
    void seed()
    {
        m_db->exec(QStringLiteral("INSERT INTO clients_veldra (id, email, seccode, todate, note) VALUES "
                                  "(1, 'b@x.y', 'B1', '%1', 'second'), (2, 'a@x.y', 'C2', '%2', NULL), "
                                  "(3, 'c@x.y', 'A3', '%3', 'Grüße')")
                       .arg(sqlDay(1), sqlDay(0), sqlDay(-1)));
        m_db->exec(QStringLiteral("INSERT INTO blacklist_veldra VALUES ('SECCODE', 'bad'), ('EMAIL', 'evil@x.y'), ('IP', '10.0.0.1')"));
    }

    std::unique_ptr<ScratchDatabase> m_db;
    DatabaseConnections m_connections;
    ClientAccessLists m_lists;
};

TEST_F(LoadLists, ReadsBothTablesIntoLines)
{
    seed();
    int changes = 0;
    m_lists.onChanged = [&] { ++changes; };
    load();
    EXPECT_FALSE(m_lists.busy());
    EXPECT_GE(changes, 1);
    const QString l1 = QStringLiteral("<id>1</id><email>b@x.y</email><seccode>B1</seccode><todate>%1</todate><note>second</note>").arg(day(1));
    const QString l2 = QStringLiteral("<id>2</id><email>a@x.y</email><seccode>C2</seccode><todate>%1</todate><note></note>").arg(day(0));
    const QString l3 = QString::fromUtf8("<id>3</id><email>c@x.y</email><seccode>A3</seccode><todate>%1</todate><note>Grüße</note>").arg(day(-1));
    EXPECT_EQ(m_lists.lists()->white, QStringList({l1, l2, l3}));  // latest end date first
    // Enum order: IP, SECCODE, EMAIL.
    EXPECT_EQ(m_lists.lists()->black, QStringList({"<IP>10.0.0.1</IP>", "<SECCODE>bad</SECCODE>", "<EMAIL>evil@x.y</EMAIL>"}));
    EXPECT_EQ(m_lists.whiteCountText(), QStringLiteral("WHITE :: [3]"));
    EXPECT_EQ(m_lists.blackCountText(), QStringLiteral("BLACK :: [3]"));
    EXPECT_TRUE(EventLog::instance().lines().isEmpty());

    // Matching the loaded lines, from a request thread.
    const auto decisions = inWorker([this] {
        return std::vector<AccessDecision>{m_lists.CheckClientAccess("b@x.y", "b1", "1.2.3.4"),
                                           m_lists.CheckClientAccess("a@x.y", "c2", "1.2.3.4"),
                                           m_lists.CheckClientAccess("evil@x.y", "b1", "1.2.3.4"),
                                           m_lists.CheckClientAccess("b@x.y", "b1", "10.0.0.1"),
                                           m_lists.CheckClientAccess("b@x.y", "a3", "1.2.3.4")};
    });
    EXPECT_EQ(decisions[0].kind, Kind::Registered);
    EXPECT_EQ(decisions[0].endDate, day(1));
    EXPECT_EQ(decisions[1].kind, Kind::Neither);  // its end date is today
    EXPECT_EQ(decisions[2].kind, Kind::Blocked);
    EXPECT_EQ(decisions[3].kind, Kind::Blocked);
    EXPECT_EQ(decisions[4].kind, Kind::Neither);

    auto ids = [this] {
        QStringList out;
        for (const QString& line : m_lists.lists()->white) out << line.mid(4, 1);
        return out;
    };
    m_lists.sortBy = 1;  // EMAIL
    load();
    EXPECT_EQ(ids(), QStringList({"2", "1", "3"}));
    m_lists.sortBy = 2;  // SECCODE
    load();
    EXPECT_EQ(ids(), QStringList({"3", "1", "2"}));
    m_lists.sortBy = 0;  // IDS, with the blank after its semicolon
    load();
    EXPECT_EQ(ids(), QStringList({"1", "2", "3"}));
    EXPECT_TRUE(EventLog::instance().lines().isEmpty()) << EventLog::instance().lines().join('\n').toStdString();

    // Only active clients: the one whose end date is today is still listed.
    m_lists.showOnlyActiveClients = true;
    EXPECT_EQ(m_lists.ListOptionChanged(2, m_connections, params(), params()), 2);
    EXPECT_EQ(ids(), QStringList({"1", "2"}));
    EXPECT_EQ(m_lists.whiteCountText(), QStringLiteral("WHITE :: [2]"));
    EXPECT_EQ(m_lists.ListOptionChanged(-1, m_connections, params(), params()), -1);

    m_lists.resetCounts();
    EXPECT_EQ(m_lists.whiteCountText(), QStringLiteral("WHITE :: [0]"));
}

TEST_F(LoadLists, ClientConnectionDownKeepsTheLists)
{
    seed();
    load();
    const AccessLists before = *m_lists.lists();
    DbParams bad = params();
    bad.password = QStringLiteral("wrong");
    m_lists.LoadListClientsAccess(m_connections, bad, params());
    EXPECT_FALSE(m_connections.errorArea().isEmpty());
    EXPECT_EQ(m_lists.lists()->white, before.white);
    EXPECT_EQ(m_lists.lists()->black, before.black);
    EXPECT_EQ(m_lists.whiteCountText(), QStringLiteral("WHITE :: [3]"));
    EXPECT_FALSE(m_lists.busy());
    EXPECT_TRUE(EventLog::instance().lines().isEmpty());
}

TEST_F(LoadLists, AFailedStatementIsLoggedAndKeepsWhatWasRead)
{
    seed();
    load();
    // A black-list table of another shape: TEST CONNECT leaves it, the server rejects the read.
    m_db->exec(QStringLiteral("DROP TABLE blacklist_veldra"));
    m_db->exec(QStringLiteral("CREATE TABLE blacklist_veldra (other INT)"));
    m_db->exec(QStringLiteral("DELETE FROM clients_veldra WHERE id = 3"));
    load();
    EXPECT_EQ(m_lists.lists()->white.size(), 2);
    EXPECT_TRUE(m_lists.lists()->black.isEmpty());
    EXPECT_EQ(m_lists.whiteCountText(), QStringLiteral("WHITE :: [2]"));
    EXPECT_EQ(m_lists.blackCountText(), QStringLiteral("BLACK :: [3]"));  // not reached
    EXPECT_FALSE(m_lists.busy());
    ASSERT_EQ(EventLog::instance().lines().size(), 1);
    const QString line = EventLog::instance().lines()[0];
    EXPECT_TRUE(line.startsWith(u'['));
    EXPECT_TRUE(line.endsWith(QStringLiteral("] \t{LoadListClientsAccess}  Error|msg = [EMySqlException : Unknown column 'blocktype' in 'ORDER BY']")))
        << line.toStdString();
}

TEST_F(LoadLists, ALoadEndsEvenWhenItsFailureCannotBeLogged)
{
    seed();
    load();
    m_db->exec(QStringLiteral("RENAME TABLE blacklist_veldra TO blacklist_kept"));
    m_db->exec(QStringLiteral("CREATE TABLE blacklist_veldra (other INT)"));
    // The log is full and its folder is gone: appending the failure line throws.
    QTemporaryDir dir;
    EventLog::instance().startSizeCheck(0, dir.path() + QStringLiteral("/gone/"));
    EXPECT_THROW(load(), FileError);
    EventLog::instance().stopSizeCheck();
    EXPECT_FALSE(m_lists.busy());
    EXPECT_EQ(m_lists.lists()->white.size(), 3);  // what was read is published
    EXPECT_TRUE(m_lists.lists()->black.isEmpty());

    // The next load is not refused as if one were still running.
    m_db->exec(QStringLiteral("DROP TABLE blacklist_veldra"));
    m_db->exec(QStringLiteral("RENAME TABLE blacklist_kept TO blacklist_veldra"));
    load();
    EXPECT_EQ(m_lists.lists()->black.size(), 3);
    EXPECT_EQ(m_lists.blackCountText(), QStringLiteral("BLACK :: [3]"));
}

TEST_F(LoadLists, RequestsSeeWholeListsWhileTheyReload)
{
    seed();
    load();
    std::atomic<bool> stop{false};
    std::atomic<int> checks{0}, torn{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const auto l = m_lists.lists();
                if (l->white.size() != 3 || l->black.size() != 3) ++torn;
                if (m_lists.CheckClientAccess("b@x.y", "b1", "1.2.3.4").kind != Kind::Registered) ++torn;
                ++checks;
            }
        });
    }
    for (int i = 0; i < 5; ++i) {
        m_lists.sortBy = i % 4;
        load();
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_GT(checks.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}
