// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/pipeline_fixture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <thread>

using namespace veldra;
using namespace veldra::test;

namespace {

const QString kProcessing = QStringLiteral("{ClientExecute} Processing request from Client ");
const QString kSent = QStringLiteral("{ClientExecute} Was succesful sent answer for client !!! ");
const QString kNotFound = QStringLiteral("{ClientExecute} Name request from Client not found !!! ");
const QString kNameEmpty = QStringLiteral("{ClientExecute} Name request from Client is empty !!! ");

}  // namespace

using Pipeline = ServerTest;

TEST_F(Pipeline, ErrorAnswersAreByteExact)
{
    steps.functions = {QStringLiteral("sales"), QStringLiteral("badprep"), QStringLiteral("../x"), QStringLiteral("a/b"),
                       QStringLiteral("a\\b"), QStringLiteral("a\x01" "b"), QStringLiteral("sa\r\nles")};
    steps.prepared.insert(QStringLiteral("badprep"), QStringLiteral(u"SELECT <#msg> Unknown column \u4e2d </#msg>"));
    steps.functions << QStringLiteral("crlfprep") << QStringLiteral(".") << QStringLiteral("a\x7F" "b");
    steps.prepared.insert(QStringLiteral("crlfprep"), QStringLiteral("SELECT <#msg>bad\r\nvalue</#msg>"));
    struct Case {
        QByteArray request, answer;
        QString logged;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", errorBytes("Name request from Client is empty"), kNameEmpty},
        {"get /sales HTTP/1.1\r\n\r\n", errorBytes("Name request from Client is empty"), kNameEmpty},
        {"GET /sales?year=2020", errorBytes("Name request from Client is empty"), kNameEmpty},
        {"GET /unknown HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /SALES HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        // Names that could leave the queries folder are never looked up.
        {"GET /../x HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /a/b HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /a\\b HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /a\x01" "b HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /sa\r\nles HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /. HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /a\x7F" "b HTTP/1.1\r\n\r\n", errorBytes("Name request from Client not found"), kNotFound},
        {"GET /badprep?x=1 HTTP/1.1\r\n\r\n", errorBytes("Error in during preparing query (Unknown column ?)"),
         QStringLiteral(u"{ClientExecute} Error prepared query [Unknown column \u4e2d] !!! ")},
        // The answer keeps the message as it is; the log line stays one line.
        {"GET /crlfprep HTTP/1.1\r\n\r\n", errorBytes("Error in during preparing query (bad\r\nvalue)"),
         QStringLiteral("{ClientExecute} Error prepared query [bad  value] !!! ")},
    };
    for (const Case& c : cases) {
        EventLog::instance().clear();
        const Received r = request(c.request);
        EXPECT_EQ(r.bytes, c.answer) << c.request.constData();
        EXPECT_TRUE(r.closedCleanly);
        mainthread::servePending();
        EXPECT_EQ(requestMessages(), QStringList({kProcessing, c.logged})) << c.request.constData();
    }
    EXPECT_EQ(steps.existsAsked, QStringList({"unknown", "SALES", "badprep", "crlfprep"}));
    EXPECT_EQ(steps.counted.load(), 0);
    EXPECT_TRUE(steps.seen.isEmpty());
}

TEST_F(Pipeline, ProcessingLineShowsTheRequestOnOneLine)
{
    const Received r = request("GET /sa\r\nles?x=1 HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(r.bytes, errorBytes("Name request from Client not found"));
    QString processing;
    for (const QString& l : EventLog::instance().lines())
        if (messageOf(l) == kProcessing) processing = l;
    ASSERT_FALSE(processing.isEmpty());
    const qsizetype at = processing.indexOf(QLatin1String("] \t"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[\\d\\d\\.\\d\\d\\.\\d{4}( \\d\\d:\\d\\d:\\d\\d)?\\]$"))
                    .match(processing.left(at + 1))
                    .hasMatch())
        << processing.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\{ClientExecute\\} Processing request from Client \\tIP "
                                                  "\\[127\\.0\\.0\\.1\\] \\tSocketHandle \\[\\d+\\]\\tInput request "
                                                  "\\[GET /sa  les\\?x=1 \\]$"))
                    .match(processing.mid(at + 3))
                    .hasMatch())
        << processing.toStdString();
    // Without "HTTP/" the brackets stay empty.
    EventLog::instance().clear();
    request("GET /x");
    ASSERT_EQ(EventLog::instance().lines().filter(kProcessing).size(), 1);
    EXPECT_TRUE(EventLog::instance().lines().filter(kProcessing)[0].endsWith(QLatin1String("\tInput request []")));
}

TEST_F(Pipeline, SilentClientsGetTheEmptyRequestAnswerAfterFiveSeconds)
{
    const quint16 p = port;
    QElapsedTimer timer;
    timer.start();
    // A silent client, one that sends only blanks and line breaks, and one that closes
    // its sending side at once: all wait the same five seconds.
    const auto results = inWorker([p] {
        auto silent = std::async(std::launch::async, [p] { return exchange(p, QByteArray()); });
        auto blanks = std::async(std::launch::async, [p] {
            const int fd = connectTo(p);
            sendAll(fd, " \r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sendAll(fd, "\r\n\t ");
            Received r = readToEnd(fd);
            ::close(fd);
            return r;
        });
        auto halfClosed = std::async(std::launch::async, [p] {
            const int fd = connectTo(p);
            ::shutdown(fd, SHUT_WR);
            Received r = readToEnd(fd);
            ::close(fd);
            return r;
        });
        return std::vector<Received>{silent.get(), blanks.get(), halfClosed.get()};
    });
    EXPECT_GE(timer.elapsed(), 5000);
    for (const Received& r : results) {
        EXPECT_EQ(r.bytes, errorBytes("Input request from Client is empty"));
        EXPECT_TRUE(r.closedCleanly);
    }
    mainthread::servePending();
    EXPECT_EQ(requestMessages(), QStringList(3, QStringLiteral("{ClientExecute} Input request from Client is empty !!! ")));
}

TEST_F(Pipeline, ShareListGoesToEveryClientBeforeAnyAccessCheck)
{
    QFile f(programFile(QStringLiteral("ListAndDescriptionShareFunction.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("sales\tSales by year\nnosales\t\xE9");
    f.close();
    steps.access.insert(QStringLiteral("b@x"), {AccessDecision::Kind::Blocked, {}});
    const Received r = request("GET /sharelist?email=B@X&seccode=s HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.bytes, kPlainHeader + "sales\tSales by year\r\nnosales\t\xE9\r\n");
    mainthread::servePending();
    EXPECT_EQ(requestMessages(),
              QStringList({kProcessing, QStringLiteral("{SendAnswerForClient[ShareListFunction]} Msg was sent ")}));
    EXPECT_TRUE(steps.accessAsked.isEmpty());
    EXPECT_EQ(steps.counted.load(), 0);
}

TEST_F(Pipeline, ShareListNeedsAName)
{
    settings.NameFunctionForShareList = QStringLiteral("  ");
    applySettings();
    steps.functions = {QStringLiteral("  ")};
    EXPECT_EQ(request("GET /%20%20 HTTP/1.1\r\n\r\n").bytes, errorBytes("Name request from Client not found"));
}

TEST_F(Pipeline, MissingShareListFileIsAnEscapingFailure)
{
    const Received r = request("GET /ShareList HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.bytes, QByteArray());
    EXPECT_TRUE(r.closedCleanly);
    mainthread::servePending();
    ASSERT_EQ(ui.errors.size(), 1);
    EXPECT_TRUE(ui.errors[0].contains(QLatin1String("ListAndDescriptionShareFunction.txt"))) << ui.errors[0].toStdString();
    EXPECT_EQ(requestMessages(), QStringList({kProcessing}));
}

TEST_F(Pipeline, AccessDecision)
{
    steps.functions = {QStringLiteral("sales")};
    steps.access.insert(QStringLiteral("blocked@x"), {AccessDecision::Kind::Blocked, {}});
    steps.access.insert(QStringLiteral("reg@x"), {AccessDecision::Kind::Registered, QStringLiteral("31.12.2030")});
    const QString today = regional::shortDate(QDate::currentDate());

    // Blocked: the black-list answer, nothing counted.
    EXPECT_EQ(request("GET /sales?email=Blocked@X&seccode=Code HTTP/1.1\r\n\r\n").bytes,
              kPlainHeader + "Client is blocked. For get more info " + kContactEmail);
    mainthread::servePending();
    EXPECT_EQ(requestMessages(),
              QStringList({kProcessing, QStringLiteral("{SendAnswerForClient[AnswerForBlackList]} Msg was sent ")}));
    EXPECT_EQ(steps.accessAsked, QStringList({"blocked@x|code|127.0.0.1"}));

    // Without a secure code the lists are not consulted: a test client.
    EXPECT_EQ(request("GET /sales?email=blocked@x HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer sales");
    EXPECT_EQ(request("GET /sales?seccode=code&email= HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer sales");
    // Registered.
    EXPECT_EQ(request("GET /sales?email=REG@x&seccode=S HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer sales");
    // Neither.
    EXPECT_EQ(request("GET /sales?email=who@x&seccode=S HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer sales");

    EXPECT_EQ(steps.accessAsked.size(), 3);
    ASSERT_EQ(steps.seen.size(), 4);
    EXPECT_TRUE(steps.seen[0].testClient);
    EXPECT_EQ(steps.seen[0].dateActive, today);
    EXPECT_TRUE(steps.seen[1].testClient);
    EXPECT_FALSE(steps.seen[2].testClient);
    EXPECT_EQ(steps.seen[2].dateActive, QStringLiteral("31.12.2030"));
    EXPECT_EQ(steps.seen[2].email, QStringLiteral("reg@x"));
    EXPECT_EQ(steps.seen[2].seccode, QStringLiteral("s"));
    EXPECT_TRUE(steps.seen[3].testClient);
    EXPECT_EQ(steps.seen[3].dateActive, today);
    EXPECT_EQ(steps.counted.load(), 4);
}

TEST_F(Pipeline, AnswersAreSentInTheEncodingOfTheirFormat)
{
    steps.functions = {QStringLiteral("f")};
    steps.answers.insert(QStringLiteral("f"), QStringLiteral(u"HTTP/1.1 200 OK\r\n\r\n\u00e9\u4e2d"));
    struct Case {
        QByteArray query, bytes;
        QString format;
    };
    const Case cases[] = {
        {"", "HTTP/1.1 200 OK\r\n\r\n\xC3\xA9\xE4\xB8\xAD", "JSON"},
        {"?format=xml", "HTTP/1.1 200 OK\r\n\r\n\xC3\xA9\xE4\xB8\xAD", "XML"},
        {"?format=Csv[;]", "HTTP/1.1 200 OK\r\n\r\n\xE9?", "CSV[;]"},
        {"?format=TXT[TAB]", "HTTP/1.1 200 OK\r\n\r\n\xE9?", "TXT[TAB]"},
        {"?format=html", "HTTP/1.1 200 OK\r\n\r\n\xC3\xA9\xE4\xB8\xAD", "JSON"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(request("GET /f" + c.query + " HTTP/1.1\r\n\r\n").bytes, c.bytes) << c.query.constData();
        EXPECT_EQ(steps.seen.last().format, c.format);
    }
}

TEST_F(Pipeline, CacheStepsOnlyWhenTheCacheIsInUse)
{
    steps.functions = {QStringLiteral("fresh"), QStringLiteral("empty"), QStringLiteral("failed")};
    steps.answers.insert(QStringLiteral("empty"), QStringLiteral("[nocache]HTTP/1.1 200 OK\r\n\r\nResult query is empty"));
    steps.answers.insert(QStringLiteral("failed"), QStringLiteral(" \r\n"));

    // Caching off: no lookup, no store.
    EXPECT_EQ(request("GET /fresh HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer fresh");
    EXPECT_EQ(steps.cacheLookups, 0);
    EXPECT_TRUE(steps.stored.isEmpty());
    // Caching on, but the cache folder is gone: looked up (a miss) and stored, which
    // makes the folder again.
    settings.EnabledCaching = true;
    applySettings();
    EXPECT_EQ(request("GET /fresh HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer fresh");
    EXPECT_EQ(steps.cacheLookups, 1);
    EXPECT_EQ(steps.stored.size(), 1);
    steps.stored.clear();
    steps.cacheLookups = 0;

    ASSERT_TRUE(QDir().mkpath(settings.PathToCache));
    EventLog::instance().clear();
    EXPECT_EQ(request("GET /fresh HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer fresh");
    // "[nocache]" is removed, the answer sent and counted, but not stored.
    EXPECT_EQ(request("GET /empty HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nResult query is empty");
    // A failed query: no answer, not counted, not stored.
    const Received failed = request("GET /failed HTTP/1.1\r\n\r\n");
    EXPECT_EQ(failed.bytes, QByteArray());
    EXPECT_TRUE(failed.closedCleanly);
    EXPECT_EQ(steps.cacheLookups, 3);
    EXPECT_EQ(steps.stored, QStringList({"fresh=HTTP/1.1 200 OK\r\n\r\nanswer fresh"}));
    // under the key its own lookup gave
    EXPECT_EQ(steps.storedKeys.last(), QStringLiteral("key of fresh"));
    EXPECT_EQ(steps.counted.load(), 4);
    mainthread::servePending();
    EXPECT_EQ(requestMessages(), QStringList({kProcessing, kSent, kProcessing, kSent, kProcessing,
                                              QStringLiteral("{ClientExecute} Query or result is wrong !!! ")}));

    // Found in the cache: no execution.
    steps.cacheHit = true;
    const qsizetype executed = steps.seen.size();
    EXPECT_EQ(request("GET /fresh HTTP/1.1\r\n\r\n").bytes, "cached fresh");
    EXPECT_EQ(steps.seen.size(), executed);
    EXPECT_EQ(steps.counted.load(), 5);
}

TEST_F(Pipeline, EscapingFailureEndsTheRequestWithoutAnAnswer)
{
    steps.functions = {QStringLiteral("sales")};
    const Received r = request("GET /sales?x=%G1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.bytes, QByteArray());
    EXPECT_TRUE(r.closedCleanly);
    mainthread::servePending();
    EXPECT_EQ(ui.errors, QStringList({"Invalid URL encoded character (%G1) at position 3"}));
    EXPECT_EQ(requestMessages(), QStringList({kProcessing}));
    // The server goes on.
    EXPECT_EQ(request("GET /sales?x=%41 HTTP/1.1\r\n\r\n").bytes, "HTTP/1.1 200 OK\r\n\r\nanswer sales");
    EXPECT_EQ(steps.counted.load(), 1);
}

// A client that varies the position and the characters of its bad escape opens one
// failure box, which counts them; the log goes on meanwhile.
TEST_F(Pipeline, ThousandDistinctBadRequestsGiveOneFailureBox)
{
    steps.functions = {QStringLiteral("sales")};
    ui.keepFailureBoxOpen = true;
    EventLog::instance().clear();
    for (int i = 0; i < 1000; ++i) {
        const QByteArray target = "/sales?x=" + QByteArray(i, 'a') + "%G" + QByteArray::number(i % 10);
        EXPECT_EQ(request("GET " + target + " HTTP/1.1\r\n\r\n").bytes, QByteArray());
        if (i % 100 == 0) mainthread::servePending();
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    mainthread::serveUntil([&] {
        return ui.failureBox.endsWith(QLatin1String("(1000 failures of this kind)")) ||
               std::chrono::steady_clock::now() > until;
    });
    EXPECT_EQ(ui.failureBoxesOpened, 1);
    EXPECT_TRUE(ui.errors.isEmpty());
    EXPECT_TRUE(ui.failureBox.startsWith(QLatin1String("Invalid URL encoded character (%G"))) << ui.failureBox.toStdString();
    EXPECT_TRUE(ui.failureBox.endsWith(QLatin1String("\r(1000 failures of this kind)"))) << ui.failureBox.toStdString();
    EXPECT_FALSE(ui.failureBox.contains(QLatin1String("\r\r")));
    EXPECT_EQ(requestMessages().count(kProcessing), 1000);

    // Closed, the next failure opens a box of its own.
    ui.closeFailureBox();
    EXPECT_EQ(request("GET /sales?x=%G1 HTTP/1.1\r\n\r\n").bytes, QByteArray());
    mainthread::serveUntil([&] { return ui.failureBoxesOpened == 2 || std::chrono::steady_clock::now() > until; });
    EXPECT_EQ(ui.failureBox, QStringLiteral("Invalid URL encoded character (%G1) at position 3"));
}

TEST_F(Pipeline, AnswerArrivesWholeWhenTheRequestIsLargerThanTheFirstRead)
{
    steps.functions = {QStringLiteral("f")};
    const QByteArray big = "GET /f HTTP/1.1\r\nX-Pad: " + QByteArray(300 * 1024, 'a') + "\r\n\r\n";
    const Received r = request(big);
    EXPECT_EQ(r.bytes, "HTTP/1.1 200 OK\r\n\r\nanswer f");
    EXPECT_TRUE(r.closedCleanly);
}

TEST_F(Pipeline, FailedSends)
{
    steps.functions = {QStringLiteral("sales")};
    steps.access.insert(QStringLiteral("b@x"), {AccessDecision::Kind::Blocked, {}});

    // The black-list answer is sent guarded: the failure is logged, the operator not troubled.
    steps.duringAccess = [this] {
        for (const auto& c : server.openConnections()) c.abort();
    };
    Received r = request("GET /sales?email=b@x&seccode=s HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.bytes, QByteArray());
    const auto logged = [] {
        return !EventLog::instance().lines().filter(QStringLiteral("{SendAnswerForClient")).isEmpty();
    };
    const auto until0 = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    mainthread::serveUntil([&] { return logged() || std::chrono::steady_clock::now() > until0; });
    const QStringList lines = EventLog::instance().lines().filter(QStringLiteral("{SendAnswerForClient"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QLatin1String("{SendAnswerForClient[AnswerForBlackList]} Error in during send data for "
                                                "clien \tIP [127.0.0.1] \tSocketHandle [")));
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("]\tError |  msg = [ESocketError : Socket is closed]")));
    EXPECT_TRUE(ui.errors.isEmpty());

    // An error answer is sent unguarded: its failure reaches the operator.
    steps.duringAccess = nullptr;
    steps.duringPrepare = [this] {
        for (const auto& c : server.openConnections()) c.abort();
    };
    steps.prepared.insert(QStringLiteral("sales"), QStringLiteral("<#msg>bad</#msg>"));
    r = request("GET /sales HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.bytes, QByteArray());
    // The abort itself ends the client's connection, maybe before the failure is handed on.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    mainthread::serveUntil([&] { return !ui.errors.isEmpty() || std::chrono::steady_clock::now() > until; });
    EXPECT_EQ(ui.errors, QStringList({"Socket is closed"}));
}

