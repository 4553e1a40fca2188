// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A server on a loopback port with scripted pipeline steps, and a plain socket client.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/eventlog.h"
#include "common/files.h"
#include "common/regional.h"
#include "server/httpserver.h"
#include "server/answers.h"
#include "server/failurereporter.h"
#include "server/requeststeps.h"
#include "server/servercontext.h"
#include "server/tserverthread.h"
#include "support/support.h"

namespace veldra::test {

// Steps of the later subsystems, scripted per function name. Configure before the
// requests; read what was recorded after them.
class FakeSteps : public RequestSteps {
public:
    // Configuration
    QSet<QString> functions;               // names whose function file exists
    QHash<QString, QString> prepared;      // name -> prepared text (default "SELECT 1")
    QHash<QString, QString> answers;       // name -> answer text (default: an answer naming the function)
    QHash<QString, AccessDecision> access; // e-mail -> decision
    bool cacheHit = false;
    std::function<void()> duringAccess;   // runs inside the access decision
    std::function<void()> duringPrepare;  // runs inside the preparation
    // Runs in place of the scripted answer, outside the recording lock (many at once).
    std::function<QString(const Request&)> execute;
    // The same for an answer in its wire form (large answers shared between requests).
    std::function<WireAnswer(const Request&)> executeWire;

    struct Seen {
        QString name;
        bool testClient = true;
        QString dateActive;
        QString format;
        QString email, seccode;
    };

    AccessDecision checkClientAccess(const Request& r) override
    {
        std::lock_guard lock(m);
        accessAsked << r.email + u'|' + r.seccode + u'|' + r.address;
        if (duringAccess) duringAccess();
        return access.value(r.email);
    }
    bool functionFileExists(const Request& r, const TServerSettings&) override
    {
        std::lock_guard lock(m);
        existsAsked << r.name;
        return functions.contains(r.name);
    }
    PreparationResult prepareQuery(const Request& r, const TServerSettings&) override
    {
        std::lock_guard lock(m);
        if (duringPrepare) duringPrepare();
        return prepared.value(r.name, QStringLiteral("SELECT 1"));
    }
    CacheLookupResult answerFromCache(const Request& r, const TServerSettings&, const QString&) override
    {
        {
            std::lock_guard lock(m);
            ++cacheLookups;
        }
        if (!cacheHit) return {std::nullopt, QStringLiteral("key of ") + r.name};  // read after the lock above
        return {Outgoing{QByteArray("cached ") + r.name.toUtf8()}, QStringLiteral("key of ") + r.name};
    }
    WireAnswer saveQueryAs(const Request& r, const TServerSettings&, const QString&) override
    {
        if (executeWire) return executeWire(r);
        if (execute) return scriptedAnswer(r, execute(r));
        std::lock_guard lock(m);
        seen.push_back({r.name, r.testClient, r.dateActive, r.format ? r.format->name() : QString(), r.email, r.seccode});
        return scriptedAnswer(r, answers.value(r.name, QStringLiteral("HTTP/1.1 200 OK\r\n\r\nanswer ") + r.name));
    }
    void storeInCache(const Request& r, const TServerSettings&, const QString& key, const WireAnswer& answer) override
    {
        std::lock_guard lock(m);
        storedKeys << key;
        stored << r.name + u'=' + answerText(answer, requestFormat(r));
    }
    void countRequest() override { ++counted; }

    // Orders the test's writes before the request threads' reads and their records
    // before the test's reads (the connection alone is no ordering a race checker sees).
    void sync() { std::lock_guard lock(m); }

    // Recorded
    std::mutex m;
    QStringList accessAsked, existsAsked, stored, storedKeys;
    QList<Seen> seen;
    int cacheLookups = 0;
    std::atomic<int> counted{0};
};

// A blocking client socket connected to the loopback port; -1 on failure.
inline int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{30, 0};  // nothing in these tests waits that long; a broken server fails instead of hanging
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

struct Received {
    QByteArray bytes;
    bool closedCleanly = false;  // the server closed the connection (EOF, not reset or time-out)
};

// Reads until the server closes the connection.
inline Received readToEnd(int fd)
{
    Received r;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) {
            r.closedCleanly = true;
            break;
        }
        if (n < 0) break;
        r.bytes.append(buf, n);
    }
    return r;
}

// One request on a fresh connection: its answer bytes.
inline Received exchange(quint16 port, const QByteArray& request)
{
    const int fd = connectTo(port);
    if (fd < 0) return {};
    sendAll(fd, request);
    Received r = readToEnd(fd);
    ::close(fd);
    return r;
}

inline const QByteArray kPlainHeader = "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Type: text/plain\r\n\r\n";

inline QByteArray errorBytes(const QByteArray& message)
{
    return kPlainHeader + "Error [" + message + "]. For get more info " + kContactEmail;
}

// The message of a log line: between its time stamp and its IP field.
inline QString messageOf(const QString& line)
{
    const qsizetype a = line.indexOf(QLatin1String("] \t"));
    const qsizetype b = line.indexOf(QLatin1String("\tIP ["), a);
    return a < 0 || b < 0 ? line : line.mid(a + 3, b - a - 3);
}

class ServerTest : public ::testing::Test {
protected:
    ServerTest() : failures(ui), context(steps, failures), server(context, [this] { ++connections; }) {}

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolder(dir.path());
        settings.PathToQueries = dir.path() + QStringLiteral("/QUERIES/");
        settings.PathToCache = dir.path() + QStringLiteral("/CACHE-VELDRA/");
        settings.FormatAnswer = QStringLiteral("JSON");
        settings.NameFunctionForShareList = QStringLiteral("ShareList");
        applySettings();
        EventLog::instance().clear();
        for (int attempt = 0; attempt < 20 && !server.isOpen(); ++attempt) {
            port = freePort();
            try {
                server.open(port);
            } catch (const Error&) {
            }
        }
        ASSERT_TRUE(server.isOpen());
    }
    void TearDown() override
    {
        server.close();
        mainthread::servePending();
        setProgramFolder(QString());
    }
    void applySettings() { context.settings.store(settings); }

    Received request(const QByteArray& text)
    {
        const quint16 p = port;
        steps.sync();
        Received r = inWorker([p, text] { return exchange(p, text); });
        steps.sync();
        return r;
    }
    // Serves hand-overs until `n` connections have been counted (the accept thread
    // logs and counts after the request thread has started).
    void waitForConnections(int n)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        mainthread::serveUntil([&] { return connections.load() >= n || std::chrono::steady_clock::now() > until; });
        mainthread::servePending();
    }
    // The messages of the request threads' log lines, in order (the accept thread's
    // "Client connected" lines left out).
    QStringList requestMessages() const
    {
        QStringList out;
        for (const QString& l : EventLog::instance().lines()) {
            const QString m = messageOf(l);
            if (!m.startsWith(QLatin1String("{httpserverGetThread}"))) out << m;
        }
        return out;
    }

    ScriptedOperator ui;
    FakeSteps steps;
    FailureReporter failures;
    ServerContext context;
    std::atomic<int> connections{0};
    HttpServer server;
    QTemporaryDir dir;
    TServerSettings settings;
    quint16 port = 0;
};

}  // namespace veldra::test
