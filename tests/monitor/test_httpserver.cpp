#include "server/pipeline_fixture.h"

#include <QRegularExpression>
#include <future>
#include <map>
#include <thread>

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
                // The listener's queue holds 5 pending connections: the clients arrive
                // a little apart and stay connected a while, so many are open at once.
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
