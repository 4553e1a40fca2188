// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The database access layer: one connection to a MariaDB/MySQL server through the
// MariaDB Connector/C, statements without rows, and forward-only result sets.
//
// Value texts (DbResult::value):
// - SQL NULL gives an empty text; isNull() tells it apart from an empty string.
// - DATE gives dd.MM.yyyy; DATETIME and TIMESTAMP give dd.MM.yyyy HH:mm:ss (always with
//   the time, fractions of a second dropped). A zero or otherwise unreadable date keeps
//   the server's text.
// - BIT gives the unsigned decimal number of its bits.
// - Binary columns (BINARY, VARBINARY, BLOB, GEOMETRY) give their bytes decoded as
//   UTF-8, every invalid sequence becoming U+FFFD.
// - Every other value is the server's own text (DECIMAL 12.50 stays "12.50").
// Field names are the names the server reports, decoded as UTF-8; duplicate names in one
// result are left as reported.
//
// Errors are DbError exceptions: "EMySqlException" with the server's or the client
// library's message, "EConvertError" for a port text that is not a whole number,
// "EDatabaseError" for misuse (no open connection, a statement without a result set
// where rows were asked for).
//
// A lost connection (server gone away, lost during a query, connection killed) runs the
// after-disconnect event, then asks the lost-connection handler what to do; by default
// the connection is reopened and the failed statement repeated once.
//
// Threads: a connection object is used by one thread at a time; request threads lease
// theirs from the work-database pool (dbpool.h), which hands it to no other request
// meanwhile. The client library is initialised once per process.
//
// Every wait for the server (connect, query, rows) can be ended from another thread:
// a thread that runs under a DbCancel (DbCancelScope) fails its waits at once, as a lost
// connection, from the moment that DbCancel is cancelled.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "common/errors.h"

struct st_mysql;
struct st_mysql_res;

namespace veldra {

// Connection parameters as the settings page holds them; the port is the page text.
struct DbParams {
    QString server;
    QString port;
    QString database;
    QString user;
    QString password;

    bool operator==(const DbParams&) const = default;
};

class DbError : public Error {
public:
    DbError(const QString& typeName, const QString& message, unsigned code = 0)
        : Error(typeName, message), m_code(code)
    {
    }
    // The server's or client library's error number; 0 when there is none.
    unsigned code() const { return m_code; }

private:
    unsigned m_code;
};

// The port text as a number: a whole number from 0 to 65535, else EConvertError.
unsigned parsePort(const QString& text);

class DbConnection;

// Ends the database waits of the threads that run under it.
class DbCancel {
public:
    DbCancel();
    ~DbCancel();
    DbCancel(const DbCancel&) = delete;
    DbCancel& operator=(const DbCancel&) = delete;
    // From any thread; for good.
    void cancel();
    bool cancelled() const;
    // Readable once cancelled.
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// While it lives, the database waits of this thread end when `cancel` is cancelled.
class DbCancelScope {
public:
    explicit DbCancelScope(const DbCancel* cancel);
    ~DbCancelScope();
    DbCancelScope(const DbCancelScope&) = delete;
    DbCancelScope& operator=(const DbCancelScope&) = delete;

private:
    const DbCancel* m_previous;
};

// A result set, read forward only with next(). A streaming result keeps the
// connection busy until it is read to its end or destroyed; it must not outlive its
// connection.
class DbResult {
public:
    ~DbResult();
    DbResult(const DbResult&) = delete;
    DbResult& operator=(const DbResult&) = delete;

    int fieldCount() const { return int(m_names.size()); }
    const QStringList& fieldNames() const { return m_names; }
    // Moves to the next row (the first one on the first call); false at the end.
    // Throws DbError when the connection fails while rows are read.
    bool next();
    // The current row's value i as text (see the value rules above).
    const QString& value(int i) const;
    // The same text as UTF-8 bytes (value(i).toUtf8()), without a detour through UTF-16
    // where the row's bytes already are that text. The view points into the row or into
    // `scratch`, and lasts until the next call of next() or a change of `scratch`.
    QByteArrayView utf8Value(int i, QByteArray& scratch) const;
    bool isNull(int i) const { return !m_row || !m_row[i]; }
    // Buffered results only: the number of rows; -1 for a streaming result.
    qint64 rowCount() const;

private:
    friend class DbConnection;
    DbResult(DbConnection* owner, st_mysql_res* res, bool buffered);

    DbConnection* m_owner;
    st_mysql* m_handle;
    bool m_atEnd = false;
    st_mysql_res* m_res;
    bool m_buffered;
    QStringList m_names;
    std::vector<int> m_types;
    // The current row as the client library holds it; its values become texts when asked.
    char** m_row = nullptr;
    const unsigned long* m_lengths = nullptr;
    mutable std::vector<QString> m_values;
    mutable std::vector<bool> m_converted;
};

class DbConnection {
public:
    enum class LostAnswer { Fail, Reconnect, ReconnectAndRepeat };

    DbConnection();
    explicit DbConnection(DbParams params);
    ~DbConnection();  // closes without running the after-disconnect event
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    void setParams(const DbParams& params) { m_params = params; }
    const DbParams& params() const { return m_params; }

    // Opens the connection (connect time-out 30 s, utf8mb4, TCP, the database selected in
    // the handshake) and sets its session up in one statement: backslash escapes on, and
    // the server's session-state tracking on where it has it. An open connection is
    // closed first. Throws DbError; runs the after-connect event on success.
    void connect();
    // Makes an open connection as good as new for its next user: the server forgets the
    // session (mysql_reset_connection: the transaction rolled back, every lock released,
    // variables and temporary tables gone), the session set-up of connect() runs again
    // and the connection's database is selected again when it was left. False, with the
    // connection closed, when that fails (or when a database was left and the connection
    // has none to go back to).
    bool reset();
    // Whether the statements since the connection was made or last reset may have left
    // anything in the session that a new connection would not have (see sessionstate.h):
    // what the server reported (session-state tracking, an open transaction, autocommit
    // off), what the statement texts may do unreported, and any failure. Always true
    // after a statement on a server without session-state tracking.
    bool mayHoldSessionState() const { return m_stateLeft; }
    // reset() when the session may hold state, else nothing (no round trip).
    bool clean() { return !m_stateLeft || reset(); }
    // Whether an idle open connection still looks usable without asking the server: no
    // bytes have arrived that nobody asked for (the server closed it, or killed it).
    bool looksAlive() const;
    // Closes an open connection and runs the after-disconnect event; nothing when closed.
    void close();
    bool connected() const { return m_handle != nullptr; }

    // Runs a statement; a result set it yields is read and dropped.
    void execute(const QString& sql);
    // Runs a statement and returns its rows, streamed from the server as they are read.
    // A statement without a result set has been run and then throws EDatabaseError.
    std::unique_ptr<DbResult> openStreaming(const QString& sql);
    // The same, with every row fetched at once.
    std::unique_ptr<DbResult> openBuffered(const QString& sql);

    // The text as the body of a string literal for this connection's character set
    // (mysql_real_escape_string). Throws EDatabaseError when the connection is closed.
    QString escapeString(const QString& text) const;

    // The server's id of this connection (for KILL); 0 when closed.
    unsigned long serverConnectionId() const;

    std::function<void()> onAfterConnect;
    std::function<void()> onAfterDisconnect;
    // Asked when the connection was found lost; unset means ReconnectAndRepeat.
    std::function<LostAnswer(DbConnection&)> onConnectionLost;

private:
    friend class DbResult;
    enum class ResultKind { None, Streaming, Buffered };
    // Reads the status of the server's last answer into m_stateLeft / m_schemaLeft.
    void noteStatus();
    // Reads and drops the further results of a statement, noting the status of each.
    void drainResults();
    st_mysql_res* run(const QString& sql, ResultKind kind);
    st_mysql_res* runOnce(const QByteArray& sql, ResultKind kind);
    void dropHandle();
    [[noreturn]] void throwLast() const;
    [[noreturn]] void noResultSet();

    DbParams m_params;
    st_mysql* m_handle = nullptr;
    bool m_tracked = false;     // the server reports changes of the session
    bool m_stateLeft = false;   // the session may differ from a new connection's
    bool m_schemaLeft = false;  // another database may be selected
};

}  // namespace veldra
