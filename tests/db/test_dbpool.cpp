// SPDX-License-Identifier: GPL-3.0-or-later
// Work-database connections reused across requests, on the test server.
#include <gtest/gtest.h>

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

}  // namespace

TEST(DbConnectionPool, ReusesAConnectionAsGoodAsNew)
{
    VELDRA_REQUIRE_DATABASE(db);
    const DbParams params = paramsFor(db, QString());
    DbConnectionPool pool;
    unsigned long first = 0;
    {
        auto c = pool.acquire(params);
        first = c->serverConnectionId();
        // a previous user leaves session state behind, the backslash mode among it
        c->execute(QStringLiteral("SET @left = 'behind', SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"));
        c->execute(QStringLiteral("SET NAMES latin1"));
    }
    EXPECT_EQ(pool.idleCount(), 1u);
    auto c = pool.acquire(params);
    EXPECT_EQ(c->serverConnectionId(), first);
    EXPECT_EQ(one(*c, QStringLiteral("SELECT @left IS NULL")), QStringLiteral("1"));
    EXPECT_EQ(one(*c, QStringLiteral("SELECT 'a\\'b'")), QStringLiteral("a'b"));
    EXPECT_EQ(one(*c, QStringLiteral("SELECT @@character_set_client")), QStringLiteral("utf8mb4"));
    EXPECT_EQ(one(*c, QStringLiteral("SELECT 'Дми'")), QStringLiteral("Дми"));
}

TEST(DbConnectionPool, NoConnectionIsSharedAtTheSameMoment)
{
    VELDRA_REQUIRE_DATABASE(db);
    DbConnectionPool pool;
    auto a = pool.acquire(paramsFor(db, QString()));
    auto b = pool.acquire(paramsFor(db, QString()));
    EXPECT_NE(a->serverConnectionId(), b->serverConnectionId());
}

TEST(DbConnectionPool, DropsWhatFailsItsResetOrHasOtherParameters)
{
    VELDRA_REQUIRE_DATABASE(db);
    const DbParams params = paramsFor(db, QString());
    DbConnection admin(params);
    admin.connect();
    DbConnectionPool pool;
    unsigned long killed = 0;
    {
        auto c = pool.acquire(params);
        killed = c->serverConnectionId();
    }
    admin.execute(QStringLiteral("KILL %1").arg(killed));
    {
        auto c = pool.acquire(params);  // the reset fails: a new connection
        EXPECT_NE(c->serverConnectionId(), killed);
        EXPECT_EQ(one(*c, QStringLiteral("SELECT 1")), QStringLiteral("1"));
    }
    EXPECT_EQ(pool.idleCount(), 1u);

    // a connection lost while in use is not kept
    {
        auto c = pool.acquire(params);
        admin.execute(QStringLiteral("KILL %1").arg(c->serverConnectionId()));
        c->onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::Fail; };
        EXPECT_THROW(c->execute(QStringLiteral("SELECT 1")), DbError);
    }
    EXPECT_EQ(pool.idleCount(), 0u);

    // other parameters (TEST CONNECT) and clear (STOP) drop the idle ones
    { auto c = pool.acquire(params); }
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
