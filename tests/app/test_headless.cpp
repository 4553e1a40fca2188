// SPDX-License-Identifier: GPL-3.0-or-later
// veldra-headless end to end: the executable copied into a program folder of its own,
// with veldra.ini, query functions and folders, run as a separate process against the
// test MariaDB and talked to over loopback with plain sockets.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <cerrno>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <future>
#include <latch>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/md5.h"
#include "config/database.h"
#include "db/dbconnection.h"
#include "monitor/servicenotify.h"
#include "support/support.h"
#include "version.h"

using namespace veldra;

namespace {

const QString kWorkDb = QStringLiteral("veldra_app_headless_work");
const QString kClientDb = QStringLiteral("veldra_app_headless_clients");

// The time stamp of log lines and of the start line: dd.MM.yyyy, the time left out at
// exactly midnight.
const QString kStamp = QStringLiteral(R"(\d\d\.\d\d\.\d{4}(?: \d\d:\d\d:\d\d)?)");

// A function with one input value and a non-ASCII literal in its SQL, several lines.
const QString kItemsContent = QStringLiteral(
    "SELECT id, label, price, made, 'café' AS note FROM items\n"
    "WHERE id >= '{:minid:}'\n"
    "ORDER BY id");

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port no one listens on at the moment.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{60, 0};  // a hanging server fails the test instead of blocking it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool portAccepts(quint16 port)
{
    const int fd = connectTo(port);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// One GET per connection; everything the server sends until it closes.
QByteArray httpGet(quint16 port, const QByteArray& target)
{
    const int fd = connectTo(port);
    if (fd < 0) return {};
    const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    QByteArray all;
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        char buf[16384];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, n);
    }
    ::close(fd);
    return all;
}

QByteArray bodyOf(const QByteArray& answer)
{
    const qsizetype at = answer.indexOf("\r\n\r\n");
    return at < 0 ? QByteArray() : answer.mid(at + 4);
}

QJsonObject jsonBody(const QByteArray& answer)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bodyOf(answer), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return doc.object();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

// Text files as the operator's tools write them: UTF-8 with a byte-order mark, CR LF.
QByteArray bomCrLf(const QString& text)
{
    QString t = text;
    t.replace(u'\n', QLatin1String("\r\n"));
    return "\xEF\xBB\xBF" + t.toUtf8() + "\r\n";
}

int countOf(const QByteArray& text, const QByteArray& part) { return int(text.count(part)); }

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VELDRA_REQUIRE_DATABASE(db);
        m_admin = DbParams{db.host, QString::number(db.port), QString(), db.user, db.password};
        m_connection = std::make_unique<DbConnection>(m_admin);
        m_connection->connect();
        dropDatabases();
        sql(QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(kWorkDb));
        sql(QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(kClientDb));
        sql(QStringLiteral("CREATE TABLE %1.items (id INT PRIMARY KEY, label VARCHAR(60), price DECIMAL(8,2),"
                           " made DATE)"
                           " CHARACTER SET utf8mb4")
                .arg(kWorkDb));
        sql(QStringLiteral("INSERT INTO %1.items VALUES (1, 'Kaffe 500 g', 12.50, '2020-02-03'),"
                           " (2, 'Zoë \"Zed\"', 8.90, NULL), (3, 'Чай', 5.75, '2022-03-08')")
                .arg(kWorkDb));

        ASSERT_TRUE(m_dir.isValid());
        m_prog = m_dir.path();
        m_exe = m_prog + QStringLiteral("/veldra-headless");
        ASSERT_TRUE(QFile::copy(QStringLiteral(VELDRA_BIN_DIR "/veldra-headless"), m_exe));
        for (const char* sub : {"QUERIES", "LOGS", "CACHE-VELDRA"}) ASSERT_TRUE(QDir(m_prog).mkdir(QLatin1String(sub)));
        writeFunction(QStringLiteral("items"),
                      QStringLiteral("<#q_name>items</#q_name>\n"
                                     "<#q_active>-1</#q_active>\n"
                                     "<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>\n"
                                     "<#q_descript>Items from minid on.</#q_descript>\n"
                                     "<#q_count_input_values>1</#q_count_input_values>\n"
                                     "<#q_in_name[1]>minid</#q_in_name[1]>\n"
                                     "<#q_in_default_value[1]>0</#q_in_default_value[1]>\n"
                                     "<#q_in_deleteblocked_ifvalue_is[1]></#q_in_deleteblocked_ifvalue_is[1]>\n"
                                     "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>\n"
                                     "<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]>\n"
                                     "<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>\n"
                                     "<#q_content>") +
                          kItemsContent + QStringLiteral("</#q_content>"));
        writeFunction(QStringLiteral("labels"),
                      QStringLiteral("<#q_name>labels</#q_name>\n"
                                     "<#q_active>true</#q_active>\n"
                                     "<#q_blocked_for_sharelist>false</#q_blocked_for_sharelist>\n"
                                     "<#q_descript>All labels.</#q_descript>\n"
                                     "<#q_count_input_values>0</#q_count_input_values>\n"
                                     "<#q_content>SELECT id, label FROM items ORDER BY id</#q_content>"));
        m_port = freePort();
        ASSERT_NE(m_port, 0);
        writeIni();
    }

    void TearDown() override
    {
        if (HasFailure())
            std::fprintf(stderr, "--- stdout of veldra-headless:\n%s--- stderr:\n%s---\n", m_out.constData(),
                         m_err.constData());
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(30000);
        }
        for (int fd : {m_stdoutRead, m_stdoutWrite})
            if (fd >= 0) ::close(fd);
        if (m_connection) dropDatabases();
    }

    void sql(const QString& text) { m_connection->execute(text); }
    void dropDatabases()
    {
        sql(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(kWorkDb));
        sql(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(kClientDb));
    }

    // The client tables with two registered clients, before START creates the rest.
    void addRegisteredClients()
    {
        sql(QStringLiteral("USE %1").arg(kClientDb));
        sql(createClientsTableSql());
        sql(QStringLiteral("INSERT INTO clients_veldra (email, seccode, todate, note) VALUES"
                           " ('first@example.com', 'code-first', '2031-05-17', 'one'),"
                           " ('second@example.com', 'code-second', '2032-11-30', 'two')"));
    }

    void writeFunction(const QString& name, const QString& text)
    {
        writeFile(m_prog + QStringLiteral("/QUERIES/") + name + QStringLiteral(".qr"), bomCrLf(text));
    }

    void writeIni(bool caching = true, const QString& password = QString(), int saveLogEachLines = 50000)
    {
        auto section = [&](const char* name, const QString& database) {
            return QStringLiteral("[%1]\nip=%2\nport=%3\ndatabase=%4\nuser=%5\npsw=%6\n")
                .arg(QLatin1String(name), m_admin.server, m_admin.port, database, m_admin.user,
                     password.isNull() ? m_admin.password : password);
        };
        QString ini = QStringLiteral(
                          "[main]\npath_to_queries=%1/QUERIES\npath_to_logs=%1/LOGS\npath_to_cache=%1/CACHE-VELDRA\n"
                          "enabled_caching=%2\ncaching_clean_older_files=0\ncaching_clean_if_sum_files_is_more=0\n"
                          "caching_clean_quantity_is_more=0\ncaching_count_days_for_clean=30\n"
                          "caching_size_for_clean=1024\ncaching_quantity_for_clean=100000\nlink_to_descrpt_service=\n"
                          "worked_port=%3\nsave_log_each_lines=%4\nresave_time_log=00:01\n"
                          "reload_client_access=23:59\nreload_caches=03:00\nformat_answer=4\n"
                          "name_function_for_share_list_functions=GetShareListDescriptionFunctions\n")
                          .arg(m_prog, caching ? QStringLiteral("1") : QStringLiteral("0"))
                          .arg(m_port)
                          .arg(saveLogEachLines);
        ini += section("connect_client_table", kClientDb) + section("connect_work_data", kWorkDb);
        ini.replace(u'\n', QLatin1String("\r\n"));
        writeFile(m_prog + QStringLiteral("/veldra.ini"), ini.toUtf8());
    }

    // Takes what the process wrote so far, waiting up to `ms` for more.
    void pump(int ms)
    {
        if (m_proc.state() != QProcess::NotRunning) m_proc.waitForReadyRead(ms);
        m_out += m_proc.readAllStandardOutput();
        m_err += m_proc.readAllStandardError();
        if (m_whilePumping) m_whilePumping();
        if (m_stdoutRead >= 0 && m_readStdout) {
            char buf[65536];
            ssize_t n;
            while ((n = ::read(m_stdoutRead, buf, sizeof buf)) > 0) m_out.append(buf, n);
        }
    }

    // Standard output of the next launch goes into a pipe of the test's own; `read`
    // false: nobody reads it.
    void stdoutToOwnPipe(bool read)
    {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        m_stdoutRead = fds[0];
        m_stdoutWrite = fds[1];
        ::fcntl(m_stdoutRead, F_SETFL, O_NONBLOCK);
        m_readStdout = read;
    }
    // "device:inode" of that pipe, as the service manager sets JOURNAL_STREAM.
    QString ownPipeStream() const
    {
        struct stat st {};
        ::fstat(m_stdoutWrite, &st);
        return QStringLiteral("%1:%2").arg(qulonglong(st.st_dev)).arg(qulonglong(st.st_ino));
    }

    // Pumps until `done` holds or the process has ended; a minute at most.
    bool pumpUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 3000 && !done(); ++i) {
            if (m_proc.state() == QProcess::NotRunning) {
                pump(0);
                return done();
            }
            pump(20);
        }
        return done();
    }

    // Runs client code on a worker while the process output keeps being read.
    template <class F>
    auto client(F fn) -> decltype(fn())
    {
        auto fut = std::async(std::launch::async, std::move(fn));
        while (fut.wait_for(std::chrono::seconds(0)) != std::future_status::ready) pump(10);
        pump(0);
        return fut.get();
    }

    QByteArray get(const QByteArray& target)
    {
        return client([&] { return httpGet(m_port, target); });
    }

    // Starts the program from another working folder (it must find its files by its own
    // location) and waits until it runs or has ended.
    void launch()
    {
        m_proc.setProgram(m_program.isEmpty() ? m_exe : m_program);
        m_proc.setArguments(m_args);
        m_proc.setProcessEnvironment(m_env);
        m_proc.setWorkingDirectory(QDir::tempPath());
        if (m_stdoutWrite >= 0) {
            const int fd = m_stdoutWrite;
            m_proc.setChildProcessModifier([fd] { ::dup2(fd, STDOUT_FILENO); });
        }
        m_proc.start();
        ASSERT_TRUE(m_proc.waitForStarted(30000));
        pumpUntil([&] { return m_err.contains("START SERVER : "); });
    }

    void startOrFail()
    {
        launch();
        ASSERT_EQ(m_proc.state(), QProcess::Running) << "stderr: " << m_err.toStdString();
        ASSERT_TRUE(m_err.contains("START SERVER : ")) << "stderr: " << m_err.toStdString();
    }

    // Waits for the end of a process that ends by itself; its exit code.
    int exitCode()
    {
        // reading what it writes meanwhile, so that no reader of the test holds it
        for (int i = 0; i < 3000 && m_proc.state() != QProcess::NotRunning; ++i) pump(20);
        EXPECT_EQ(m_proc.state(), QProcess::NotRunning);
        pump(0);
        EXPECT_EQ(m_proc.exitStatus(), QProcess::NormalExit);
        return m_proc.exitCode();
    }

    int stopWith(int signal)
    {
        ::kill(pid_t(m_proc.processId()), signal);
        return exitCode();
    }

    // Every line on stdout is an event-log line: "[" time stamp "] " TAB "{" routine "} ".
    void expectOnlyLogLines()
    {
        static const QRegularExpression logLine(QStringLiteral("^\\[") + kStamp +
                                                QStringLiteral("\\] \\t\\{[^}]+\\} "));
        const QStringList lines = QString::fromUtf8(m_out).split(u'\n', Qt::SkipEmptyParts);
        EXPECT_FALSE(lines.isEmpty());
        for (const QString& line : lines) EXPECT_TRUE(logLine.match(line).hasMatch()) << line.toStdString();
    }

    QString cacheFolder(const QString& function) const { return m_prog + QStringLiteral("/CACHE-VELDRA/") + function; }

    DbParams m_admin;
    std::unique_ptr<DbConnection> m_connection;
    QTemporaryDir m_dir;
    QString m_prog, m_exe;
    quint16 m_port = 0;
    QProcess m_proc;
    QByteArray m_out, m_err;
    // The next launch: another program file, its arguments, its environment.
    QString m_program;
    QStringList m_args;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    int m_stdoutRead = -1, m_stdoutWrite = -1;
    bool m_readStdout = true;
    std::function<void()> m_whilePumping;
};

// The cache key of the items function asked with minid=1 in JSON, written out by the
// rule: the upper-cased prefix, the prepared SQL unchanged, the key bytes in UTF-8 (the
// é of café is C3 A9), MD5 in upper-case hex.
QString itemsKey(bool testClient)
{
    QString prepared = kItemsContent;
    prepared.replace(QLatin1String("{:minid:}"), QLatin1String("1"));
    prepared.replace(u'\n', QLatin1String("\r\n"));
    const QString prefix = testClient ? QStringLiteral("[ITEMS][-1]|[JSON]=") : QStringLiteral("[ITEMS][0]|[JSON]=");
    return md5Hex((prefix + prepared).toUtf8());
}

class HeadlessSignalTest : public HeadlessTest, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessSignalTest, StartsServesAndStopsOnTheSignal)
{
    startOrFail();
    const QRegularExpression startLine(QStringLiteral("START SERVER : ") + kStamp + QStringLiteral(" \\[") +
                                              QString::number(m_port) + QStringLiteral("\\]\n"));
    EXPECT_TRUE(startLine.match(QString::fromUtf8(m_err)).hasMatch()) << m_err.toStdString();

    const QByteArray answer = get("/items?minid=1&format=json");
    ASSERT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n")) << answer.toStdString();
    const QJsonObject json = jsonBody(answer);
    EXPECT_EQ(json.value(QLatin1String("statusText")).toString(), QStringLiteral("test client - data is modified"));
    const QJsonArray rows = json.value(QLatin1String("Data")).toObject().value(QLatin1String("Row")).toArray();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[2].toObject().value(QLatin1String("label")).toString(), QStringLiteral("Ча..."));  // cut for a test client

    // A client that is still connected when the signal comes is closed by STOP.
    const int idle = connectTo(m_port);
    ASSERT_GE(idle, 0);
    ASSERT_TRUE(pumpUntil([&] { return countOf(m_out, "{httpserverGetThread} Client connected ") == 2; }));

    EXPECT_EQ(stopWith(GetParam()), 0) << m_err.toStdString();
    char c;
    EXPECT_EQ(::read(idle, &c, 1), 0);  // the server closed it
    ::close(idle);
    EXPECT_FALSE(portAccepts(m_port));

    expectOnlyLogLines();
    EXPECT_EQ(countOf(m_out, "{httpserverGetThread} Client connected "), 2);
    EXPECT_EQ(countOf(m_out, "{ClientExecute} Was succesful sent answer for client !!! "), 1);
    EXPECT_EQ(countOf(m_out, "{SocketClosing} Client clossing "), 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGTERM ? std::string("SIGTERM") : std::string("SIGINT");
                         });

TEST_F(HeadlessTest, WrongDatabasePasswordRefusesToStart)
{
    writeIni(true, QStringLiteral("not-the-password"));
    launch();
    EXPECT_EQ(exitCode(), 1);
    const QString err = QString::fromUtf8(m_err);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Need Fix settings Mysql server(s)\n******************************\n")))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QLatin1String("Access denied"))) << err.toStdString();  // TEST CONNECT's report
    EXPECT_FALSE(err.contains(QLatin1String("START SERVER : ")));
    EXPECT_FALSE(m_out.contains("{httpserverGetThread}"));
    EXPECT_FALSE(portAccepts(m_port));
}

TEST_F(HeadlessTest, BusyPortRefusesToStart)
{
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(m_port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << errno;
    ASSERT_EQ(::listen(holder, 5), 0);

    launch();
    EXPECT_EQ(exitCode(), 1);
    ::close(holder);
    const QString err = QString::fromUtf8(m_err);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Error(s) in during run server \n Error |  msg = [")))
        << err.toStdString();
    EXPECT_TRUE(err.endsWith(QStringLiteral("]\n"))) << err.toStdString();
    EXPECT_FALSE(err.contains(QLatin1String("START SERVER : ")));
}

TEST_F(HeadlessTest, SecondRequestIsTheStoredFileByteForByte)
{
    startOrFail();
    const QByteArray first = get("/items?minid=1&format=json");
    ASSERT_TRUE(first.startsWith("HTTP/1.1 200 OK\r\n")) << first.toStdString();

    const QString file = cacheFolder(QStringLiteral("items")) + u'/' + itemsKey(true) + QStringLiteral(".cache");
    QFile stored(file);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly))
        << "no cache file " << file.toStdString() << " in "
        << QDir(cacheFolder(QStringLiteral("items"))).entryList().join(u' ').toStdString();
    EXPECT_EQ(stored.readAll(), first);  // JSON: UTF-8 without a byte-order mark, as sent

    // Data changed behind the cache: only an answer from the file can still be the first one.
    sql(QStringLiteral("UPDATE %1.items SET label = 'changed'").arg(kWorkDb));
    const QByteArray second = get("/items?minid=1&format=json");
    EXPECT_EQ(second, first);
    // Another function is not served from the items file.
    EXPECT_TRUE(bodyOf(get("/labels?format=json")).contains("chang..."));

    EXPECT_EQ(stopWith(SIGTERM), 0);
    expectOnlyLogLines();
    EXPECT_EQ(countOf(m_out, "{ClientExecute} Data for client was sent from cache !!! "), 1);
    EXPECT_EQ(countOf(m_out, "{httpserverGetThread} Client connected "), 3);
}

TEST_F(HeadlessTest, RegisteredClientsSeeTheirOwnEndDateFromTheCache)
{
    addRegisteredClients();
    startOrFail();
    const QByteArray first = get("/items?minid=1&format=json&email=first@example.com&seccode=code-first");
    ASSERT_TRUE(first.startsWith("HTTP/1.1 200 OK\r\n")) << first.toStdString();
    EXPECT_EQ(jsonBody(first).value(QLatin1String("statusText")).toString(),
              QStringLiteral("Final date of use : 17.05.2031"));
    EXPECT_TRUE(
        QFile::exists(cacheFolder(QStringLiteral("items")) + u'/' + itemsKey(false) + QStringLiteral(".cache")));

    const QByteArray second = get("/items?minid=1&format=json&email=second@example.com&seccode=code-second");
    const QJsonObject json = jsonBody(second);
    EXPECT_EQ(json.value(QLatin1String("statusText")).toString(), QStringLiteral("Final date of use : 30.11.2032"));
    // Registered clients get whole values; apart from the date the answer is the first one.
    EXPECT_EQ(json.value(QLatin1String("Data")).toObject().value(QLatin1String("Row")).toArray()[0].toObject().value(
                  QLatin1String("label")),
              QStringLiteral("Kaffe 500 g"));
    QByteArray expected = first;
    expected.replace("17.05.2031", "30.11.2032");
    EXPECT_EQ(second, expected);

    // A test client has a key of its own: a fresh answer from the database.
    const QByteArray test = get("/items?minid=1&format=json");
    EXPECT_EQ(jsonBody(test).value(QLatin1String("statusText")).toString(),
              QStringLiteral("test client - data is modified"));
    EXPECT_EQ(QDir(cacheFolder(QStringLiteral("items"))).entryList(QDir::Files).size(), 2);

    EXPECT_EQ(stopWith(SIGTERM), 0);
    EXPECT_EQ(countOf(m_out, "{ClientExecute} Data for client was sent from cache !!! "), 1);
}

TEST_F(HeadlessTest, SixteenConcurrentIdenticalRequestsAreAllAnswered)
{
    startOrFail();
    constexpr int kClients = 16;
    const QList<QByteArray> answers = client([&] {
        std::latch go(kClients);
        std::vector<std::future<QByteArray>> futures;
        for (int i = 0; i < kClients; ++i)
            futures.push_back(std::async(std::launch::async, [&] {
                go.arrive_and_wait();
                return httpGet(m_port, "/items?minid=1&format=json");
            }));
        QList<QByteArray> all;
        for (auto& f : futures) all << f.get();
        return all;
    });

    for (const QByteArray& a : answers) {
        ASSERT_TRUE(a.startsWith("HTTP/1.1 200 OK\r\n")) << a.toStdString();
        EXPECT_EQ(jsonBody(a).value(QLatin1String("Data")).toObject().value(QLatin1String("Row")).toArray().size(), 3);
        EXPECT_EQ(a, answers.first());
    }
    // Stores and lookups of one key leave the one cache file and nothing else behind.
    EXPECT_EQ(QDir(cacheFolder(QStringLiteral("items"))).entryList(QDir::Files),
              QStringList{itemsKey(true) + QStringLiteral(".cache")});

    EXPECT_EQ(stopWith(SIGTERM), 0);
    expectOnlyLogLines();
    EXPECT_EQ(countOf(m_out, "{httpserverGetThread} Client connected "), kClients);
    const int fromCache = countOf(m_out, "{ClientExecute} Data for client was sent from cache !!! ");
    const int fresh = countOf(m_out, "{ClientExecute} Was succesful sent answer for client !!! ");
    EXPECT_EQ(fromCache + fresh, kClients);
}

TEST_F(HeadlessTest, FailedRequestIsShownOnStderrAndTheServerGoesOn)
{
    // A cache "file" that cannot be read (a folder in its place) ends the request without
    // an answer; the operator is told, and the next request is served as usual.
    ASSERT_TRUE(QDir().mkpath(cacheFolder(QStringLiteral("items")) + u'/' + itemsKey(true) + QStringLiteral(".cache")));
    startOrFail();
    EXPECT_EQ(get("/items?minid=1&format=json"), QByteArray());
    ASSERT_TRUE(pumpUntil([&] { return m_err.contains(itemsKey(true).toUtf8()); })) << m_err.toStdString();
    EXPECT_TRUE(get("/labels?format=json").startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(stopWith(SIGTERM), 0);
    expectOnlyLogLines();
}

TEST_F(HeadlessTest, CachingOffStoresNothing)
{
    writeIni(false);
    startOrFail();
    const QByteArray first = get("/items?minid=1&format=json");
    ASSERT_TRUE(first.startsWith("HTTP/1.1 200 OK\r\n")) << first.toStdString();
    sql(QStringLiteral("UPDATE %1.items SET label = 'changed' WHERE id = 1").arg(kWorkDb));
    EXPECT_TRUE(bodyOf(get("/items?minid=1&format=json")).contains("chang..."));  // cut for a test client
    EXPECT_FALSE(QDir(cacheFolder(QStringLiteral("items"))).exists());
    EXPECT_EQ(stopWith(SIGTERM), 0);
    EXPECT_EQ(countOf(m_out, "{ClientExecute} Data for client was sent from cache !!! "), 0);
}

// A function file with plain input values (default null, no flags; those named in
// `blocked` have their block removed when they have no value).
QString functionText(const QString& name, const QStringList& inputs, const QString& content,
                     const QStringList& blocked = {})
{
    QString t = QStringLiteral("<#q_name>%1</#q_name>\n<#q_active>-1</#q_active>\n"
                               "<#q_count_input_values>%2</#q_count_input_values>\n")
                    .arg(name)
                    .arg(inputs.size());
    for (int i = 1; i <= inputs.size(); ++i) {
        const bool block = blocked.contains(inputs[i - 1]);
        t += QStringLiteral("<#q_in_name[%1]>%2</#q_in_name[%1]>\n<#q_in_default_value[%1]>null</#q_in_default_value[%1]>\n"
                            "<#q_in_deleteblocked_ifvalue_is[%1]>[null][0][]</#q_in_deleteblocked_ifvalue_is[%1]>\n"
                            "<#q_in_Cleantext[%1]>0</#q_in_Cleantext[%1]>\n<#q_in_IsFloatValue[%1]>0</#q_in_IsFloatValue[%1]>\n"
                            "<#q_in_deleteblocked[%1]>%3</#q_in_deleteblocked[%1]>\n")
                 .arg(i)
                 .arg(inputs[i - 1], block ? QStringLiteral("-1") : QStringLiteral("0"));
    }
    return t + QStringLiteral("<#q_content>") + content + QStringLiteral("</#q_content>");
}

// A column of the first row of a JSON answer; empty when there is none.
QString firstRowValue(const QByteArray& answer, const char* column)
{
    const QJsonArray rows = jsonBody(answer).value(QLatin1String("Data")).toObject().value(QLatin1String("Row")).toArray();
    if (rows.isEmpty()) return {};
    return rows.first().toObject().value(QLatin1String(column)).toString();
}

TEST_F(HeadlessTest, RequestValuesStayValues)
{
    sql(QStringLiteral("CREATE TABLE %1.customers (id INT, name VARCHAR(40), city VARCHAR(40))").arg(kWorkDb));
    sql(QStringLiteral("INSERT INTO %1.customers VALUES (1, 'Ann', 'Oslo'), (2, 'Bob', NULL)").arg(kWorkDb));
    sql(QStringLiteral("CREATE TABLE %1.secret (code VARCHAR(40))").arg(kWorkDb));
    sql(QStringLiteral("INSERT INTO %1.secret VALUES ('the-secret-code')").arg(kWorkDb));
    writeFunction(QStringLiteral("multi"),
                  functionText(QStringLiteral("multi"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                               QStringLiteral("SELECT id,name FROM customers WHERE name LIKE '%{:a:}%' /*<#b#>*/ AND city = "
                                              "'{:b:}' /*<#/b#>*/ AND COALESCE(city,'') <> '{:c:}'"),
                               {QStringLiteral("b")}));
    writeFunction(QStringLiteral("echo"), functionText(QStringLiteral("echo"), {QStringLiteral("v"), QStringLiteral("w")},
                                                       QStringLiteral("SELECT '{:v:}' AS v, '{:w:}' AS w")));
    addRegisteredClients();
    startOrFail();
    const QByteArray registered = "&format=json&email=first@example.com&seccode=code-first";
    const auto echo = [&](const QByteArray& query) { return get("/echo?" + query + registered); };

    // Block markers inside a value do not open the function's block: the condition on c
    // stays inside its quotes and no other table is read.
    const QByteArray multi = get("/multi?a=%3C%23b%23%3E&c=%20OR%201=1%20UNION%20SELECT%20code,code%20FROM%20secret%20--%20"
                                 "&format=json");
    ASSERT_TRUE(multi.startsWith("HTTP/1.1 200 OK\r\n")) << multi.toStdString();
    EXPECT_FALSE(multi.contains("the-secret-code")) << multi.toStdString();
    EXPECT_EQ(jsonBody(multi).value(QLatin1String("empty")).toString(), QStringLiteral("true"));

    // A placeholder of a later input value and the error marker are the value's own text.
    const QByteArray later = echo("v=%7B:w:%7D&w=Z");
    EXPECT_EQ(firstRowValue(later, "v"), QStringLiteral("{:w:}")) << later.toStdString();
    EXPECT_EQ(firstRowValue(later, "w"), QStringLiteral("Z"));
    const QByteArray msg = echo("v=%3C%23msg%3Eboom%3C/%23msg%3E");
    ASSERT_TRUE(msg.startsWith("HTTP/1.1 200 OK\r\n")) << msg.toStdString();
    EXPECT_EQ(firstRowValue(msg, "v"), QStringLiteral("<#msg>boom</#msg>"));

    // Every marker of the parameter list inside a value: the client stays registered
    // (e-mail and secure code are still read) and gets the value back whole.
    for (const char* marker : {"<paramcount>0</paramcount>", "<name[1]>", "</name[1]>", "<value[1]>", "</value[1]>",
                               "<name[4]>email</name[4]>", "<value[5]>x</value[5]>", "&lt;", "&amp;"}) {
        SCOPED_TRACE(marker);
        const QByteArray answer = echo("v=" + QByteArray(marker).toPercentEncoding());
        EXPECT_EQ(jsonBody(answer).value(QLatin1String("statusText")).toString(),
                  QStringLiteral("Final date of use : 17.05.2031"));
        EXPECT_EQ(firstRowValue(answer, "v"), QString::fromLatin1(marker)) << answer.toStdString();
    }

    // A value repeating a placeholder does not multiply the statement.
    const QByteArray repeated = QByteArray("%7B:w:%7D").repeated(640);
    const QByteArray grown = echo("v=" + repeated + "&w=" + QByteArray(1000, 'x'));
    EXPECT_EQ(firstRowValue(grown, "v"), QStringLiteral("{:w:}").repeated(640));

    EXPECT_EQ(stopWith(SIGTERM), 0);
    EXPECT_EQ(countOf(m_out, "{ClientExecute} Error prepared query ["), 0);
}

TEST_F(HeadlessTest, RequestsThatDifferOutsideAsciiHaveAnswersOfTheirOwn)
{
    writeFunction(QStringLiteral("echo"), functionText(QStringLiteral("echo"), {QStringLiteral("v")},
                                                       QStringLiteral("SELECT '{:v:}' AS v")));
    addRegisteredClients();
    startOrFail();
    const QByteArray registered = "&format=json&email=first@example.com&seccode=code-first";
    const QList<QByteArray> values = {"%D0%94%D0%BC%D0%B8", "%D0%96%D0%B6%D0%B6", "%C3%B6", "%C3%BC", "%3F", "%EF%BF%BD"};
    for (int round = 0; round < 2; ++round) {
        for (const QByteArray& v : values) {
            SCOPED_TRACE(v.toStdString());
            const QByteArray answer = get("/echo?v=" + v + registered);
            EXPECT_EQ(firstRowValue(answer, "v"), QString::fromUtf8(QByteArray::fromPercentEncoding(v)));
        }
    }
    EXPECT_EQ(QDir(cacheFolder(QStringLiteral("echo"))).entryList(QDir::Files).size(), values.size());
    EXPECT_EQ(stopWith(SIGTERM), 0);
    EXPECT_EQ(countOf(m_out, "{ClientExecute} Data for client was sent from cache !!! "), values.size());
}

TEST_F(HeadlessTest, NoLogLineIsLongerThan64KiB)
{
    // A failed statement of about 96 KB: its WrongQuery line is cut, on stdout and in the
    // saved log files.
    writeFunction(QStringLiteral("wide"), functionText(QStringLiteral("wide"), {QStringLiteral("v")},
                                                       QStringLiteral("SELECT '{:v:}', '{:v:}', '{:v:}' FROM missing_table")));
    writeIni(true, QString(), 3);
    startOrFail();
    EXPECT_EQ(get("/wide?v=" + QByteArray(32000, 'x') + "&format=json"), QByteArray());
    ASSERT_TRUE(get("/labels?format=json").startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(stopWith(SIGTERM), 0);

    const QList<QByteArray> printed = m_out.split('\n');
    int cut = 0;
    for (const QByteArray& line : printed) {
        EXPECT_LE(line.size(), 64 * 1024);
        if (line.contains("{_SaveQueryAS} WrongQuery !!! ")) {
            EXPECT_TRUE(line.contains("xxx"));
            EXPECT_TRUE(QRegularExpression(QStringLiteral(" \\[\\.\\.\\. cut: the line had \\d+ characters\\]$"))
                            .match(QString::fromUtf8(line))
                            .hasMatch());
            ++cut;
        }
    }
    EXPECT_EQ(cut, 1);
    const QStringList saved = QDir(m_prog + QStringLiteral("/LOGS")).entryList({QStringLiteral("mainlog-*.log")});
    ASSERT_FALSE(saved.isEmpty());
    for (const QString& name : saved) {
        QFile f(m_prog + QStringLiteral("/LOGS/") + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        for (const QByteArray& line : f.readAll().split('\n')) EXPECT_LE(line.size(), 64 * 1024 + 1);  // with its CR
    }
}

TEST_F(HeadlessTest, FullEventLogIsSavedToTheLogsFolder)
{
    writeIni(true, QString(), 5);
    startOrFail();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(get("/labels?format=json").startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(stopWith(SIGTERM), 0);

    // Saves in the same second share a name, so there is at least one file; each holds
    // the six lines that made the log exceed five, as they went to stdout.
    const QStringList saved = QDir(m_prog + QStringLiteral("/LOGS")).entryList({QStringLiteral("mainlog-*.log")});
    ASSERT_FALSE(saved.isEmpty());
    for (const QString& name : saved) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^mainlog-\\d{8,14}\\.log$")).match(name).hasMatch())
            << name.toStdString();
        QFile f(m_prog + QStringLiteral("/LOGS/") + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF") && bytes.endsWith("\r\n"));
        const QByteArray lines = bytes.mid(3);
        EXPECT_EQ(countOf(lines, "\r\n"), 6);
        QByteArray asPrinted = lines;
        asPrinted.replace("\r\n", "\n");
        EXPECT_TRUE(m_out.contains(asPrinted)) << bytes.toStdString();
    }
    expectOnlyLogLines();
}


// Runs the built executable with `args`; exit code, stdout and stderr.
struct RunResult {
    int code = -1;
    QByteArray out, err;
};
RunResult runHeadless(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(VELDRA_BIN_DIR "/veldra-headless"), args);
    RunResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

TEST(HeadlessCommandLineTest, HelpVersionAndWrongOptions)
{
    const RunResult help = runHeadless({QStringLiteral("--help")});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: veldra-headless [--folder DIR] [--check]\n")) << help.out.toStdString();
    for (const char* option : {"--folder DIR", "--check", "--help", "--version"}) EXPECT_TRUE(help.out.contains(option));
    EXPECT_TRUE(help.err.isEmpty());

    const RunResult version = runHeadless({QStringLiteral("--version")});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, QByteArray("veldra-headless " VELDRA_VERSION "\n"));

    for (const char* wrong : {"--bogus", "--folder", "stray"}) {
        SCOPED_TRACE(wrong);
        const RunResult r = runHeadless({QLatin1String(wrong)});
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith("veldra-headless: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(help.out));
    }

    const RunResult missing = runHeadless({QStringLiteral("--folder"), QStringLiteral("/nonexistent/veldra"), QStringLiteral("--check")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, QByteArray("veldra-headless: no folder /nonexistent/veldra\n"));
}

class HeadlessFolderTest : public HeadlessTest {
protected:
    void addUnquoted(const QString& name = QStringLiteral("byid"))
    {
        writeFunction(name, functionText(name, {QStringLiteral("id")},
                                         QStringLiteral("SELECT id, label FROM items WHERE id = {:id:}")));
    }
};

TEST_F(HeadlessFolderTest, CheckReadsTheFolderItIsGiven)
{
    addUnquoted();
    // The executable of the build, not the copy in the folder: --folder names it.
    const QStringList args = {QStringLiteral("--folder"), m_prog, QStringLiteral("--check")};
    const RunResult ok = runHeadless(args);
    EXPECT_EQ(ok.code, 0) << ok.out.toStdString() << ok.err.toStdString();
    EXPECT_EQ(ok.out, (QStringLiteral("warning: ") + m_prog +
                       QStringLiteral("/QUERIES/byid.qr: input placeholders outside a quoted string, not marked \"Float | "
                                      "integer value\": {:id:} (line 1)\n"))
                          .toUtf8());
    EXPECT_FALSE(portAccepts(m_port));

    // Each problem on a line of its own, and the exit status says so.
    writeIni(true, QStringLiteral("not-the-password"));
    writeFile(m_prog + QStringLiteral("/QUERIES/broken.qr"),
              bomCrLf(QStringLiteral("<#q_count_input_values>2</#q_count_input_values>")));
    const RunResult bad = runHeadless(args);
    EXPECT_EQ(bad.code, 1);
    const QList<QByteArray> lines = bad.out.split('\n');
    ASSERT_EQ(lines.size(), 5) << bad.out.toStdString();  // three problems, the warning, the end
    EXPECT_TRUE(lines[0].startsWith("CLIENT DATA => Connect with [")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("Access denied"));
    EXPECT_TRUE(lines[1].startsWith("WORKING DATA => Connect with ["));
    EXPECT_EQ(lines[2], (m_prog + QStringLiteral("/QUERIES/broken.qr: EConvertError : '' is not a valid boolean value")).toUtf8());
    EXPECT_TRUE(lines[3].startsWith("warning: "));
}

TEST_F(HeadlessFolderTest, StartAndReloadLogTheUnquotedPlaceholdersOfEachFunction)
{
    addUnquoted();
    m_program = QStringLiteral(VELDRA_BIN_DIR "/veldra-headless");
    m_args = {QStringLiteral("--folder"), m_prog};
    startOrFail();
    const QByteArray line = "{TemplateCheck} Function [byid] : input placeholders outside a quoted string, not marked "
                            "\"Float | integer value\" : {:id:} (line 1) ";
    EXPECT_EQ(countOf(m_out, "{TemplateCheck} "), 1) << m_out.toStdString();
    EXPECT_EQ(countOf(m_out, line), 1);
    // The server's behaviour is as before: the value goes in as it stands.
    EXPECT_TRUE(get("/byid?id=2&format=json").contains("Zo"));

    // SIGHUP: a function added meanwhile is read, and the reload is logged.
    addUnquoted(QStringLiteral("second"));
    ::kill(pid_t(m_proc.processId()), SIGHUP);
    ASSERT_TRUE(pumpUntil([&] { return m_out.contains("{Reload} "); })) << m_out.toStdString();
    EXPECT_TRUE(m_out.contains("{Reload} Reloaded the client access lists (WHITE :: [0], BLACK :: [0]) and read 4 "
                               "query function files again "))
        << m_out.toStdString();
    EXPECT_EQ(countOf(m_out, line), 2);
    EXPECT_EQ(countOf(m_out, "{TemplateCheck} Function [second] "), 1);
    EXPECT_TRUE(get("/labels?format=json").startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(stopWith(SIGTERM), 0);
    expectOnlyLogLines();
}

// A datagram socket of the test's own, where the program's notifications arrive.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::memcpy(a.sun_path, p.constData(), size_t(qMin<qsizetype>(p.size(), sizeof a.sun_path - 1)));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << errno;
    }
    ~NotifySocket() { ::close(m_fd); }
    // The messages that came so far.
    QList<QByteArray> take()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0) m_got << QByteArray(buf, n);
        return m_got;
    }
    bool has(const QByteArray& part)
    {
        for (const QByteArray& m : take())
            if (m.contains(part)) return true;
        return false;
    }

private:
    QString m_path;
    int m_fd = -1;
    QList<QByteArray> m_got;
};

TEST_F(HeadlessTest, TellsTheServiceManagerAndMarksPrioritiesForTheJournal)
{
    writeFunction(QStringLiteral("broken"), functionText(QStringLiteral("broken"), {}, QStringLiteral("SELECT * FROM missing_table")));
    NotifySocket notify(m_prog + QStringLiteral("/notify.sock"));
    m_env.insert(QStringLiteral("NOTIFY_SOCKET"), m_prog + QStringLiteral("/notify.sock"));
    m_env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    stdoutToOwnPipe(true);
    m_env.insert(QStringLiteral("JOURNAL_STREAM"), ownPipeStream());
    m_whilePumping = [&] { notify.take(); };
    startOrFail();

    ASSERT_TRUE(get("/labels?format=json").startsWith("HTTP/1.1 200 OK\r\n"));
    ASSERT_TRUE(get("/nosuchfunction?format=json").startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(get("/broken?format=json"), QByteArray());  // a failed query gets no answer
    ASSERT_TRUE(pumpUntil([&] { return m_out.contains("WrongQuery"); }));
    if (service::notificationsBuiltIn()) {
        EXPECT_TRUE(pumpUntil([&] { return notify.has("WATCHDOG=1"); }));
        ::kill(pid_t(m_proc.processId()), SIGHUP);
        EXPECT_TRUE(pumpUntil([&] { return m_out.contains("{Reload} "); }));
    }
    EXPECT_EQ(stopWith(SIGTERM), 0);

    // Every line carries its priority; the stream that is not the journal carries none.
    const QList<QByteArray> lines = m_out.split('\n');
    for (const QByteArray& l : lines) {
        if (l.isEmpty()) continue;
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^<[346]>\\[")).match(QString::fromUtf8(l)).hasMatch()) << l.toStdString();
        int expected = 0;
        if (l.contains("{httpserverGetThread} Client connected ") || l.contains("Was succesful sent answer")) expected = 6;
        if (l.contains("Name request from Client not found")) expected = 4;
        if (l.contains("{_SaveQueryAS} WrongQuery !!! ") || l.contains("Query or result is wrong")) expected = 3;
        if (expected != 0) {
            EXPECT_TRUE(l.startsWith("<" + QByteArray::number(expected) + ">")) << l.toStdString();
        }
    }
    EXPECT_EQ(countOf(m_out, "<4>["), 1);
    EXPECT_GE(countOf(m_out, "<3>["), 1);
    EXPECT_TRUE(m_err.startsWith("START SERVER : ")) << m_err.toStdString();

    if (!service::notificationsBuiltIn()) return;
    const QList<QByteArray> got = notify.take();
    auto index = [&](const QByteArray& part) {
        for (qsizetype i = 0; i < got.size(); ++i)
            if (got[i].contains(part)) return i;
        return qsizetype(-1);
    };
    ASSERT_GE(index("READY=1"), 0) << QByteArrayList(got).join(" | ").toStdString();
    EXPECT_TRUE(got[index("READY=1")].contains("STATUS=START SERVER : "));
    EXPECT_GT(index("RELOADING=1"), index("READY=1"));
    EXPECT_GT(index("STOPPING=1"), index("RELOADING=1"));
}

// Sanitizers make every step slower and every allocation larger.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSanitizerSlack = 4;
#else
constexpr int kSanitizerSlack = 1;
#endif
// AddressSanitizer keeps freed blocks in a quarantine (256 MB by default) before they are
// used again, so resident memory grows by that much whatever the program holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kQuarantineKb = 256 * 1024;
#else
constexpr qint64 kQuarantineKb = 0;
#endif

TEST_F(HeadlessTest, StdoutNobodyReadsNeitherGrowsMemoryNorHoldsTheStop)
{
    stdoutToOwnPipe(false);
    startOrFail();
    auto residentKb = [&] {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_proc.processId()));
        if (!status.open(QIODevice::ReadOnly)) return qint64(-1);
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.startsWith("VmRSS:")) return l.mid(6).trimmed().split(' ').first().toLongLong();
        return qint64(-1);
    };
    // Each request logs a few kilobytes: together far more than the pipe and the buffer hold.
    const QByteArray target = "/labels?format=json&pad=" + QByteArray(2000, 'p');
    ASSERT_TRUE(get(target).startsWith("HTTP/1.1 200 OK\r\n"));
    const qint64 before = residentKb();
    const int answered = client([&] {
        int n = 0;
        for (int i = 0; i < 1000; ++i) n += httpGet(m_port, target).startsWith("HTTP/1.1 200 OK\r\n") ? 1 : 0;
        return n;
    });
    EXPECT_EQ(answered, 1000);
    const qint64 after = residentKb();
    EXPECT_LT(after - before, 32 * 1024 * kSanitizerSlack + kQuarantineKb) << before << " kB before, " << after << " kB after";

    QElapsedTimer stop;
    stop.start();
    ::kill(pid_t(m_proc.processId()), SIGTERM);
    EXPECT_TRUE(m_proc.waitForFinished(10000));
    EXPECT_LT(stop.elapsed(), 3000 * kSanitizerSlack);
    EXPECT_EQ(m_proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_proc.exitCode(), 0);

    // What was dropped is counted in one line, once the pipe is read again (it was not).
    char buf[65536];
    QByteArray out;
    ssize_t n;
    while ((n = ::read(m_stdoutRead, buf, sizeof buf)) > 0) out.append(buf, n);
    EXPECT_GT(out.size(), 0);
}

}  // namespace
