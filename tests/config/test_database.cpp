// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "config/database.h"
#include "db/dbtestutil.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QStringList tablesOf(DbConnection& c, const QString& database)
{
    auto r = c.openBuffered(QStringLiteral("SELECT table_name FROM information_schema.tables WHERE table_schema = '%1' "
                                           "ORDER BY table_name")
                                .arg(database));
    QStringList names;
    while (r->next()) names << r->value(0);
    names.sort();
    return names;
}

}  // namespace

TEST(Database, CreateTableTextsAreExact)
{
    EXPECT_EQ(createClientsTableSql(),
              QStringLiteral("CREATE TABLE IF NOT EXISTS `clients_veldra` (\r`id` INT(11) NOT NULL AUTO_INCREMENT,  \r"
                             "`email` varchar(100) NOT NULL, \r`seccode` varchar(255) NOT NULL, \r`todate` date NOT NULL, \r"
                             "`note` text, \rPRIMARY KEY (`id`), \rUNIQUE KEY (`email`, `seccode`), \rKEY (`todate`)\r"
                             ") ENGINE=InnoDB DEFAULT CHARSET=utf8;"));
    EXPECT_EQ(createClientsPaymentsTableSql(),
              QStringLiteral("CREATE TABLE IF NOT EXISTS `clientspayments_veldra` (\r`id` INT(11) NOT NULL,  \r"
                             "`datapayment` date NOT NULL, \r`sum` int(11) NOT NULL default '0', \r`note` text, \r"
                             "KEY (`id`), \rKEY (`datapayment`)\r) ENGINE=InnoDB DEFAULT CHARSET=utf8;"));
    EXPECT_EQ(createBlacklistTableSql(),
              QStringLiteral("CREATE TABLE IF NOT EXISTS `blacklist_veldra` (\r"
                             "`blocktype` enum('IP', 'SECCODE', 'EMAIL') NOT NULL DEFAULT 'IP', \r"
                             "`value` varchar(255) NOT NULL, \rPRIMARY KEY (`blocktype`,`value`)\r"
                             ") ENGINE=InnoDB DEFAULT CHARSET=utf8;"));
}

TEST(Database, StartsDisconnected)
{
    DatabaseConnections c;
    EXPECT_EQ(c.clientStatus().text, QStringLiteral("CLIENT DATA => Not have connect with database"));
    EXPECT_EQ(c.workStatus().text, QStringLiteral("WORKING DATA => Not have connect with database"));
    EXPECT_FALSE(c.clientStatus().connected);
    EXPECT_TRUE(c.errorArea().isEmpty());
    EXPECT_EQ(c.errorAreaText(), QString());
}

TEST(Database, TestConnectOpensBothAndCreatesTheTables)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase clients(db, QStringLiteral("veldra_t_cfg_clients"));
    ScratchDatabase work(db, QStringLiteral("veldra_t_cfg_work"));
    DatabaseConnections c;
    QStringList seen;
    c.onChanged = [&] { seen << c.clientStatus().text + u'|' + c.workStatus().text; };

    c.TestConnect(clients.params(), work.params());
    EXPECT_EQ(c.errorAreaText(), QString());
    EXPECT_TRUE(c.DataClients.connected());
    EXPECT_TRUE(c.WorkData.connected());
    const QString clientOk = QStringLiteral("CLIENT DATA => Connect with [%1 | %2 | veldra_t_cfg_clients] is OK").arg(db.host, db.user);
    const QString workOk = QStringLiteral("WORKING DATA => Connect with [%1 | %2 | veldra_t_cfg_work] is OK").arg(db.host, db.user);
    EXPECT_EQ(c.clientStatus().text, clientOk);
    EXPECT_TRUE(c.clientStatus().connected);
    EXPECT_EQ(c.workStatus().text, workOk);
    EXPECT_EQ(tablesOf(clients.admin(), QStringLiteral("veldra_t_cfg_clients")),
              QStringList({"blacklist_veldra", "clients_veldra", "clientspayments_veldra"}));
    EXPECT_TRUE(tablesOf(work.admin(), QStringLiteral("veldra_t_cfg_work")).isEmpty());
    EXPECT_EQ(*c.workParams().load(), work.params());

    // Twice in a row: both lines pass through the disconnected text and back.
    seen.clear();
    c.TestConnect(clients.params(), work.params());
    EXPECT_TRUE(seen.contains(QStringLiteral("CLIENT DATA => Not have connect with database|WORKING DATA => Not have connect with database")));
    EXPECT_EQ(seen.last(), clientOk + u'|' + workOk);
    EXPECT_TRUE(c.errorArea().isEmpty());

    c.CloseConnections();
    EXPECT_FALSE(c.DataClients.connected());
    EXPECT_EQ(c.workStatus().text, QStringLiteral("WORKING DATA => Not have connect with database"));
}

TEST(Database, ExistingTablesWithOtherColumnsAreLeftAlone)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase clients(db, QStringLiteral("veldra_t_cfg_existing"));
    clients.exec(QStringLiteral("CREATE TABLE clients_veldra (other INT)"));
    DatabaseConnections c;
    c.TestConnect(clients.params(), clients.params());
    EXPECT_TRUE(c.errorArea().isEmpty()) << c.errorAreaText().toStdString();
    auto r = clients.admin().openBuffered(QStringLiteral("SELECT * FROM clients_veldra"));
    EXPECT_EQ(r->fieldNames(), QStringList({"other"}));
}

TEST(Database, ClientFailureIsReportedAndTheWorkConnectionStillOpens)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase work(db, QStringLiteral("veldra_t_cfg_badclient"));
    DbParams badClient = work.params();
    badClient.password = QStringLiteral("wrong");
    DatabaseConnections c;
    c.TestConnect(badClient, work.params());
    ASSERT_EQ(c.errorArea().size(), 2);
    // The server names the client host as it resolves it.
    EXPECT_TRUE(c.errorArea()[0].startsWith(
        QStringLiteral("Not connect with client data \r Error |  msg = [EMySqlException : Access denied for user '%1'@").arg(db.user)));
    EXPECT_TRUE(c.errorArea()[0].endsWith(QStringLiteral("' (using password: YES)]")));
    EXPECT_EQ(c.errorArea()[1], QStringLiteral("------------------------------"));
    EXPECT_EQ(c.errorAreaText(), c.errorArea()[0] + QStringLiteral("\r\n------------------------------\r\n"));
    EXPECT_FALSE(c.clientStatus().connected);
    EXPECT_TRUE(c.workStatus().connected);
}

TEST(Database, WorkPortThatIsNotANumber)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase clients(db, QStringLiteral("veldra_t_cfg_badport"));
    DbParams work = clients.params();
    work.port = QStringLiteral("abc");
    DatabaseConnections c;
    c.TestConnect(clients.params(), work);
    EXPECT_EQ(c.errorArea(), QStringList({"Not connect with work data \r Error |  msg = [EConvertError : 'abc' is not a valid integer value]",
                                          "------------------------------"}));
    EXPECT_TRUE(c.clientStatus().connected);
    EXPECT_FALSE(c.workStatus().connected);
    // The set published to request threads is the one given, whole.
    EXPECT_EQ(*c.workParams().load(), work);
}

TEST(Database, ClientUserWithoutCreateRight)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase clients(db, QStringLiteral("veldra_t_cfg_noright"));
    clients.exec(QStringLiteral("DROP USER IF EXISTS 'veldra_t_ro'@'%'"));
    clients.exec(QStringLiteral("CREATE USER 'veldra_t_ro'@'%' IDENTIFIED BY 'ro_pw'"));
    clients.exec(QStringLiteral("GRANT SELECT ON veldra_t_cfg_noright.* TO 'veldra_t_ro'@'%'"));
    DbParams ro = clients.params();
    ro.user = QStringLiteral("veldra_t_ro");
    ro.password = QStringLiteral("ro_pw");
    DatabaseConnections c;
    c.TestConnect(ro, clients.params());
    clients.exec(QStringLiteral("DROP USER 'veldra_t_ro'@'%'"));
    EXPECT_TRUE(c.clientStatus().connected);  // opened, then the first CREATE failed
    EXPECT_TRUE(c.DataClients.connected());
    ASSERT_EQ(c.errorArea().size(), 2);
    EXPECT_TRUE(c.errorArea()[0].startsWith(QStringLiteral("Not connect with client data \r Error |  msg = [EMySqlException : CREATE command denied")))
        << c.errorArea()[0].toStdString();
    EXPECT_TRUE(tablesOf(clients.admin(), QStringLiteral("veldra_t_cfg_noright")).isEmpty());
}

TEST(Database, LostClientConnectionIsReopenedMidSession)
{
    VELDRA_REQUIRE_DATABASE(db);
    ScratchDatabase clients(db, QStringLiteral("veldra_t_cfg_lost"));
    DatabaseConnections c;
    c.TestConnect(clients.params(), clients.params());
    ASSERT_TRUE(c.errorArea().isEmpty());
    QStringList seen;
    c.onChanged = [&] { seen << c.clientStatus().text; };
    const auto id = c.DataClients.serverConnectionId();
    clients.exec(QStringLiteral("KILL %1").arg(id));
    c.DataClients.execute(QStringLiteral("INSERT INTO blacklist_veldra VALUES ('IP', '10.0.0.9')"));
    EXPECT_NE(c.DataClients.serverConnectionId(), id);
    EXPECT_EQ(seen, QStringList({"CLIENT DATA => Not have connect with database",
                                 QStringLiteral("CLIENT DATA => Connect with [%1 | %2 | veldra_t_cfg_lost] is OK").arg(db.host, db.user)}));
    auto r = clients.admin().openBuffered(QStringLiteral("SELECT COUNT(*) FROM blacklist_veldra"));
    ASSERT_TRUE(r->next());
    EXPECT_EQ(r->value(0), QStringLiteral("1"));
}
