// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two long-lived database connections of the main thread, DataClients (client
// database: white and black list) and WorkData (work database), TEST CONNECT, their
// status lines, the error area and the client tables.
//
// Request threads never use these connections: they copy the work-database parameters
// from workParams(), one consistent set published by every TEST CONNECT, and take a
// connection of their own from workPool(), which gets it back clean (dbpool.h).
#include <QString>
#include <QStringList>
#include <functional>

#include "common/snapshot.h"
#include "db/dbconnection.h"
#include "db/dbpool.h"

namespace veldra {

// The three statements that create the client tables, exactly as sent.
QString createClientsTableSql();
QString createClientsPaymentsTableSql();
QString createBlacklistTableSql();

struct StatusLine {
    QString text;
    bool connected = false;  // green when true, dark red (maroon) otherwise
};

class DatabaseConnections {
public:
    DatabaseConnections();
    DatabaseConnections(const DatabaseConnections&) = delete;
    DatabaseConnections& operator=(const DatabaseConnections&) = delete;

    // TEST CONNECT, main thread: closes both connections, opens the client connection
    // with `client` and creates missing client tables, then opens the work connection
    // with `work`. Failures go to the error area; nothing is thrown.
    void TestConnect(const DbParams& client, const DbParams& work);
    // Closes both connections (STOP).
    void CloseConnections();

    // Empty after TEST CONNECT exactly when both connections are open and the tables exist.
    const QStringList& errorArea() const { return m_errorArea; }
    // The error area as one text, each line followed by CR LF (empty when there are no lines).
    QString errorAreaText() const;

    const StatusLine& clientStatus() const { return m_clientStatus; }
    const StatusLine& workStatus() const { return m_workStatus; }

    // The work-database parameters as TEST CONNECT last set them; any thread.
    const Snapshot<DbParams>& workParams() const { return m_workParams; }
    // Connections to the work database kept for the requests' queries; emptied by every
    // TEST CONNECT that changes the parameters and by CloseConnections.
    DbConnectionPool& workPool() { return m_workPool; }

    // Called in the main thread after a status line or the error area changed.
    std::function<void()> onChanged;

    DbConnection DataClients;
    DbConnection WorkData;

private:
    void changed();

    QStringList m_errorArea;
    StatusLine m_clientStatus;
    StatusLine m_workStatus;
    Snapshot<DbParams> m_workParams;
    DbConnectionPool m_workPool;
};

}  // namespace veldra
