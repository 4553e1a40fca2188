// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/dbconnection.h"

#include <mysql.h>

#include <QDate>
#include <QTime>
#include <cerrno>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "common/mainthread.h"
#include "common/regional.h"
#include "db/sessionstate.h"

namespace veldra {

namespace {

const QString kMySqlError = QStringLiteral("EMySqlException");

// Error numbers that mean the connection is gone.
constexpr unsigned kServerGoneError = 2006;      // MySQL server has gone away
constexpr unsigned kServerLost = 2013;           // Lost connection to server during query
constexpr unsigned kServerLostExtended = 2055;   // Lost connection to server at '...'
constexpr unsigned kConnectionKilled = 1927;     // Connection was killed

bool isLostConnection(unsigned code)
{
    return code == kServerGoneError || code == kServerLost || code == kServerLostExtended || code == kConnectionKilled;
}

void ensureLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

struct ThreadGuard {
    ThreadGuard() { mysql_thread_init(); }
    ~ThreadGuard() { mysql_thread_end(); }
};

void ensureThread()
{
    ensureLibrary();
    thread_local ThreadGuard guard;
    (void)guard;
}

// The session set-up, one statement. Request values reach the SQL text as string
// literals escaped with backslashes; a server whose mode reads backslashes literally
// would let them out of the literal. A reset also forgets the character set of the
// handshake.
constexpr char kBackslashEscapes[] = "SESSION sql_mode = REPLACE(@@SESSION.sql_mode, 'NO_BACKSLASH_ESCAPES', '')";
// The server then marks every answer after which the session differs (a variable, the
// database, a temporary table, a prepared statement, LOCK TABLES, a transaction).
constexpr char kTracking[] =
    ", SESSION session_track_state_change = ON, SESSION session_track_schema = ON"
    ", SESSION session_track_system_variables = '*', SESSION session_track_transaction_info = 'STATE'";

constexpr unsigned kUnknownSystemVariable = 1193;
constexpr unsigned kWrongValueForVariable = 1231;

// Runs the session set-up on `h`; `tracked` says whether to ask for the session-state
// tracking and comes back false when the server has none.
bool setUpSession(MYSQL* h, bool afterReset, bool& tracked)
{
    auto run = [&](bool withTracking) {
        QByteArray sql = afterReset ? QByteArray("SET NAMES utf8mb4, ") : QByteArray("SET ");
        sql += kBackslashEscapes;
        if (withTracking) sql += kTracking;
        return mysql_real_query(h, sql.constData(), (unsigned long)sql.size()) == 0;
    };
    if (tracked) {
        if (run(true)) return true;
        const unsigned code = mysql_errno(h);
        if (code != kUnknownSystemVariable && code != kWrongValueForVariable) return false;
        tracked = false;
    }
    return run(false);
}

thread_local const DbCancel* t_cancel = nullptr;

// Every wait of the client library for its socket comes here: the socket and, when the
// thread runs under a DbCancel, its cancel signal. `timeout` in ms, -1 for none.
int waitForSocket(my_socket socket, my_bool isRead, int timeout)
{
    pollfd p[2] = {{socket, short(isRead ? POLLIN : POLLOUT), 0}, {-1, POLLIN, 0}};
    if (t_cancel) p[1].fd = t_cancel->fd();
    for (;;) {
        const int r = ::poll(p, 2, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && p[1].revents) {
            errno = ECANCELED;
            return -1;
        }
        return r;
    }
}

DbError errorOf(MYSQL* handle)
{
    return DbError(kMySqlError, QString::fromUtf8(mysql_error(handle)), mysql_errno(handle));
}

// The number of `count` digits at `at`; -1 when one of them is no digit.
int digitsAt(const QByteArray& raw, qsizetype at, int count)
{
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const char c = raw[at + i];
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Three numbers "n<sep>nn<sep>nn" at `at` of `raw`, the first `firstWidth` digits wide.
bool threeNumbersAt(const QByteArray& raw, qsizetype at, int firstWidth, char sep, int (&n)[3])
{
    const qsizetype second = at + firstWidth + 1, third = second + 3;
    if (raw.size() < third + 2 || raw[second - 1] != sep || raw[third - 1] != sep) return false;
    n[0] = digitsAt(raw, at, firstWidth);
    n[1] = digitsAt(raw, second, 2);
    n[2] = digitsAt(raw, third, 2);
    return n[0] >= 0 && n[1] >= 0 && n[2] >= 0;
}

// "yyyy-MM-dd" at the start of `raw`, read without a format parser (one per row).
QDate dateAtStart(const QByteArray& raw)
{
    int n[3];
    if (threeNumbersAt(raw, 0, 4, '-', n) && QDate::isValid(n[0], n[1], n[2])) return QDate(n[0], n[1], n[2]);
    return QDate::fromString(QString::fromLatin1(raw.left(10)), QStringLiteral("yyyy-MM-dd"));
}

// "HH:mm:ss" at position 11 of `raw`.
QTime timeAtEleven(const QByteArray& raw)
{
    int n[3];
    if (threeNumbersAt(raw, 11, 2, ':', n) && QTime::isValid(n[0], n[1], n[2])) return QTime(n[0], n[1], n[2]);
    return QTime::fromString(QString::fromLatin1(raw.mid(11, 8)), QStringLiteral("HH:mm:ss"));
}

QString dateText(const QByteArray& raw)
{
    const QDate d = dateAtStart(raw);
    return d.isValid() ? regional::shortDate(d) : QString::fromUtf8(raw);
}

QString dateTimeText(const QByteArray& raw)
{
    const QDate d = dateAtStart(raw);
    const QTime t = timeAtEleven(raw);
    if (!d.isValid() || !t.isValid() || raw.size() < 19) return QString::fromUtf8(raw);
    return regional::shortDate(d) + u' ' + regional::longTime(t);
}

QString bitText(const QByteArray& raw)
{
    quint64 v = 0;
    for (char c : raw) v = (v << 8) | quint8(c);
    return QString::number(v);
}

void putTwoDigits(char* at, int v)
{
    at[0] = char('0' + v / 10);
    at[1] = char('0' + v % 10);
}

// The short date of a well-formed "yyyy-MM-dd..." with a year from 1 to 9999 as
// dateText() writes it, into `out`; false for anything else.
bool shortDateBytes(const QByteArray& raw, QByteArray& out)
{
    int n[3];
    if (!threeNumbersAt(raw, 0, 4, '-', n) || n[0] < 1 || !QDate::isValid(n[0], n[1], n[2])) return false;
    out.resize(10);
    char* p = out.data();
    putTwoDigits(p, n[2]);
    p[2] = '.';
    putTwoDigits(p + 3, n[1]);
    p[5] = '.';
    putTwoDigits(p + 6, n[0] / 100);
    putTwoDigits(p + 8, n[0] % 100);
    return true;
}

// The same for "yyyy-MM-dd HH:mm:ss..." as dateTimeText() writes it.
bool dateTimeBytes(const QByteArray& raw, QByteArray& out)
{
    int t[3];
    if (raw.size() < 19 || !threeNumbersAt(raw, 11, 2, ':', t) || !QTime::isValid(t[0], t[1], t[2]) ||
        !shortDateBytes(raw, out))
        return false;
    out.resize(19);
    char* p = out.data();
    p[10] = ' ';
    putTwoDigits(p + 11, t[0]);
    p[13] = ':';
    putTwoDigits(p + 14, t[1]);
    p[16] = ':';
    putTwoDigits(p + 17, t[2]);
    return true;
}

}  // namespace

DbCancel::DbCancel() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DbCancel::~DbCancel()
{
    if (m_fd >= 0) ::close(m_fd);
}

void DbCancel::cancel()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
}

bool DbCancel::cancelled() const
{
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

DbCancelScope::DbCancelScope(const DbCancel* cancel) : m_previous(t_cancel) { t_cancel = cancel; }

DbCancelScope::~DbCancelScope() { t_cancel = m_previous; }

unsigned parsePort(const QString& text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < 0 || v > 65535)
        throw DbError(QStringLiteral("EConvertError"), u'\'' + text + QStringLiteral("' is not a valid integer value"));
    return unsigned(v);
}

// ---------------------------------------------------------------------------------------

DbResult::DbResult(DbConnection* owner, st_mysql_res* res, bool buffered)
    : m_owner(owner), m_handle(owner->m_handle), m_atEnd(buffered), m_res(res), m_buffered(buffered)
{
    const unsigned n = mysql_num_fields(res);
    const MYSQL_FIELD* fields = mysql_fetch_fields(res);
    for (unsigned i = 0; i < n; ++i) {
        m_names << QString::fromUtf8(fields[i].name, qsizetype(fields[i].name_length));
        m_types.push_back(int(fields[i].type));
    }
    m_values.resize(n);
    m_converted.assign(n, false);
}

DbResult::~DbResult()
{
    if (m_res) mysql_free_result(m_res);
    // rows left unread: what the statement did after them is not known
    if (!m_atEnd) m_owner->m_stateLeft = true;
    m_owner->drainResults();
}

bool DbResult::next()
{
    MYSQL_ROW row = mysql_fetch_row(m_res);
    m_converted.assign(m_values.size(), false);
    if (!row) {
        m_row = nullptr;
        if (!m_buffered && mysql_errno(m_handle) != 0) {
            m_owner->m_stateLeft = true;
            throw errorOf(m_handle);
        }
        if (!m_atEnd) {
            m_atEnd = true;
            m_owner->noteStatus();  // the status of the answer's last packet
        }
        return false;
    }
    m_row = row;
    m_lengths = mysql_fetch_lengths(m_res);
    return true;
}

const QString& DbResult::value(int i) const
{
    const size_t k = size_t(i);
    if (m_converted[k]) return m_values[k];
    m_converted[k] = true;
    QString& v = m_values[k];
    if (!m_row || !m_row[k]) {
        v.clear();
        return v;
    }
    const QByteArray raw = QByteArray::fromRawData(m_row[k], qsizetype(m_lengths[k]));
    switch (m_types[k]) {
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE: v = dateText(raw); break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP2: v = dateTimeText(raw); break;
    case MYSQL_TYPE_BIT: v = bitText(raw); break;
    // Binary columns too: their bytes as UTF-8, every invalid sequence becoming U+FFFD.
    default: v = QString::fromUtf8(raw);
    }
    return v;
}

QByteArrayView DbResult::utf8Value(int i, QByteArray& scratch) const
{
    const size_t k = size_t(i);
    if (!m_row || !m_row[k]) return {};
    const QByteArray raw = QByteArray::fromRawData(m_row[k], qsizetype(m_lengths[k]));
    switch (m_types[k]) {
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
        if (shortDateBytes(raw, scratch)) return scratch;
        break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP2:
        if (dateTimeBytes(raw, scratch)) return scratch;
        break;
    case MYSQL_TYPE_BIT: break;
    default:
        if (raw.isValidUtf8()) return QByteArrayView(raw.constData(), raw.size());
    }
    scratch = value(i).toUtf8();
    return scratch;
}

qint64 DbResult::rowCount() const { return m_buffered ? qint64(mysql_num_rows(m_res)) : -1; }

// ---------------------------------------------------------------------------------------

DbConnection::DbConnection() { ensureLibrary(); }

DbConnection::DbConnection(DbParams params) : m_params(std::move(params)) { ensureLibrary(); }

DbConnection::~DbConnection()
{
    if (m_handle) mysql_close(m_handle);
}

void DbConnection::connect()
{
    ensureThread();
    close();
    const unsigned port = parsePort(m_params.port);
    MYSQL* h = mysql_init(nullptr);
    if (!h) throw DbError(kMySqlError, QStringLiteral("Out of memory"));
    const unsigned timeout = 30;
    const unsigned protocol = MYSQL_PROTOCOL_TCP;
    mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(h, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_options(h, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    int (*wait)(my_socket, my_bool, int) = waitForSocket;
    mysql_optionsv(h, MARIADB_OPT_IO_WAIT, wait);
    const QByteArray server = m_params.server.toUtf8();
    const QByteArray user = m_params.user.toUtf8();
    const QByteArray password = m_params.password.toUtf8();
    const QByteArray database = m_params.database.toUtf8();
    bool opened = false;
    bool tracked = false;
    // Up to 30 s without an answer: the window keeps repainting meanwhile.
    mainthread::runLongWait(QStringLiteral("Connecting to the database server %1 ...").arg(m_params.server), [&] {
        ensureThread();
        opened = mysql_real_connect(h, server.constData(), user.constData(), password.constData(),
                                    database.isEmpty() ? nullptr : database.constData(), port, nullptr, 0);
        if (!opened) return;
        unsigned long capabilities = 0;
        mariadb_get_infov(h, MARIADB_CONNECTION_SERVER_CAPABILITIES, &capabilities);
        tracked = (capabilities & CLIENT_SESSION_TRACKING) != 0;
        opened = setUpSession(h, false, tracked);
    });
    if (!opened) {
        const DbError e = errorOf(h);
        mysql_close(h);
        throw e;
    }
    m_handle = h;
    m_tracked = tracked;
    m_stateLeft = false;
    m_schemaLeft = false;
    if (onAfterConnect) onAfterConnect();
}

bool DbConnection::reset()
{
    ensureThread();
    if (!m_handle) return false;
    // The reset keeps the database that was selected last. Without the server's tracking
    // any statement may have selected another.
    const bool schemaLeft = m_schemaLeft || !m_tracked;
    const QByteArray database = m_params.database.toUtf8();
    bool ok = mysql_reset_connection(m_handle) == 0 && setUpSession(m_handle, true, m_tracked);
    if (ok && schemaLeft) {
        if (!database.isEmpty())
            ok = mysql_select_db(m_handle, database.constData()) == 0;
        else if (m_tracked)
            ok = false;  // a database was selected, and there is no selecting none again
    }
    if (!ok) {
        dropHandle();
        return false;
    }
    m_stateLeft = false;
    m_schemaLeft = false;
    return true;
}

bool DbConnection::looksAlive() const
{
    if (!m_handle) return false;
    pollfd p{mysql_get_socket(m_handle), POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

void DbConnection::noteStatus()
{
    if (!m_handle) return;
    if (!m_tracked) {
        m_stateLeft = true;
        return;
    }
    unsigned status = 0;
    mariadb_get_infov(m_handle, MARIADB_CONNECTION_SERVER_STATUS, &status);
    if ((status & (SERVER_STATUS_IN_TRANS | SERVER_SESSION_STATE_CHANGED)) || !(status & SERVER_STATUS_AUTOCOMMIT))
        m_stateLeft = true;
    if (!(status & SERVER_SESSION_STATE_CHANGED)) return;
    // The database the session now has, when the answer says it changed (entries of an
    // earlier answer may still be listed: at worst the database is selected needlessly).
    const QByteArray database = m_params.database.toUtf8();
    const char* data = nullptr;
    size_t length = 0;
    if (mysql_session_track_get_first(m_handle, SESSION_TRACK_SCHEMA, &data, &length) != 0) return;
    do {
        if (QByteArrayView(data, qsizetype(length)) != database) m_schemaLeft = true;
    } while (mysql_session_track_get_next(m_handle, SESSION_TRACK_SCHEMA, &data, &length) == 0);
}

void DbConnection::drainResults()
{
    if (!m_handle) return;
    while (mysql_more_results(m_handle)) {
        if (mysql_next_result(m_handle) != 0) {
            m_stateLeft = true;
            return;
        }
        if (MYSQL_RES* r = mysql_store_result(m_handle)) mysql_free_result(r);
        noteStatus();
    }
}

void DbConnection::dropHandle()
{
    if (!m_handle) return;
    mysql_close(m_handle);
    m_handle = nullptr;
    if (onAfterDisconnect) onAfterDisconnect();
}

void DbConnection::close() { dropHandle(); }

unsigned long DbConnection::serverConnectionId() const { return m_handle ? mysql_thread_id(m_handle) : 0; }

QString DbConnection::escapeString(const QString& text) const
{
    if (!m_handle) throw DbError(QStringLiteral("EDatabaseError"), QStringLiteral("Connection is not open"));
    const QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 2 + 1, Qt::Uninitialized);
    const unsigned long n = mysql_real_escape_string(m_handle, out.data(), in.constData(), (unsigned long)in.size());
    if (n == (unsigned long)-1) throwLast();
    out.truncate(qsizetype(n));
    return QString::fromUtf8(out);
}

void DbConnection::throwLast() const { throw errorOf(m_handle); }

void DbConnection::noResultSet()
{
    // The statement has run; one that yields no rows is one that changes things.
    m_stateLeft = true;
    drainResults();
    throw DbError(QStringLiteral("EDatabaseError"), QStringLiteral("Query returned no result set"));
}

st_mysql_res* DbConnection::runOnce(const QByteArray& sql, ResultKind kind)
{
    if (!m_handle) throw DbError(QStringLiteral("EDatabaseError"), QStringLiteral("Connection is not open"));
    bool failed = false;
    MYSQL_RES* res = nullptr;
    mainthread::runLongWait(QStringLiteral("Waiting for the database server ..."), [&] {
        ensureThread();
        if (mysql_real_query(m_handle, sql.constData(), (unsigned long)sql.size()) != 0) {
            failed = true;
            return;
        }
        if (mysql_field_count(m_handle) == 0) return;
        res = kind == ResultKind::Streaming ? mysql_use_result(m_handle) : mysql_store_result(m_handle);
        failed = res == nullptr;
    });
    if (failed) {
        // a failed statement may have done part of its work, in a transaction for one
        m_stateLeft = true;
        throwLast();
    }
    // A streaming result's status comes with its last row (DbResult::next).
    if (kind != ResultKind::Streaming || !res) noteStatus();
    return res;
}

st_mysql_res* DbConnection::run(const QString& sql, ResultKind kind)
{
    ensureThread();
    const QByteArray bytes = sql.toUtf8();
    const bool untracked = mayLeaveUntrackedState(sql);
    try {
        if (untracked) m_stateLeft = true;
        return runOnce(bytes, kind);
    } catch (const DbError& e) {
        if (!isLostConnection(e.code())) throw;
        dropHandle();
        const LostAnswer answer = onConnectionLost ? onConnectionLost(*this) : LostAnswer::ReconnectAndRepeat;
        if (answer == LostAnswer::Fail) throw;
        connect();
        if (answer == LostAnswer::Reconnect) throw;
    }
    if (untracked) m_stateLeft = true;
    return runOnce(bytes, kind);
}

void DbConnection::execute(const QString& sql)
{
    if (MYSQL_RES* res = run(sql, ResultKind::None)) mysql_free_result(res);
    drainResults();
}

std::unique_ptr<DbResult> DbConnection::openStreaming(const QString& sql)
{
    MYSQL_RES* res = run(sql, ResultKind::Streaming);
    if (!res) noResultSet();
    return std::unique_ptr<DbResult>(new DbResult(this, res, false));
}

std::unique_ptr<DbResult> DbConnection::openBuffered(const QString& sql)
{
    MYSQL_RES* res = run(sql, ResultKind::Buffered);
    if (!res) noResultSet();
    return std::unique_ptr<DbResult>(new DbResult(this, res, true));
}

}  // namespace veldra
