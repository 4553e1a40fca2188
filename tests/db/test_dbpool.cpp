// SPDX-License-Identifier: GPL-3.0-or-later
// Work-database connections reused across requests, on the test server.
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>

#include "db/dbpool.h"
#include "db/dbtestutil.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QString one(DbConnection& c, const QString& sql)
{
    auto r = c.openBuffered(sql);
    return r->next() ? r->value(0) : QStringLiteral("<no row>");
}

// One request as the answer side makes it: a lease, the statement, its rows read to the
// end (a statement without rows fails the request), the lease given back.
unsigned long request(DbConnectionPool& pool, const DbParams& params, const QString& sql)
{
    auto c = pool.acquire(params);
    try {
        auto r = c->openStreaming(sql);
        while (r->next()) {
        }
    } catch (const DbError&) {
    }
    return c->serverConnectionId();
}

// What a session sees of itself.
const QString kFingerprint = QStringLiteral(
    "SELECT CONCAT_WS('|', IFNULL(@v, '-'), @@character_set_client, @@character_set_results, @@collation_connection, "
    "@@sql_mode, @@time_zone, @@autocommit, IFNULL(DATABASE(), '-'), @@session_track_state_change, @@in_transaction)");

bool tableExists(DbConnection& c, const QString& table)
{
    try {
        c.execute(QStringLiteral("SELECT 1 FROM %1 LIMIT 0").arg(table));
        return true;
    } catch (const DbError&) {
        return false;
    }
}

// Waits until the server has ended the connection `id`.
void waitUntilGone(DbConnection& admin, unsigned long id)
{
    for (int i = 0; i < 100; ++i) {
        if (one(admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = %1").arg(id)) ==
            QStringLiteral("0"))
            return;
        QThread::msleep(50);
    }
    ADD_FAILURE() << "connection " << id << " still there";
}

}  // namespace

TEST(DbConnectionPool, EachRequestSeesWhatANewConnectionWouldSee)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase work(db, QStringLiteral("veldra_test_pool_work"));
    ScratchDatabase other(db, QStringLiteral("veldra_test_pool_other"));
    work.exec(QStringLiteral("CREATE PROCEDURE set_var() BEGIN SET @v = 'left'; SELECT 1; END"));
    work.exec(QStringLiteral("CREATE FUNCTION set_zone() RETURNS INT BEGIN SET time_zone = '+05:00'; RETURN 1; END"));
    DbConnection fresh(work.params());
    fresh.connect();
    const QString expected = one(fresh, kFingerprint);

    const char* leftBehind[] = {
        "SET @v = 'left'",
        "SELECT @v := 'left'",
        "SET NAMES latin1",
        "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES,ANSI_QUOTES'",
        "SET time_zone = '+05:00'",
        "SELECT set_zone()",
        "SET autocommit = 0",
        "START TRANSACTION",
        "CALL set_var()",
        "CREATE TEMPORARY TABLE tmp_left (a INT)",
        "USE veldra_test_pool_other",
    };
    for (const char* sql : leftBehind) {
        SCOPED_TRACE(sql);
        DbConnectionPool pool;
        const unsigned long first = request(pool, work.params(), QString::fromLatin1(sql));
        EXPECT_EQ(pool.idleCount(), 1u);
        auto c = pool.acquire(work.params());
        EXPECT_EQ(c->serverConnectionId(), first);  // cleaned, not replaced
        EXPECT_EQ(one(*c, kFingerprint), expected);
        EXPECT_FALSE(tableExists(*c, QStringLiteral("tmp_left")));
        // backslash escapes work, and texts travel as UTF-8
        EXPECT_EQ(one(*c, QStringLiteral("SELECT 'a\\'b'")), QStringLiteral("a'b"));
        EXPECT_EQ(one(*c, QStringLiteral("SELECT 'Дми'")), QStringLiteral("Дми"));
    }
}

TEST(DbConnectionPool, NoLockOrTransactionOutlivesItsRequest)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase work(db, QStringLiteral("veldra_test_pool_locks"));
    work.exec(QStringLiteral("CREATE TABLE t (a INT PRIMARY KEY) ENGINE=InnoDB"));
    work.exec(QStringLiteral("INSERT INTO t VALUES (1), (2)"));
    work.exec(QStringLiteral("CREATE PROCEDURE open_tx() BEGIN START TRANSACTION; SELECT a FROM t WHERE a = 1 FOR UPDATE; END"));
    work.exec(QStringLiteral("CREATE FUNCTION take_lock() RETURNS INT RETURN GET_LOCK('veldra_pool', 0)"));
    work.exec(QStringLiteral("CREATE PROCEDURE lock_in_proc() BEGIN SELECT GET_LOCK('veldra_pool', 0); END"));
    DbConnection& other = work.admin();
    other.execute(QStringLiteral("SET SESSION lock_wait_timeout = 1, SESSION innodb_lock_wait_timeout = 1"));

    struct Case {
        const char* sql;
        std::function<void()> othersCan;
    };
    auto lockIsFree = [&] { EXPECT_EQ(one(other, QStringLiteral("SELECT IS_FREE_LOCK('veldra_pool')")), QStringLiteral("1")); };
    auto tableIsFree = [&] { EXPECT_NO_THROW(other.execute(QStringLiteral("INSERT INTO t VALUES (3)"))); other.execute(QStringLiteral("DELETE FROM t WHERE a = 3")); };
    auto rowIsFree = [&] { EXPECT_NO_THROW(other.execute(QStringLiteral("SELECT a FROM t WHERE a = 1 FOR UPDATE"))); };
    const Case cases[] = {
        {"SELECT GET_LOCK('veldra_pool', 0)", lockIsFree},
        {"DO GET_LOCK('veldra_pool', 0)", lockIsFree},
        {"SELECT take_lock()", lockIsFree},
        {"CALL lock_in_proc()", lockIsFree},
        {"LOCK TABLES t READ", tableIsFree},
        {"CALL open_tx()", rowIsFree},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        DbConnectionPool pool;
        request(pool, work.params(), QString::fromLatin1(c.sql));
        // the request has ended and nobody has taken its connection again
        EXPECT_EQ(pool.idleCount(), 1u);
        c.othersCan();
    }
}

TEST(DbConnectionPool, APlainQueryIsTheOnlyRoundTripOfItsRequest)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase work(db, QStringLiteral("veldra_test_pool_trips"));
    work.exec(QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(20))"));
    work.exec(QStringLiteral("INSERT INTO t VALUES (1, 'A'), (2, 'B')"));
    DbConnectionPool pool;
    const QString questions = QStringLiteral("SHOW SESSION STATUS LIKE 'Questions'");
    auto count = [&](DbConnection& c) {
        auto r = c.openBuffered(questions);
        return r->next() ? r->value(1).toInt() : -1;
    };
    unsigned long id = 0;
    int before = 0;
    {
        auto c = pool.acquire(work.params());
        id = c->serverConnectionId();
        before = count(*c);
        EXPECT_FALSE(c->mayHoldSessionState());
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(request(pool, work.params(), QStringLiteral("SELECT id, name FROM t WHERE name <> 'x' ORDER BY id")), id);
    auto c = pool.acquire(work.params());
    EXPECT_EQ(count(*c), before + 6);  // five queries and this question, no reset or set-up
}

TEST(DbConnectionPool, NoConnectionIsSharedAtTheSameMoment)
{
    VELDRA_REQUIRE_DATABASE(db);
    DbConnectionPool pool;
    auto a = pool.acquire(paramsFor(db, QString()));
    auto b = pool.acquire(paramsFor(db, QString()));
    EXPECT_NE(a->serverConnectionId(), b->serverConnectionId());
}

TEST(DbConnectionPool, ThreadsLeavingStateGetCleanConnectionsWhileThePoolIsCleared)
{
    VELDRA_REQUIRE_DATABASE(db);
    const DbParams params = paramsFor(db, QString());
    DbConnectionPool pool(4);
    std::atomic<int> dirty{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                try {
                    request(pool, params, (i + t) % 2 ? QStringLiteral("SET @v = 1") : QStringLiteral("SELECT 1"));
                    auto c = pool.acquire(params);
                    if (one(*c, QStringLiteral("SELECT @v IS NULL AND @@in_transaction = 0")) != QStringLiteral("1")) ++dirty;
                } catch (const DbError&) {
                    ++failed;
                }
            }
        });
    for (int i = 0; i < 5; ++i) {
        QThread::msleep(20);
        pool.clear();
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(dirty.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_LE(pool.idleCount(), 4u);
}

TEST(DbConnectionPool, ClosesWhatCannotBeCleanedOrIsGoneOrHasOtherParameters)
{
    VELDRA_REQUIRE_DATABASE(db);
    const DbParams params = paramsFor(db, QString());
    DbConnection admin(params);
    admin.connect();
    DbConnectionPool pool;

    // killed while idle: told by its socket, replaced
    unsigned long killed = 0;
    {
        auto c = pool.acquire(params);
        killed = c->serverConnectionId();
    }
    admin.execute(QStringLiteral("KILL %1").arg(killed));
    waitUntilGone(admin, killed);
    EXPECT_NE(request(pool, params, QStringLiteral("SELECT 1")), killed);
    EXPECT_EQ(pool.idleCount(), 1u);

    // lost while in use, or lost before its reset: not kept
    {
        auto c = pool.acquire(params);
        admin.execute(QStringLiteral("KILL %1").arg(c->serverConnectionId()));
        c->onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::Fail; };
        EXPECT_THROW(c->execute(QStringLiteral("SELECT 1")), DbError);
    }
    EXPECT_EQ(pool.idleCount(), 0u);
    {
        auto c = pool.acquire(params);
        c->execute(QStringLiteral("SET @v = 1"));
        admin.execute(QStringLiteral("KILL %1").arg(c->serverConnectionId()));
        waitUntilGone(admin, c->serverConnectionId());
    }
    EXPECT_EQ(pool.idleCount(), 0u);

    // without a work database a session that selected one has no way back
    request(pool, params, QStringLiteral("USE mysql"));
    EXPECT_EQ(pool.idleCount(), 0u);
    {
        auto c = pool.acquire(params);
        EXPECT_EQ(one(*c, QStringLiteral("SELECT IFNULL(DATABASE(), '-')")), QStringLiteral("-"));
    }

    // other parameters (TEST CONNECT) and clear (STOP) drop the idle ones
    EXPECT_EQ(pool.idleCount(), 1u);
    DbParams other = params;
    other.database = QStringLiteral("mysql");
    pool.useParams(other);
    EXPECT_EQ(pool.idleCount(), 0u);
    {
        auto c = pool.acquire(other);
        pool.clear();  // while in use: not kept when it comes back
    }
    EXPECT_EQ(pool.idleCount(), 0u);
}
