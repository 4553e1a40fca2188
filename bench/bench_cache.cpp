// SPDX-License-Identifier: GPL-3.0-or-later
// Requests per second of one query function answered from the answer cache against
// the same request answered by the work database. One request per connection, over
// loopback, through the listening socket and the request pipeline.
//
//   bench_cache [requests] [rows]
//
// The MariaDB server: VELDRA_BENCH_DB_HOST, _PORT, _USER, _PASSWORD (falling back to
// VELDRA_TEST_DB_*). The program creates the database veldra_bench with one table.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <cstdio>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "answers/savequeryas.h"
#include "cache/cachefiles.h"
#include "common/eventlog.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "db/dbconnection.h"
#include "server/httpserver.h"
#include "server/failurereporter.h"
#include "server/requeststeps.h"
#include "server/servercontext.h"
#include "server/tserverthread.h"

using namespace veldra;

namespace {

QString env(const char* bench, const char* test, const char* fallback)
{
    QString v = qEnvironmentVariable(bench);
    if (v.isEmpty()) v = qEnvironmentVariable(test);
    return v.isEmpty() ? QString::fromLatin1(fallback) : v;
}

class StderrOperator : public OperatorUi {
public:
    void showMessage(const QString& t) override { std::fprintf(stderr, "message: %s\n", qPrintable(t)); }
    void showError(const QString& t) override { std::fprintf(stderr, "error: %s\n", qPrintable(t)); }
    bool askYesNo(const QString&) override { return false; }
    QString chooseFolder(const QString&) override { return {}; }
    void openWithItsProgram(const QString&) override {}
};

class BenchSteps : public RequestSteps {
public:
    explicit BenchSteps(DbParams work) : m_work(std::move(work)) {}
    AccessDecision checkClientAccess(const Request&) override { return {}; }
    bool functionFileExists(const Request&, const TServerSettings&) override { return true; }
    PreparationResult prepareQuery(const Request&, const TServerSettings&) override
    {
        return QStringLiteral("SELECT id, name, price, created FROM veldra_bench.items ORDER BY id");
    }
    CacheLookupResult answerFromCache(const Request& r, const TServerSettings& s, const QString& prepared) override
    {
        return CacheLookup(r, s, prepared);
    }
    WireAnswer saveQueryAs(const Request& r, const TServerSettings&, const QString& prepared) override
    {
        return SaveQueryAnswer(r, prepared, m_work);
    }
    void storeInCache(const Request& r, const TServerSettings& s, const QString& key, const WireAnswer& answer) override
    {
        CacheStore(r, s, key, answer);
    }
    void countRequest() override
    {
        mainthread::post([] {});  // the hand-over a real count makes, without waiting
    }

private:
    DbParams m_work;
};

QByteArray request(quint16 port, const QByteArray& text)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray all;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL) == text.size()) {
        char buf[16384];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, n);
    }
    ::close(fd);
    return all;
}

// Runs `fn` on a client thread while the main thread runs its event loop, as the
// window's does, so hand-overs are served at once.
template <class F>
auto onWorker(F fn)
{
    QEventLoop loop;
    auto fut = std::async(std::launch::async, [&] {
        auto result = fn();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        return result;
    });
    loop.exec();
    return fut.get();
}

// Runs `count` requests one after the other; requests per second, or -1 when an
// answer differed from `expected`.
double measure(quint16 port, int count, const QByteArray& expected)
{
    return onWorker([&] {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < count; ++i)
            if (request(port, "GET /items?format=json HTTP/1.1\r\n\r\n") != expected) return -1.0;
        return count * 1000.0 / double(std::max<qint64>(t.elapsed(), 1));
    });
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    mainthread::install();
    const int count = argc > 1 ? std::atoi(argv[1]) : 500;
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100;

    DbParams db{env("VELDRA_BENCH_DB_HOST", "VELDRA_TEST_DB_HOST", "127.0.0.1"),
                env("VELDRA_BENCH_DB_PORT", "VELDRA_TEST_DB_PORT", "3306"), QString(),
                env("VELDRA_BENCH_DB_USER", "VELDRA_TEST_DB_USER", "root"),
                env("VELDRA_BENCH_DB_PASSWORD", "VELDRA_TEST_DB_PASSWORD", "")};
    try {
        DbConnection c(db);
        c.connect();
        c.execute(QStringLiteral("CREATE DATABASE IF NOT EXISTS veldra_bench"));
        c.execute(QStringLiteral("DROP TABLE IF EXISTS veldra_bench.items"));
        c.execute(QStringLiteral("CREATE TABLE veldra_bench.items (id INT PRIMARY KEY, name VARCHAR(40), "
                                 "price DECIMAL(10,2), created DATETIME)"));
        QString insert = QStringLiteral("INSERT INTO veldra_bench.items VALUES ");
        for (int i = 1; i <= rows; ++i)
            insert += QStringLiteral("%1(%2, 'item number %2', %3.50, '2024-03-08 21:12:05')").arg(i > 1 ? "," : "").arg(i).arg(i * 3);
        c.execute(insert);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "database: %s\n", e.what());
        return 1;
    }
    db.database = QStringLiteral("veldra_bench");

    QTemporaryDir dir;
    QDir().mkdir(dir.path() + QStringLiteral("/CACHE"));
    StderrOperator ui;
    FailureReporter failures(ui);
    BenchSteps steps(db);
    ServerContext context(steps, failures);
    HttpServer server(context, [] {});
    EventLog::instance().addListener([](const QString&) {
        if (EventLog::instance().lines().size() > 10000) EventLog::instance().clear();
    });

    TServerSettings s;
    s.PathToQueries = dir.path() + u'/';
    s.PathToCache = dir.path() + QStringLiteral("/CACHE/");
    s.PathToLogs = dir.path() + u'/';
    s.FormatAnswer = QStringLiteral("JSON");
    s.EnabledCaching = false;
    context.settings.store(s);

    quint16 port = 0;
    for (quint16 p = 41000 + quint16(::getpid() % 500); p < 42000 && !server.isOpen(); ++p) {
        try {
            server.open(p);
            port = p;
        } catch (const std::exception&) {
        }
    }
    if (!server.isOpen()) {
        std::fprintf(stderr, "no free port\n");
        return 1;
    }

    const QByteArray expected = onWorker([&] { return request(port, "GET /items?format=json HTTP/1.1\r\n\r\n"); });
    if (!expected.startsWith("HTTP/1.1 200 OK") || expected.size() < rows * 10) {
        std::fprintf(stderr, "unexpected answer: %s\n", expected.left(300).constData());
        return 1;
    }
    const double fromDatabase = measure(port, count, expected);

    s.EnabledCaching = true;
    context.settings.store(s);
    onWorker([&] { return request(port, "GET /items?format=json HTTP/1.1\r\n\r\n"); });  // stores the answer
    const double fromCache = measure(port, count, expected);
    server.close();

    std::printf("answer: %lld bytes (%d rows, json), %d requests each, one per connection\n",
                qint64(expected.size()), rows, count);
    std::printf("database: %.0f requests/s\n", fromDatabase);
    std::printf("cache:    %.0f requests/s\n", fromCache);
    return fromDatabase > 0 && fromCache > 0 ? 0 : 1;
}
