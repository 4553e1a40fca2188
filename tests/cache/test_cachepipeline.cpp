// SPDX-License-Identifier: GPL-3.0-or-later
// The cache steps as the request pipeline runs them: ClientExecute over a socketpair
// with scripted preparation and execution.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "cache/cachefiles.h"
#include "common/eventlog.h"
#include "server/failurereporter.h"
#include "server/requeststeps.h"
#include "server/servercontext.h"
#include "server/tserverthread.h"
#include "support/connectionsupport.h"
#include "support/support.h"

using namespace veldra;

namespace {

QString answerFor(const Request& r, const QString& rows)
{
    const QString status = r.testClient ? QStringLiteral("test client - data is modified")
                                        : QStringLiteral("Final date of use : ") + r.dateActive;
    return QStringLiteral("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"") +
           status + QStringLiteral("\",\r\n\t\"Data\": \"") + rows + QStringLiteral("\"\r\n}\r\n");
}

class ScriptedSteps : public RequestSteps {
public:
    AccessDecision checkClientAccess(const Request& r) override
    {
        const QString& email = r.email;
        if (email == QLatin1String("a@x.org")) return {AccessDecision::Kind::Registered, QStringLiteral("31.12.2025")};
        if (email == QLatin1String("b@x.org")) return {AccessDecision::Kind::Registered, QStringLiteral("30.06.2026")};
        return {};
    }
    bool functionFileExists(const Request&, const TServerSettings&) override { return true; }
    PreparationResult prepareQuery(const Request& r, const TServerSettings&) override
    {
        return QStringLiteral("select * from ") + r.name;
    }
    CacheLookupResult answerFromCache(const Request& r, const TServerSettings& s, const QString& prepared) override
    {
        return CacheLookup(r, s, prepared);
    }
    WireAnswer saveQueryAs(const Request& r, const TServerSettings&, const QString&) override
    {
        ++executed;
        return test::scriptedAnswer(r, empty ? QStringLiteral("[nocache]") + answerFor(r, QString())
                                       : answerFor(r, QStringLiteral("Z\u00FCrich")));
    }
    void storeInCache(const Request& r, const TServerSettings& s, const QString& key, const WireAnswer& answer) override
    {
        CacheStore(r, s, key, answer);
    }
    void countRequest() override { ++counted; }

    std::atomic<int> executed{0};
    std::atomic<int> counted{0};
    bool empty = false;
};

class CachePipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cacheRoot = dir.path() + QStringLiteral("/CACHE/");
        QDir().mkdir(cacheRoot);
        TServerSettings s;
        s.EnabledCaching = true;
        s.PathToCache = cacheRoot;
        s.PathToQueries = dir.path() + u'/';
        s.FormatAnswer = QStringLiteral("JSON");
        context.settings.store(s);
        EventLog::instance().clear();
    }
    void TearDown() override { EventLog::instance().clear(); }

    // One request on its own connection; what the client received.
    QByteArray exchange(const QByteArray& request)
    {
        return test::inWorker([&] { return serve(request); });
    }
    QByteArray serve(const QByteArray& request)
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {};
        auto conn = std::make_shared<ClientConnection>(fds[0], QStringLiteral("127.0.0.1"));
        if (::write(fds[1], request.constData(), size_t(request.size())) != request.size()) return {};
        std::thread t([&] {
            TServerThread thread(conn, context, request);
            thread.ClientExecute();
            test::finishHere(*conn);
        });
        QByteArray all;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[1], buf, sizeof buf)) > 0) all.append(buf, n);
        ::close(fds[1]);
        t.join();
        return all;
    }
    int cacheLines() const
    {
        return int(EventLog::instance().lines().filter(QStringLiteral("{ClientExecute} Data for client was sent from cache !!! ")).size());
    }
    QStringList cacheFiles(const QString& function) const
    {
        return QDir(cacheRoot + function).entryList(QDir::Files | QDir::Hidden);
    }

    QTemporaryDir dir;
    QString cacheRoot;
    ScriptedSteps steps;
    test::ScriptedOperator ui;
    FailureReporter failures{ui};
    ServerContext context{steps, failures};
};

}  // namespace

TEST_F(CachePipeline, SecondRequestIsAnsweredFromTheCacheByteForByte)
{
    const QByteArray first = exchange("GET /sales?year=2020 HTTP/1.1\r\n\r\n");
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(steps.executed.load(), 1);
    const QString key = cache::cacheKey(QStringLiteral("sales"), true, AnswerFormat::Json, QStringLiteral("select * from sales"));
    EXPECT_EQ(cacheFiles(QStringLiteral("sales")), QStringList{key + QStringLiteral(".cache")});

    const QByteArray second = exchange("GET /sales?year=2020 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(second, first);
    EXPECT_EQ(steps.executed.load(), 1);
    EXPECT_EQ(steps.counted.load(), 2);
    EXPECT_EQ(cacheLines(), 1);
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join(u'\n').toStdString();
}

TEST_F(CachePipeline, RegisteredClientsShareTheFileAndSeeTheirOwnEndDate)
{
    const QByteArray a = exchange("GET /sales?email=a@x.org&seccode=S1 HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(a.contains("Final date of use : 31.12.2025"));
    const QByteArray b = exchange("GET /sales?email=b@x.org&seccode=S2&format=json HTTP/1.1\r\n\r\n");
    EXPECT_EQ(steps.executed.load(), 1);
    EXPECT_EQ(cacheLines(), 1);
    EXPECT_TRUE(b.contains("Final date of use : 30.06.2026"));
    EXPECT_FALSE(b.contains("31.12.2025"));
    // A test client has a key and a file of its own.
    exchange("GET /sales HTTP/1.1\r\n\r\n");
    EXPECT_EQ(steps.executed.load(), 2);
    EXPECT_EQ(cacheFiles(QStringLiteral("sales")).size(), 2);
}

TEST_F(CachePipeline, EmptyResultsAreNeverStored)
{
    steps.empty = true;
    exchange("GET /sales HTTP/1.1\r\n\r\n");
    exchange("GET /sales HTTP/1.1\r\n\r\n");
    EXPECT_EQ(steps.executed.load(), 2);
    EXPECT_TRUE(cacheFiles(QStringLiteral("sales")).isEmpty());
}

TEST_F(CachePipeline, SixteenConcurrentIdenticalRequestsAreAllAnswered)
{
    const QByteArray expected = exchange("GET /stock HTTP/1.1\r\n\r\n");
    ASSERT_FALSE(expected.isEmpty());
    QDir(cacheRoot + QStringLiteral("stock")).removeRecursively();  // all 16 start from a miss
    std::vector<QByteArray> got(16);
    test::inWorker([&] {
        std::vector<std::thread> clients;
        for (int i = 0; i < 16; ++i) clients.emplace_back([&, i] { got[size_t(i)] = serve("GET /stock HTTP/1.1\r\n\r\n"); });
        for (auto& c : clients) c.join();
        return 0;
    });
    mainthread::servePending();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(got[size_t(i)], expected) << "client " << i;
    EXPECT_EQ(steps.counted.load(), 17);
    EXPECT_EQ(cacheFiles(QStringLiteral("stock")).size(), 1);
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join(u'\n').toStdString();
}

// A cleaning that deletes the function folder again and again while requests read and
// store: every client still gets the whole answer (a vanished file is a miss), and a
// store whose folder vanished stores nothing without troubling the operator.
TEST_F(CachePipeline, RequestsDuringACleaningAreAllAnswered)
{
    const QByteArray expected = exchange("GET /stock HTTP/1.1\r\n\r\n");
    std::vector<QByteArray> got(16 * 4);
    std::atomic<bool> done{false};
    std::thread cleaner([&] {
        while (!done.load()) QDir(cacheRoot + QStringLiteral("stock")).removeRecursively();
    });
    test::inWorker([&] {
        std::vector<std::thread> clients;
        for (int i = 0; i < 16; ++i)
            clients.emplace_back([&, i] {
                for (int round = 0; round < 4; ++round) got[size_t(i * 4 + round)] = serve("GET /stock HTTP/1.1\r\n\r\n");
            });
        for (auto& c : clients) c.join();
        return 0;
    });
    done = true;
    cleaner.join();
    mainthread::servePending();
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join(u'\n').toStdString();
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected) << "request " << i;
}
