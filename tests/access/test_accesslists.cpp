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
