// SPDX-License-Identifier: GPL-3.0-or-later
// START, STOP and the close check on a real database and real sockets.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <future>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/eventlog.h"
#include "common/files.h"
#include "config/database.h"
#include "config/settings.h"
#include "db/dbconnection.h"
#include "monitor/servercontrol.h"
#include "queries/queryfile.h"
#include "server/pipeline_fixture.h"
#include "support/serverfolder.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

const QString kClientDb = QStringLiteral("veldra_t_control_clients");
const QString kWorkDb = QStringLiteral("veldra_t_control_work");

class ServerControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolder(dir.path());
        EventLog::instance().clear();
    }
    void TearDown() override
    {
        if (control && control->running()) control->stop();
        control.reset();
        EventLog::instance().clear();
        setProgramFolder(QString());
    }

    // A program folder with veldra.ini for the test database, the three folders and one
    // function; the two databases made afresh.
    void prepare(const TestDatabase& db, const QString& password)
    {
        port = prepareServerFolder(dir.path(), db, password, kClientDb, kWorkDb);
        control = std::make_unique<ServerControl>(ui);
        control->startup();
    }

    QStringList linesWith(const QString& text) const
    {
        QStringList out;
        for (const QString& l : EventLog::instance().lines())
            if (l.contains(text)) out << l;
        return out;
    }

    QTemporaryDir dir;
    ScriptedOperator ui;
    std::unique_ptr<ServerControl> control;
    quint16 port = 0;
};

TEST_F(ServerControlTest, StartServesRequestsAndStopEndsEveryConnection)
{
    VELDRA_REQUIRE_DATABASE(db);
    prepare(db, db.password);

    control->start();
    ASSERT_TRUE(control->running()) << ui.messages.join(u'\n').toStdString();
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(control->caption(), QStringLiteral("STOP"));
    EXPECT_TRUE(control->startLine().startsWith(QStringLiteral("START SERVER : ")));
    EXPECT_TRUE(control->startLine().endsWith(QStringLiteral(" [") + QString::number(port) + u']'));
    EXPECT_TRUE(control->databases.DataClients.connected());
    EXPECT_FALSE(control->formCloseQuery());
    EXPECT_EQ(ui.messages.value(0), QStringLiteral("Need first do stop server !!!"));

    const quint16 p = port;
    const Received r = inWorker([p] { return exchange(p, "GET /names?format=csv[;] HTTP/1.1\r\n\r\n"); });
    EXPECT_TRUE(r.bytes.endsWith("\xEF\xBB\xBF\"id\";\"name\"\r\n\"1\";\"on...\"\r\n\"2\";\"tw...\"")) << r.bytes.toStdString();
    mainthread::servePending();
    EXPECT_EQ(control->statistics.requestCount(), 1);

    // Three connections that never send anything are open when STOP comes.
    std::vector<int> silent;
    for (int i = 0; i < 3; ++i) silent.push_back(connectTo(port));
    mainthread::serveUntil([&] { return control->statistics.connectionCount() >= 4; });

    control->stop();
    EXPECT_FALSE(control->running());
    EXPECT_EQ(control->caption(), QStringLiteral("START"));
    EXPECT_EQ(control->startLine(), QStringLiteral("START SERVER : 00.00.0000 00:00:00"));
    EXPECT_FALSE(control->databases.DataClients.connected());
    EXPECT_FALSE(control->databases.WorkData.connected());
    const QStringList closing = linesWith(QStringLiteral("{SocketClosing} Client clossing "));
    ASSERT_EQ(closing.size(), 3);
    QSet<QString> handles;
    for (const QString& l : closing) {
        EXPECT_TRUE(l.contains(QStringLiteral("\tIP [127.0.0.1] \tSocketHandle [")));
        EXPECT_TRUE(l.endsWith(QStringLiteral("] ")));
        handles.insert(l.section(QStringLiteral("SocketHandle ["), 1));
    }
    EXPECT_EQ(handles.size(), 3);
    // The silent clients see their connections end, without an answer.
    for (int fd : silent) {
        const Received gone = readToEnd(fd);
        EXPECT_TRUE(gone.bytes.isEmpty());
        ::close(fd);
    }
    EXPECT_LT(connectTo(port), 0) << "the listening socket is closed";
    EXPECT_TRUE(control->formCloseQuery());

    // A second START zeroes the counts but keeps the hourly counts.
    const int hour = QTime::currentTime().hour();
    const qint32 hourly = control->statistics.hourlyCount(hour);
    control->start();
    ASSERT_TRUE(control->running());
    EXPECT_EQ(control->statistics.requestCount(), 0);
    EXPECT_EQ(control->statistics.connectionCount(), 0);
    if (QTime::currentTime().hour() == hour) {
        EXPECT_EQ(control->statistics.hourlyCount(hour), hourly);
    }
}

TEST_F(ServerControlTest, RegisteredAndBlockedClientsThroughTheListener)
{
    VELDRA_REQUIRE_DATABASE(db);
    prepare(db, db.password);
    {
        DbConnection clients(DbParams{db.host, QString::number(db.port), kClientDb, db.user, db.password});
        clients.connect();
        clients.execute(createClientsTableSql());
        clients.execute(createBlacklistTableSql());
        clients.execute(QStringLiteral("INSERT INTO clients_veldra (email, seccode, todate) VALUES "
                                       "('reg@x.y', 'code1', '2099-12-31'), ('old@x.y', 'code2', CURDATE())"));
        clients.execute(QStringLiteral("INSERT INTO blacklist_veldra VALUES ('EMAIL', 'bad@x.y'), ('IP', '127.0.0.1')"));
    }
    control->start();
    ASSERT_TRUE(control->running()) << ui.messages.join(u'\n').toStdString();
    EXPECT_EQ(control->access.whiteCountText(), QStringLiteral("WHITE :: [2]"));
    EXPECT_EQ(control->access.blackCountText(), QStringLiteral("BLACK :: [2]"));

    const quint16 p = port;
    auto get = [p](const QByteArray& target) {
        return inWorker([p, target] { return exchange(p, "GET " + target + " HTTP/1.1\r\n\r\n").bytes; });
    };
    const QByteArray blocked =
        "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Type: text/plain\r\n\r\nClient is blocked. For get more info " +
        QByteArray(kContactEmail);
    // The address 127.0.0.1 is on the black list: any client giving both credentials is blocked.
    EXPECT_EQ(get("/names?email=bad@x.y&seccode=whatever"), blocked);
    EXPECT_EQ(get("/names?email=REG@x.y&seccode=CODE1"), blocked);
    // Without both credentials the black list is not consulted: a test client.
    const QByteArray test = get("/names?format=xml&email=reg@x.y");
    EXPECT_TRUE(test.contains("<statusText>test client - data is modified</statusText>")) << test.toStdString();
    EXPECT_TRUE(test.contains("<name>on...</name>"));

    control->stop();
    {
        DbConnection clients(DbParams{db.host, QString::number(db.port), kClientDb, db.user, db.password});
        clients.connect();
        clients.execute(QStringLiteral("DELETE FROM blacklist_veldra WHERE blocktype = 'IP'"));
    }
    control->start();
    ASSERT_TRUE(control->running());
    const QByteArray registered = get("/names?format=json&email=REG@x.y&seccode=CODE1");
    EXPECT_TRUE(registered.contains("\t\"statusText\": \"Final date of use : 31.12.2099\",")) << registered.toStdString();
    EXPECT_TRUE(registered.contains("\"name\": \"one\"")) << "a registered client's values are whole";
    // An end date of today has begun: a test client.
    const QByteArray expired = get("/names?format=json&email=old@x.y&seccode=code2");
    EXPECT_TRUE(expired.contains("\"statusText\": \"test client - data is modified\"")) << expired.toStdString();
    EXPECT_EQ(get("/names?email=bad@x.y&seccode=x"), blocked);
}

TEST_F(ServerControlTest, HostileRequestsEndAndTheServerGoesOn)
{
    VELDRA_REQUIRE_DATABASE(db);
    prepare(db, db.password);
    control->start();
    ASSERT_TRUE(control->running());

    const QByteArray hostile[] = {
        QByteArray("\x00\xff\xfe GET / HTTP/1.1\r\n", 20),
        "GET /names?<paramcount>999999999</paramcount>=1&format=csv[;] HTTP/1.1\r\n\r\n",
        "GET /names?x=<value[999999999]>a</value[999999999]><paramcount>999999999</paramcount>&format=txt[tab] HTTP/1.1\r\n\r\n",
        "GET /names?x=%ZZ HTTP/1.1\r\n\r\n",
        "GET /names?x=<#msg>\r\nbroken</#msg> HTTP/1.1\r\n\r\n",
        "GET /names?x=" + QByteArray(200000, 'A') + " HTTP/1.1\r\n\r\n",
        "GET /../../etc/passwd HTTP/1.1\r\n\r\n",
        "GET /names?format=j%C5%BFon HTTP/1.1\r\n\r\n",
    };
    const quint16 p = port;
    for (const QByteArray& request : hostile) {
        const Received r = inWorker([p, request] { return exchange(p, request); });
        EXPECT_TRUE(r.closedCleanly) << "no end for: " << request.left(80).toStdString();
    }
    const Received r = inWorker([p] { return exchange(p, "GET /names?format=json HTTP/1.1\r\n\r\n"); });
    EXPECT_TRUE(r.bytes.contains("\"empty\": \"false\"")) << r.bytes.toStdString();
    for (const QString& line : EventLog::instance().lines())
        EXPECT_FALSE(line.contains(u'\n') || line.contains(u'\r')) << line.toStdString();
}

TEST_F(ServerControlTest, StopWaitsForRequestsInFlight)
{
    VELDRA_REQUIRE_DATABASE(db);
    prepare(db, db.password);
    control->start();
    ASSERT_TRUE(control->running());

    // Clients in every stage: requests sent, half-sent lines, silent connections.
    const quint16 p = port;
    std::vector<std::future<Received>> clients;
    for (int i = 0; i < 12; ++i)
        clients.push_back(std::async(std::launch::async, [p, i] {
            const int fd = connectTo(p);
            if (fd < 0) return Received{};
            if (i % 3 == 0) sendAll(fd, "GET /names HTTP/1.1\r\n\r\n");
            if (i % 3 == 1) sendAll(fd, "GET /nam");
            Received r = readToEnd(fd);
            ::close(fd);
            return r;
        }));
    mainthread::serveUntil([&] { return control->statistics.connectionCount() >= 6; });
    control->stop();
    EXPECT_FALSE(control->running());
    for (auto& c : clients) {
        ASSERT_EQ(c.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "a client was left hanging";
        c.get();
    }
}

TEST_F(ServerControlTest, StopEndsQueriesInFlightAtOnce)
{
    VELDRA_REQUIRE_DATABASE(db);
    prepare(db, db.password);
    QueryEditorModel f;
    f.name = QStringLiteral("sleepy");
    f.active = true;
    f.query = QStringLiteral("SELECT SLEEP(600) AS s");
    SaveQueryFunction(control->page.pathToQueries, QStringLiteral("sleepy"), f);
    control->start();
    ASSERT_TRUE(control->running());

    const quint16 p = port;
    std::vector<std::future<Received>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(std::async(std::launch::async, [p] { return exchange(p, "GET /sleepy HTTP/1.1\r\n\r\n"); }));
    // until the three queries run on the database
    DbConnection watch(DbParams{db.host, QString::number(db.port), QString(), db.user, db.password});
    watch.connect();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int running = 0;
    mainthread::serveUntil([&] {
        auto r = watch.openBuffered(QStringLiteral(
            "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO = 'SELECT SLEEP(600) AS s'"));
        r->next();
        running = r->value(0).toInt();
        r.reset();
        return running >= 3 || std::chrono::steady_clock::now() > until;
    });
    ASSERT_EQ(running, 3);

    QElapsedTimer timer;
    timer.start();
    control->stop();
    EXPECT_LT(timer.elapsed(), 10000);  // not the ten minutes the queries would take
    for (auto& c : clients) EXPECT_EQ(c.get().bytes, QByteArray());  // ended like a failed query
    EXPECT_EQ(linesWith(QStringLiteral("{_SaveQueryAS} WrongQuery !!! ")).size(), 3);
    // the database learns of the closed connections only when the sleep ends
    auto left = watch.openBuffered(
        QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE INFO = 'SELECT SLEEP(600) AS s'"));
    QStringList ids;
    while (left->next()) ids << left->value(0);
    for (const QString& id : ids) watch.execute(QStringLiteral("KILL ") + id);
}

TEST_F(ServerControlTest, StartRefusesABusyPortAndABadPassword)
{
    VELDRA_REQUIRE_DATABASE(db);
    prepare(db, db.password);

    // Somebody else listens on the working port.
    const int other = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(other, 1), 0);
    control->start();
    ::close(other);
    EXPECT_FALSE(control->running());
    EXPECT_EQ(control->caption(), QStringLiteral("START"));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].startsWith(QStringLiteral("Error(s) in during run server \r Error |  msg = [ESocketError : ")))
        << ui.messages[0].toStdString();

    ui.messages.clear();
    control.reset();
    prepare(db, QStringLiteral("not-the-password"));
    control->start();
    EXPECT_FALSE(control->running());
    ASSERT_EQ(ui.messages.size(), 1);
    const QString m = ui.messages[0];
    EXPECT_TRUE(m.startsWith(QStringLiteral("Need Fix settings Mysql server(s)\r******************************\rNot connect with client data \r Error |  msg = [")))
        << m.toStdString();
    EXPECT_TRUE(m.contains(QStringLiteral("Not connect with work data \r Error |  msg = [")));
    EXPECT_LT(connectTo(port), 0) << "the port never opened";
}

}  // namespace
