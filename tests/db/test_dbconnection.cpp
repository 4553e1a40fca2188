// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "db/dbconnection.h"
#include "db/dbtestutil.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

struct Row {
    QStringList values;
    QList<bool> nulls;
};

std::vector<Row> readAll(DbResult& r)
{
    std::vector<Row> rows;
    while (r.next()) {
        Row row;
        for (int i = 0; i < r.fieldCount(); ++i) {
            row.values << r.value(i);
            row.nulls << r.isNull(i);
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST(DbConnection, PortTextMustBeAWholeNumber)
{
    EXPECT_EQ(parsePort(QStringLiteral("3306")), 3306u);
    for (const char* bad : {"abc", "", "12x", "70000", "-1"}) {
        try {
            parsePort(QString::fromLatin1(bad));
            ADD_FAILURE() << bad;
        } catch (const DbError& e) {
            EXPECT_EQ(e.typeName(), QStringLiteral("EConvertError"));
            EXPECT_EQ(e.message(), u'\'' + QString::fromLatin1(bad) + QStringLiteral("' is not a valid integer value"));
        }
    }
}

TEST(DbConnection, ConnectsWithGoodPasswordAndRefusesBadOne)
{
    VELDRA_REQUIRE_DATABASE(db);
    DbConnection c(paramsFor(db, QString()));
    int connects = 0, disconnects = 0;
    c.onAfterConnect = [&] { ++connects; };
    c.onAfterDisconnect = [&] { ++disconnects; };
    c.connect();
    EXPECT_TRUE(c.connected());
    EXPECT_NE(c.serverConnectionId(), 0u);
    c.close();
    c.close();
    EXPECT_FALSE(c.connected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(disconnects, 1);

    DbParams bad = paramsFor(db, QString());
    bad.password = QStringLiteral("wrong");
    DbConnection b(bad);
    b.onAfterConnect = [&] { ++connects; };
    try {
        b.connect();
        FAIL() << "connected with a wrong password";
    } catch (const DbError& e) {
        EXPECT_EQ(e.typeName(), QStringLiteral("EMySqlException"));
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Access denied for user"))) << e.message().toStdString();
    }
    EXPECT_FALSE(b.connected());
    EXPECT_EQ(connects, 1);

    DbParams badPort = paramsFor(db, QString());
    badPort.port = QStringLiteral("abc");
    DbConnection p(badPort);
    EXPECT_THROW(p.connect(), DbError);
}

TEST(DbConnection, ValueTexts)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase s(db, QStringLiteral("veldra_t_db_values"));
    s.exec(QStringLiteral("CREATE TABLE t (id INT, d DATE, dt DATETIME(3), ts TIMESTAMP NULL, dec1 DECIMAL(10,2), "
                          "txt VARCHAR(50), bin VARBINARY(10), b BIT(10), f DOUBLE, tm TIME) CHARSET utf8mb4"));
    s.exec(QString::fromUtf8("INSERT INTO t VALUES (1, '2025-12-31', '2024-02-29 13:45:07.250', '2024-01-02 00:00:00', "
                             "12.50, 'Grüße 日本 😀', X'41FF42', b'1000000001', 1.5, '-01:02:03'),"
                             "(2, NULL, NULL, NULL, NULL, '', X'', NULL, NULL, NULL)"));
    DbConnection c(s.params());
    c.connect();
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "buffered" : "streaming");
        const QString sql = QStringLiteral("SELECT * FROM t ORDER BY id");
        auto r = buffered ? c.openBuffered(sql) : c.openStreaming(sql);
        EXPECT_EQ(r->fieldNames(), QStringList({"id", "d", "dt", "ts", "dec1", "txt", "bin", "b", "f", "tm"}));
        EXPECT_EQ(r->rowCount(), buffered ? 2 : -1);
        const auto rows = readAll(*r);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].values,
                  QStringList({"1", "31.12.2025", "29.02.2024 13:45:07", "02.01.2024 00:00:00", "12.50",
                               QString::fromUtf8("Grüße 日本 😀"), QString::fromUtf8("A\xEF\xBF\xBD" "B"), "513", "1.5",
                               "-01:02:03"}));
        EXPECT_EQ(rows[0].nulls, QList<bool>(10, false));
        EXPECT_EQ(rows[1].values, QStringList({"2", "", "", "", "", "", "", "", "", ""}));
        EXPECT_EQ(rows[1].nulls, QList<bool>({false, true, true, true, true, false, false, true, true, true}));
    }
    // Duplicate names stay as the server reports them.
    auto dup = c.openStreaming(QStringLiteral("SELECT 1 AS a, 2 AS a"));
    EXPECT_EQ(dup->fieldNames(), QStringList({"a", "a"}));
}

// The bytes a writer takes are the value texts' UTF-8, whichever way they are made.
TEST(DbConnection, Utf8ValuesAreTheValueTextsInUtf8)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase s(db, QStringLiteral("veldra_t_db_utf8"));
    s.exec(QStringLiteral("CREATE TABLE t (id INT, d DATE, dt DATETIME, txt VARCHAR(50), bin VARBINARY(10), b BIT(10)) "
                          "CHARSET utf8mb4"));
    s.exec(QString::fromUtf8("INSERT INTO t VALUES (1, '2025-12-31', '2024-02-29 13:45:07', 'Grüße 😀', X'41FF42', b'101'),"
                             "(2, '0001-01-01', '9999-12-31 23:59:59', 'a\\\"b', X'EDA080C080', NULL),"
                             "(3, NULL, NULL, '', X'', b'0')"));
    DbConnection c(s.params());
    c.connect();
    auto r = c.openStreaming(QStringLiteral("SELECT * FROM t ORDER BY id"));
    int rows = 0;
    QByteArray scratch;
    while (r->next()) {
        ++rows;
        for (int i = 0; i < r->fieldCount(); ++i) {
            const QByteArray bytes = r->utf8Value(i, scratch).toByteArray();
            EXPECT_EQ(bytes, r->value(i).toUtf8()) << "row " << rows << " column " << i;
        }
    }
    EXPECT_EQ(rows, 3);
}

TEST(DbConnection, BackslashesEscapeWhateverTheServerMode)
{
    VELDRA_REQUIRE_DATABASE(db);
    DbConnection admin(paramsFor(db, QString()));
    admin.connect();
    auto mode = admin.openBuffered(QStringLiteral("SELECT @@GLOBAL.sql_mode"));
    ASSERT_TRUE(mode->next());
    const QString globalMode = mode->value(0);
    mode.reset();
    // Every connection of the program strips the mode again, so other tests running now are not affected.
    admin.execute(QStringLiteral("SET GLOBAL sql_mode = CONCAT(@@GLOBAL.sql_mode, ',NO_BACKSLASH_ESCAPES')"));
    struct Restore {
        DbConnection& admin;
        QString mode;
        ~Restore() { admin.execute(QStringLiteral("SET GLOBAL sql_mode = '") + mode + u'\''); }
    } restore{admin, globalMode};
    DbConnection c(paramsFor(db, QString()));
    c.connect();
    auto r = c.openBuffered(QStringLiteral("SELECT 'x\\' OR 1=1 -- ', @@SESSION.sql_mode"));
    ASSERT_TRUE(r->next());
    ASSERT_EQ(r->fieldCount(), 2) << "the literal ended early: " << r->value(0).toStdString();
    EXPECT_EQ(r->value(0), QStringLiteral("x' OR 1=1 -- "));
    EXPECT_FALSE(r->value(1).contains(QStringLiteral("NO_BACKSLASH_ESCAPES")));
}

TEST(DbConnection, FailuresCarryTheServerMessage)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase s(db, QStringLiteral("veldra_t_db_failures"));
    s.exec(QStringLiteral("CREATE TABLE t (n INT)"));
    s.exec(QStringLiteral("INSERT INTO t VALUES (1)"));
    DbConnection c(s.params());
    c.connect();
    try {
        c.openStreaming(QStringLiteral("SELECT * FROM nope"));
        FAIL();
    } catch (const DbError& e) {
        EXPECT_EQ(e.typeName(), QStringLiteral("EMySqlException"));
        EXPECT_EQ(e.message(), QStringLiteral("Table 'veldra_t_db_failures.nope' doesn't exist"));
        EXPECT_EQ(e.code(), 1146u);
    }
    // A statement without rows runs, then asking for its rows fails.
    try {
        c.openStreaming(QStringLiteral("UPDATE t SET n = 5"));
        FAIL();
    } catch (const DbError& e) {
        EXPECT_EQ(e.typeName(), QStringLiteral("EDatabaseError"));
    }
    auto r = c.openBuffered(QStringLiteral("SELECT n FROM t"));
    ASSERT_TRUE(r->next());
    EXPECT_EQ(r->value(0), QStringLiteral("5"));
    r.reset();
    // execute() drops a result set, so the connection stays usable.
    c.execute(QStringLiteral("SELECT * FROM t"));
    c.execute(QStringLiteral("UPDATE t SET n = 6"));
    DbConnection closed(s.params());
    EXPECT_THROW(closed.execute(QStringLiteral("SELECT 1")), DbError);
}

TEST(DbConnection, LostConnectionIsReopenedAndTheStatementRepeated)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase s(db, QStringLiteral("veldra_t_db_lost"));
    s.exec(QStringLiteral("CREATE TABLE t (n INT)"));
    DbConnection c(s.params());
    QStringList events;
    c.onAfterConnect = [&] { events << "connect"; };
    c.onAfterDisconnect = [&] { events << "disconnect"; };
    c.connect();
    const auto firstId = c.serverConnectionId();
    s.exec(QStringLiteral("KILL %1").arg(firstId));
    c.execute(QStringLiteral("INSERT INTO t VALUES (7)"));
    EXPECT_TRUE(c.connected());
    EXPECT_NE(c.serverConnectionId(), firstId);
    EXPECT_EQ(events, QStringList({"connect", "disconnect", "connect"}));
    auto r = s.admin().openBuffered(QStringLiteral("SELECT COUNT(*) FROM t"));
    ASSERT_TRUE(r->next());
    EXPECT_EQ(r->value(0), QStringLiteral("1"));  // repeated once, not twice
    r.reset();

    // Killed again: a streaming result is asked for and delivered.
    s.exec(QStringLiteral("KILL %1").arg(c.serverConnectionId()));
    auto rows = c.openStreaming(QStringLiteral("SELECT n FROM t"));
    ASSERT_TRUE(rows->next());
    EXPECT_EQ(rows->value(0), QStringLiteral("7"));
    rows.reset();

    // A handler may refuse: the failure reaches the caller and the connection stays closed.
    int asked = 0;
    c.onConnectionLost = [&](DbConnection&) {
        ++asked;
        return DbConnection::LostAnswer::Fail;
    };
    s.exec(QStringLiteral("KILL %1").arg(c.serverConnectionId()));
    try {
        c.execute(QStringLiteral("SELECT 1"));
        FAIL();
    } catch (const DbError& e) {
        EXPECT_EQ(e.typeName(), QStringLiteral("EMySqlException"));
    }
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(c.connected());
}

TEST(DbConnection, EachThreadUsesItsOwnConnection)
{
    VELDRA_REQUIRE_DATABASE(db);
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            try {
                DbConnection c(paramsFor(db, QString()));
                c.connect();
                for (int i = 0; i < 20; ++i) {
                    auto r = c.openStreaming(QStringLiteral("SELECT %1 + %2").arg(t).arg(i));
                    if (r->next() && r->value(0) == QString::number(t + i)) ++good;
                }
            } catch (...) {
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 80);
}
