// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/database.h"

#include "common/errors.h"
#include "common/mainthread.h"

namespace veldra {

namespace {

const QString kClientPrefix = QStringLiteral("CLIENT DATA => ");
const QString kWorkPrefix = QStringLiteral("WORKING DATA => ");
const QString kNotConnected = QStringLiteral("Not have connect with database");
const QString kDashes = QStringLiteral("------------------------------");

QString joinedByCr(std::initializer_list<const char*> lines)
{
    QStringList l;
    for (const char* s : lines) l << QString::fromLatin1(s);
    return l.join(u'\r');
}

QString connectedText(const QString& prefix, const DbParams& p)
{
    return prefix + QStringLiteral("Connect with [") + p.server + QStringLiteral(" | ") + p.user + QStringLiteral(" | ") +
           p.database + QStringLiteral("] is OK");
}

}  // namespace

QString createClientsTableSql()
{
    return joinedByCr({"CREATE TABLE IF NOT EXISTS `clients_veldra` (",
                       "`id` INT(11) NOT NULL AUTO_INCREMENT,  ",
                       "`email` varchar(100) NOT NULL, ",
                       "`seccode` varchar(255) NOT NULL, ",
                       "`todate` date NOT NULL, ",
                       "`note` text, ",
                       "PRIMARY KEY (`id`), ",
                       "UNIQUE KEY (`email`, `seccode`), ",
                       "KEY (`todate`)",
                       ") ENGINE=InnoDB DEFAULT CHARSET=utf8;"});
}

QString createClientsPaymentsTableSql()
{
    return joinedByCr({"CREATE TABLE IF NOT EXISTS `clientspayments_veldra` (",
                       "`id` INT(11) NOT NULL,  ",
                       "`datapayment` date NOT NULL, ",
                       "`sum` int(11) NOT NULL default '0', ",
                       "`note` text, ",
                       "KEY (`id`), ",
                       "KEY (`datapayment`)",
                       ") ENGINE=InnoDB DEFAULT CHARSET=utf8;"});
}

QString createBlacklistTableSql()
{
    return joinedByCr({"CREATE TABLE IF NOT EXISTS `blacklist_veldra` (",
                       "`blocktype` enum('IP', 'SECCODE', 'EMAIL') NOT NULL DEFAULT 'IP', ",
                       "`value` varchar(255) NOT NULL, ",
                       "PRIMARY KEY (`blocktype`,`value`)",
                       ") ENGINE=InnoDB DEFAULT CHARSET=utf8;"});
}

DatabaseConnections::DatabaseConnections()
    : m_clientStatus{kClientPrefix + kNotConnected, false}, m_workStatus{kWorkPrefix + kNotConnected, false}
{
    // The status line of a connection follows its connect and disconnect events.
    auto follow = [this](DbConnection& connection, StatusLine& line, const QString& prefix) {
        connection.onAfterConnect = [this, &connection, &line, prefix] {
            line = {connectedText(prefix, connection.params()), true};
            changed();
        };
        connection.onAfterDisconnect = [this, &line, prefix] {
            line = {prefix + kNotConnected, false};
            changed();
        };
    };
    follow(DataClients, m_clientStatus, kClientPrefix);
    follow(WorkData, m_workStatus, kWorkPrefix);
    // A lost connection is reopened and the failed statement repeated.
    DataClients.onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::ReconnectAndRepeat; };
    WorkData.onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::ReconnectAndRepeat; };
}

void DatabaseConnections::changed()
{
    if (onChanged) onChanged();
}

QString DatabaseConnections::errorAreaText() const
{
    QString text;
    for (const QString& line : m_errorArea) text += line + QStringLiteral("\r\n");
    return text;
}

void DatabaseConnections::TestConnect(const DbParams& client, const DbParams& work)
{
    VELDRA_ASSERT_MAIN_THREAD();
    m_errorArea.clear();
    changed();
    DataClients.close();
    WorkData.close();

    try {
        DataClients.setParams(client);
        DataClients.connect();
        DataClients.execute(createClientsTableSql());
        DataClients.execute(createClientsPaymentsTableSql());
        DataClients.execute(createBlacklistTableSql());
    } catch (...) {
        m_errorArea << QStringLiteral("Not connect with client data \r ") + currentErrorDetails() << kDashes;
        changed();
    }

    // The whole set at once, so that a request thread never sees half of it.
    m_workParams.store(work);
    m_workPool.useParams(work);
    try {
        WorkData.setParams(work);
        WorkData.connect();
    } catch (...) {
        m_errorArea << QStringLiteral("Not connect with work data \r ") + currentErrorDetails() << kDashes;
        changed();
    }
}

void DatabaseConnections::CloseConnections()
{
    DataClients.close();
    WorkData.close();
    m_workPool.clear();
}

}  // namespace veldra
