// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/pipeline_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <fcntl.h>
#include <future>
#include <map>
#include <poll.h>
#include <thread>

#include "answers/savequeryas.h"

using namespace veldra;
using namespace veldra::test;

namespace {

const QRegularExpression kConnected(QStringLiteral(
    "^\\[\\d\\d\\.\\d\\d\\.\\d{4}(?: \\d\\d:\\d\\d:\\d\\d)?\\] \\t\\{httpserverGetThread\\} Client connected \\tIP "
    "\\[127\\.0\\.0\\.1\\] \\tCreating ThreadID \\[(\\d+)\\], SocketHandle \\[(\\d+)\\]$"));

QString handleOf(const QString& line)
{
    static const QRegularExpression re(QStringLiteral("SocketHandle \\[(\\d+)\\]"));
    return re.match(line).captured(1);
}

int threadsOfThisProcess() { return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()); }

// `n` clients connect at the same moment, each sends `request` and reads until the
// server closes; one thread drives them all. What each received, in order.
std::vector<Received> burst(quint16 port, int n, const QByteArray& request)
{
    struct Client {
        int fd = -1;
        bool sent = false;
        Received r;
        bool done = false;
    };
    std::vector<Client> clients(static_cast<size_t>(n));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    for (Client& c : clients) {
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (c.fd < 0 || (::connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)) c.done = true;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        std::vector<pollfd> p;
        std::vector<Client*> who;
        for (Client& c : clients)
            if (!c.done) {
                p.push_back({c.fd, short(c.sent ? POLLIN : POLLOUT), 0});
                who.push_back(&c);
            }
        if (p.empty() || std::chrono::steady_clock::now() > until) break;
        if (::poll(p.data(), p.size(), 1000) <= 0) continue;
        for (size_t i = 0; i < p.size(); ++i) {
            Client& c = *who[i];
            if (!p[i].revents) continue;
            if (!c.sent) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                c.sent = err == 0 && ::send(c.fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size();
                if (!c.sent) c.done = true;
                continue;
            }
            char buf[4096];
            const ssize_t k = ::recv(c.fd, buf, sizeof buf, 0);
            if (k > 0) {
                c.r.bytes.append(buf, k);
            } else {
                c.r.closedCleanly = k == 0;
                c.done = true;
            }
        }
    }
    std::vector<Received> out;
    for (Client& c : clients) {
        if (c.fd >= 0) ::close(c.fd);
        out.push_back(c.r);
    }
    return out;
}

// A database server that takes connections and never says a word.
class SilentDatabase {
public:
    SilentDatabase()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        ::listen(m_fd, 64);
    }
    ~SilentDatabase() { ::close(m_fd); }
    // Waits (up to 10 s), serving hand-overs, until `n` connections are there.
    bool waitForConnections(int n)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        mainthread::serveUntil([&] {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) m_clients.push_back(::accept(m_fd, nullptr, nullptr));
            return int(m_clients.size()) >= n || std::chrono::steady_clock::now() > until;
        });
        return int(m_clients.size()) >= n;
    }
    void closeAll()
    {
        for (int c : m_clients) ::close(c);
        m_clients.clear();
    }
    quint16 port = 0;

private:
    int m_fd = -1;
    std::vector<int> m_clients;
};

}  // namespace

using Listener = ServerTest;

TEST_F(Listener, LogsAndCountsEveryConnection)
{
    steps.functions = {QStringLiteral("f")};
    EXPECT_EQ(request("GET /f HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f");
    waitForConnections(1);
    EXPECT_EQ(connections.load(), 1);
    const QStringList lines = EventLog::instance().lines();
    const QStringList connected = lines.filter(QStringLiteral("{httpserverGetThread}"));
    ASSERT_EQ(connected.size(), 1);
    const auto m = kConnected.match(connected[0]);
    ASSERT_TRUE(m.hasMatch()) << connected[0].toStdString();
    for (const QString& l : lines) EXPECT_EQ(handleOf(l), m.captured(2)) << l.toStdString();
    EXPECT_EQ(server.port(), port);
}

TEST_F(Listener, ServesManyConnectionsAtOnce)
{
    constexpr int kClients = 50;
    for (int i = 0; i < kClients; ++i) steps.functions << QStringLiteral("f%1").arg(i);
    const quint16 p = port;
    steps.sync();
    const auto answers = inWorker([p] {
        std::vector<std::future<Received>> clients;
        for (int i = 0; i < kClients; ++i)
            clients.push_back(std::async(std::launch::async, [p, i] {
                // The clients arrive a little apart and stay connected a while, so many
                // are open at once.
                std::this_thread::sleep_for(std::chrono::milliseconds(20 * i));
                const int fd = connectTo(p);
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                sendAll(fd, QStringLiteral("GET /f%1 HTTP/1.1\r\n\r\n").arg(i).toLatin1());
                Received r = readToEnd(fd);
                ::close(fd);
                return r;
            }));
        std::vector<Received> out;
        for (auto& c : clients) out.push_back(c.get());
        return out;
    });
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(answers[i].bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f" + QByteArray::number(i));
        EXPECT_TRUE(answers[i].closedCleanly);
    }
    steps.sync();
    waitForConnections(kClients);
    EXPECT_EQ(connections.load(), kClients);
    EXPECT_EQ(steps.counted.load(), kClients);

    // Every thread has its own id; every request's lines come in the order of its steps.
    QSet<QString> ids;
    std::map<QString, QStringList> byHandle;
    for (const QString& l : EventLog::instance().lines()) {
        const auto m = kConnected.match(l);
        if (m.hasMatch())
            ids.insert(m.captured(1));
        else
            byHandle[handleOf(l)] << messageOf(l);
    }
    EXPECT_EQ(ids.size(), kClients);
    int requests = 0;
    for (const auto& [handle, messages] : byHandle) {
        ASSERT_EQ(messages.size() % 2, 0) << handle.toStdString();
        for (qsizetype k = 0; k < messages.size(); k += 2) {
            EXPECT_EQ(messages[k], QStringLiteral("{ClientExecute} Processing request from Client "));
            EXPECT_EQ(messages[k + 1], QStringLiteral("{ClientExecute} Was succesful sent answer for client !!! "));
            ++requests;
        }
    }
    EXPECT_EQ(requests, kClients);
    // A request thread lets its connection go once the client has closed its side too.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    mainthread::serveUntil([&] { return server.openConnections().empty() || std::chrono::steady_clock::now() > until; });
    EXPECT_TRUE(server.openConnections().empty());
}

TEST_F(Listener, CloseEndsOpenConnectionsAtOnce)
{
    const quint16 p = port;
    std::vector<std::future<Received>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(std::async(std::launch::async, [p] {
            const int fd = connectTo(p);
            Received r = readToEnd(fd);
            ::close(fd);
            return r;
        }));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    mainthread::serveUntil([&] {
        return (connections.load() == 3 && server.openConnections().size() == 3) ||
               std::chrono::steady_clock::now() > until;
    });
    const auto open = server.openConnections();
    ASSERT_EQ(open.size(), 3u);
    // In accept order, as the "Client connected" lines show them.
    QStringList accepted;
    for (const QString& l : EventLog::instance().lines())
        if (kConnected.match(l).hasMatch()) accepted << handleOf(l);
    ASSERT_EQ(accepted.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(open[i].address, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(QString::number(open[i].handle), accepted[i]);
    }

    server.close();
    EXPECT_FALSE(server.isOpen());
    EXPECT_TRUE(server.openConnections().empty());
    for (auto& c : clients) {
        const Received r = c.get();
        EXPECT_EQ(r.bytes, QByteArray());  // aborted before five seconds: no empty-request answer
        EXPECT_TRUE(r.closedCleanly);
    }
    EXPECT_TRUE(EventLog::instance().lines().filter(QStringLiteral("Input request from Client is empty")).isEmpty());
    EXPECT_LT(connectTo(port), 0);

    // The same port opens again.
    server.open(port);
    steps.functions = {QStringLiteral("f")};
    EXPECT_EQ(request("GET /f HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f");
}

TEST_F(Listener, AbortOneConnection)
{
    const quint16 p = port;
    auto client = std::async(std::launch::async, [p] {
        const int fd = connectTo(p);
        Received r = readToEnd(fd);
        ::close(fd);
        return r;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    mainthread::serveUntil([&] { return server.openConnections().size() == 1 || std::chrono::steady_clock::now() > until; });
    const auto open = server.openConnections();
    ASSERT_EQ(open.size(), 1u);
    open[0].abort();
    mainthread::serveUntil([&] { return client.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_EQ(client.get().bytes, QByteArray());
    EXPECT_TRUE(server.isOpen());
}

TEST_F(Listener, PortInUse)
{
    HttpServer second(context, {});
    try {
        second.open(port);
        FAIL() << "a second listener opened the same port";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.typeName(), QStringLiteral("ESocketError"));
        EXPECT_TRUE(e.message().contains(QLatin1String("Address already in use"))) << e.message().toStdString();
    }
    EXPECT_FALSE(second.isOpen());
    second.close();
}

TEST_F(Listener, RequestLineIsReadUntilItsLineFeed)
{
    steps.functions = {QStringLiteral("sales"), QStringLiteral("f")};
    const QByteArray longLine = "GET /f?x=" + QByteArray(5000, 'a') + " HTTP/1.1\r\nHost: h\r\n\r\n";
    const quint16 p = port;
    steps.sync();
    const auto answers = inWorker([p, longLine] {
        std::vector<Received> out;
        // the name cut in two, the rest 50 ms later
        int fd = connectTo(p);
        sendAll(fd, "GET /sa");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sendAll(fd, "les?format=xml HTTP/1.1\r\n\r\n");
        out.push_back(readToEnd(fd));
        ::close(fd);
        // a long query string in the segments of a real network, a little apart
        fd = connectTo(p);
        for (qsizetype i = 0; i < longLine.size(); i += 1460) {
            sendAll(fd, longLine.mid(i, 1460));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        out.push_back(readToEnd(fd));
        ::close(fd);
        return out;
    });
    EXPECT_EQ(answers[0].bytes, "HTTP/1.1 200 OK\r\n\r\nanswer sales");
    EXPECT_EQ(answers[1].bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f");
    steps.sync();
    ASSERT_EQ(steps.seen.size(), 2);
    EXPECT_EQ(steps.seen[0].format, QStringLiteral("XML"));
    const QStringList processing = EventLog::instance().lines().filter(QStringLiteral("Processing request"));
    ASSERT_EQ(processing.size(), 2);
    EXPECT_TRUE(processing[1].endsWith(QStringLiteral("\tInput request [GET /f?x=") + QString(5000, u'a') + QStringLiteral(" ]")));
}

TEST_F(Listener, RequestEndsAtSixtyFourKiB)
{
    // No line feed within the first 64 KiB: they are the request, and " HTTP/" is not in them.
    steps.functions = {QStringLiteral("f")};
    const Received r = request("GET /f?x=" + QByteArray(70 * 1024, 'a') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.bytes, errorBytes("Name request from Client is empty"));
    EXPECT_TRUE(r.closedCleanly);
    const QStringList processing = EventLog::instance().lines().filter(QStringLiteral("Processing request"));
    ASSERT_EQ(processing.size(), 1);
    EXPECT_TRUE(processing[0].endsWith(QLatin1String("\tInput request []")));
}

TEST_F(Listener, WaitingConnectionsHoldNoThread)
{
    constexpr int kSilent = 400;
    steps.functions = {QStringLiteral("f")};
    const int before = threadsOfThisProcess();
    std::vector<int> silent;
    for (int i = 0; i < kSilent; ++i) silent.push_back(connectTo(port));
    waitForConnections(kSilent);
    EXPECT_EQ(server.openConnections().size(), size_t(kSilent));
    EXPECT_LT(threadsOfThisProcess(), before + 20);
    // and requests are served meanwhile
    EXPECT_EQ(request("GET /f HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f");
    for (int fd : silent) ::close(fd);
}

TEST_F(Listener, BurstIsServedByBoundedThreadsAndEveryConnectionIsAnswered)
{
    constexpr int kClients = 1000;
    steps.functions = {QStringLiteral("f")};
    // Every request waits until half a second after the first one began, so as many as
    // are let in are inside at once.
    std::atomic<int> inside{0}, most{0};
    std::once_flag first;
    std::chrono::steady_clock::time_point open;
    steps.execute = [&](const Request&) {
        std::call_once(first, [&] { open = std::chrono::steady_clock::now() + std::chrono::milliseconds(500); });
        const int now = ++inside;
        for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
        }
        std::this_thread::sleep_until(open);
        --inside;
        return QStringLiteral("HTTP/1.1 200 OK\r\n\r\nanswer f");
    };
    const quint16 p = port;
    steps.sync();
    const auto answers = inWorker([p] { return burst(p, kClients, "GET /f HTTP/1.1\r\n\r\n"); });
    int answered = 0;
    for (const Received& r : answers) answered += r.bytes == "HTTP/1.1 200 OK\r\n\r\nanswer f" && r.closedCleanly;
    EXPECT_EQ(answered, kClients);
    EXPECT_LE(most.load(), HttpServer::kMaxRequestThreads);
    waitForConnections(kClients);
    EXPECT_EQ(connections.load(), kClients);
    EXPECT_EQ(steps.counted.load(), kClients);
}

TEST_F(Listener, CloseEndsDatabaseWorkThatWaitsForASilentServer)
{
    // The database takes the connections and never answers: without a cancel the
    // requests would wait for the 30-second connect time-out.
    SilentDatabase database;
    const DbParams work{QStringLiteral("127.0.0.1"), QString::number(database.port), QString(), QStringLiteral("u"),
                        QStringLiteral("p")};
    steps.functions = {QStringLiteral("f")};
    steps.execute = [work](const Request& r) { return _SaveQueryAS(r, QStringLiteral("SELECT 1"), work); };
    const quint16 p = port;
    steps.sync();
    std::vector<std::future<Received>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(std::async(std::launch::async, [p] { return exchange(p, "GET /f HTTP/1.1\r\n\r\n"); }));
    ASSERT_TRUE(database.waitForConnections(3));

    QElapsedTimer timer;
    timer.start();
    server.close();
    EXPECT_LT(timer.elapsed(), 10000);
    for (auto& c : clients) EXPECT_EQ(c.get().bytes, QByteArray());  // a failed query: no answer
    EXPECT_EQ(EventLog::instance().lines().filter(QStringLiteral("{_SaveQueryAS} WrongQuery !!! ")).size(), 3);
    database.closeAll();
}

TEST_F(Listener, ClientsThatDoNotReadTheirAnswersHoldNoRequestThread)
{
    // More clients than request threads ask for a large answer and never read it; a
    // small receive buffer keeps what the system takes for them small.
    constexpr int kClients = HttpServer::kMaxRequestThreads + 24;
    WireAnswer big;
    big.wire.bytes = "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(1700 * 1024, 'x');
    big.cacheable = true;
    steps.functions = {QStringLiteral("big"), QStringLiteral("f")};
    steps.executeWire = [&](const Request& r) {
        if (r.name != QLatin1String("big")) return scriptedAnswer(r, QStringLiteral("HTTP/1.1 200 OK\r\n\r\nanswer f"));
        // A small send buffer, as the system gives under memory pressure: the answer
        // does not fit into what the system takes at once.
        const int small = 16 * 1024;
        // (the handle of a request's log lines is its socket)
        ::setsockopt(int(r.handle), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        return big;
    };
    std::vector<int> stalled;
    for (int i = 0; i < kClients; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_TRUE(sendAll(fd, "GET /big HTTP/1.1\r\n\r\n"));
        stalled.push_back(fd);
    }
    steps.sync();
    // Every big request has been served, as far as its request thread goes.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    mainthread::serveUntil([&] { return steps.counted.load() >= kClients || std::chrono::steady_clock::now() > until; });
    EXPECT_EQ(steps.counted.load(), kClients);

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(request("GET /f HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f");
    EXPECT_LT(timer.elapsed(), 3000);

    // A client that reads after all gets its whole answer.
    const int reader = stalled.back();
    stalled.pop_back();
    const Received whole = inWorker([reader] { return readToEnd(reader); });
    EXPECT_TRUE(whole.closedCleanly);
    EXPECT_TRUE(whole.bytes == big.wire.bytes) << whole.bytes.size();
    ::close(reader);
    for (int fd : stalled) ::close(fd);
}
