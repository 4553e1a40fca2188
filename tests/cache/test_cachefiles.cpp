// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QSet>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cache/cachefiles.h"
#include "common/cp1252.h"
#include "common/files.h"
#include "common/md5.h"
#include "server/answers.h"
#include "server/connection.h"
#include "support/cachesupport.h"
#include "support/support.h"
#include "support/outgoingsupport.h"

using namespace veldra;
using veldra::test::putBytes;

namespace {

// One of the five formats by its name in any letter case.
AnswerFormat fmt(const QString& name) { return AnswerFormat::fromName(name).value(); }

const QString kHeader = QStringLiteral("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: Keep-Alive\r\n\r\n");

QString jsonAnswer(const QString& statusText, const QString& value = QStringLiteral("Z\u00FCrich \u20AC"))
{
    return kHeader + QStringLiteral("{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"") + statusText +
           QStringLiteral("\",\r\n\t\"Data\": {\r\n\t\t\"Row\": [\r\n\t\t\t{\r\n\t\t\t\t\"city\": \"") + value +
           QStringLiteral("\"\r\n\t\t\t}\r\n\t\t]\r\n\t}\r\n}\r\n");
}

// A client connection over a socketpair; the other end is read back whole.
struct Wire {
    int peer = -1;
    std::unique_ptr<ClientConnection> conn;
    Wire()
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        conn = std::make_unique<ClientConnection>(fds[0], QStringLiteral("127.0.0.1"));
        peer = fds[1];
    }
    ~Wire()
    {
        if (peer >= 0) ::close(peer);
    }
    QByteArray received()
    {
        conn.reset();  // closes our side, so the read below ends
        QByteArray all;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(peer, buf, sizeof buf)) > 0) all.append(buf, n);
        return all;
    }
};

class CacheFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cacheRoot = dir.path() + QStringLiteral("/cache/");
        ASSERT_TRUE(QDir().mkdir(cacheRoot));
        settings.EnabledCaching = true;
        settings.PathToCache = cacheRoot;
    }
    test::CacheClient request(ClientConnection& c, const QString& name, bool testClient, const QString& format,
                              const QString& date = QString())
    {
        return test::CacheClient{{settings, name, testClient, date, fmt(format)}, c, [this](const QString& m) { logged << m; }};
    }
    QStringList cacheFiles(const QString& name) const
    {
        return QDir(cacheRoot + name).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QTemporaryDir dir;
    QString cacheRoot;
    TServerSettings settings;
    QStringList logged;
};

}  // namespace

TEST(CacheKey, AbcDigestIsUpperCaseHex)
{
    EXPECT_EQ(cache::keyBytes(QStringLiteral("abc")), QByteArray("abc"));
    EXPECT_EQ(md5Hex(cache::keyBytes(QStringLiteral("abc"))), QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
}

TEST(CacheKey, TextUpperCasesThePrefixOnlyAndMarksTheClientKind)
{
    EXPECT_EQ(cache::keyText(QStringLiteral(" sales\t"), true, fmt(QStringLiteral("json")), QStringLiteral("select a from t")),
              QStringLiteral("[SALES][-1]|[JSON]=select a from t"));
    EXPECT_EQ(cache::keyText(QStringLiteral("sales"), false, fmt(QStringLiteral("csv[;]")), QStringLiteral(" x ")),
              QStringLiteral("[SALES][0]|[CSV[;]]= x "));
    const QString q = QStringLiteral("select * from sales where year = 2020");
    EXPECT_EQ(cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("json")), q),
              md5Hex(QByteArray("[SALES][-1]|[JSON]=") + q.toLatin1()));
    // Letter case of name and format does not matter; the client kind does.
    EXPECT_EQ(cache::cacheKey(QStringLiteral("Sales"), true, fmt(QStringLiteral("JSON")), q),
              cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("json")), q));
    EXPECT_NE(cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("json")), q),
              cache::cacheKey(QStringLiteral("sales"), false, fmt(QStringLiteral("json")), q));
    EXPECT_TRUE(cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("json")), QStringLiteral(" \r\n")).isEmpty());
}

TEST(CacheKey, NonAsciiCharactersAreTheirUtf8Bytes)
{
    struct Case {
        QString text;
        QByteArray bytes;
    } cases[] = {
        {QStringLiteral("=\u00E9"), QByteArray("=\xC3\xA9")},
        {QStringLiteral("=\u0416"), QByteArray("=\xD0\x96")},
        {QStringLiteral("=\u00C3\u00A9"), QByteArray("=\xC3\x83\xC2\xA9")},
        {QStringLiteral("=\u20AC?"), QByteArray("=\xE2\x82\xAC?")},
    };
    for (const auto& c : cases) EXPECT_EQ(cache::keyBytes(c.text), c.bytes) << c.text.toStdString();
    // Texts that differ only outside ASCII, or in a "?" where another has a character
    // without a code page byte, have keys of their own.
    const QStringList values = {QStringLiteral("\u00F6"), QStringLiteral("\u00FC"), QStringLiteral("?"),
                                QStringLiteral("\u0414\u043C\u0438"), QStringLiteral("\u0416\u0436\u0436"),
                                QStringLiteral("\uFFFD")};
    QSet<QString> keys;
    for (const QString& v : values)
        keys << cache::cacheKey(QStringLiteral("f"), true, fmt(QStringLiteral("xml")), QStringLiteral("name = '") + v + u'\'');
    EXPECT_EQ(keys.size(), values.size());
}

TEST_F(CacheFiles, StoreThenLookupSendsTheAnswerByteForByte)
{
    const QString prepared = QStringLiteral("select city from t");
    struct Case {
        QString format;
        QString answer;
        bool bom;
    } cases[] = {
        {QStringLiteral("json"), jsonAnswer(QStringLiteral("test client - data is modified")), false},
        {QStringLiteral("xml"), kHeader + QStringLiteral("<Data>\r\n\t<city>\u20AC \u00FCber</city>\r\n</Data>\r\n"), false},
        {QStringLiteral("csv[;]"), kHeader + QStringLiteral("city;\r\n\u00E9t\u00E9 \u00FF\u0080;\r\n"), true},
        {QStringLiteral("TXT[TAB]"), kHeader + QStringLiteral("city\t\r\nM\u00FCnchen\t\r\n"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.toStdString());
        QString key;
        {
            Wire w;
            ASSERT_FALSE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, c.format), prepared, key, {}));
            EXPECT_TRUE(w.received().isEmpty());
        }
        ASSERT_EQ(key, cache::cacheKey(QStringLiteral("sales"), true, fmt(c.format), prepared));
        Wire w0;
        ASSERT_TRUE(test::storeText(request(*w0.conn, QStringLiteral("sales"), true, c.format), key, c.answer));

        const QByteArray file = readFileBytes(cacheRoot + QStringLiteral("sales/") + key + QStringLiteral(".cache"));
        const QByteArray utf8 = c.answer.toUtf8();
        EXPECT_EQ(file, c.bom ? QByteArray("\xEF\xBB\xBF") + utf8 : utf8);

        Wire w;
        int counted = 0;
        logged.clear();
        ASSERT_TRUE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, c.format), prepared, key,
                                         [&] { ++counted; }));
        EXPECT_EQ(w.received(), answerBytes(c.answer, fmt(c.format).encoding()));
        EXPECT_EQ(counted, 1);
        EXPECT_EQ(logged, QStringList{QStringLiteral("{ClientExecute} Data for client was sent from cache !!! ")});
    }
    // Only the cache files are left in the function folder: no temporary files.
    for (const QString& f : cacheFiles(QStringLiteral("sales"))) EXPECT_TRUE(f.endsWith(QLatin1String(".cache"))) << f.toStdString();
    EXPECT_EQ(cacheFiles(QStringLiteral("sales")).size(), 4);
}

TEST_F(CacheFiles, RegisteredClientsSeeTheirOwnEndDate)
{
    const QString prepared = QStringLiteral("select city from t");
    const QString stored = jsonAnswer(QStringLiteral("Final date of use : 31.12.2025"));
    const QString key = cache::cacheKey(QStringLiteral("sales"), false, fmt(QStringLiteral("json")), prepared);
    {
        Wire w;
        ASSERT_TRUE(test::storeText(request(*w.conn, QStringLiteral("sales"), false, QStringLiteral("json")), key, stored));
    }
    Wire w;
    QString k;
    ASSERT_TRUE(test::lookupAndSend(
        request(*w.conn, QStringLiteral("sales"), false, QStringLiteral("JSON"), QStringLiteral("30.06.2026")), prepared, k, {}));
    EXPECT_EQ(QString::fromUtf8(w.received()), jsonAnswer(QStringLiteral("Final date of use : 30.06.2026")));

    // The rewrite itself, as a cache file is served: the stored value in any letter case,
    // in the part up to and with the statusText (the rest goes from the file as it is);
    // text formats and test clients untouched; the XML form too.
    const auto served = [&](const QString& answer, const QString& format, bool testClient) {
        const QString path = cacheRoot + QStringLiteral("rewrite.cache");
        putBytes(path, (fmt(format).isText() ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + answer.toUtf8());
        const std::optional<Outgoing> out = cache::cachedAnswer(path, fmt(format), testClient, QStringLiteral("01.01.2027"));
        if (!out) return QString();
        return fmt(format).isText() ? cp1252::decode(bytesOf(*out)) : QString::fromUtf8(bytesOf(*out));
    };
    const QString cased = jsonAnswer(QStringLiteral("FINAL DATE of use : 31.12.2025"));
    EXPECT_EQ(served(cased, QStringLiteral("json"), false), jsonAnswer(QStringLiteral("Final date of use : 01.01.2027")));
    const QString twice = jsonAnswer(QStringLiteral("Final date of use : 31.12.2025"), QStringLiteral("FINAL DATE OF USE : 31.12.2025"));
    EXPECT_EQ(served(twice, QStringLiteral("json"), false),
              jsonAnswer(QStringLiteral("Final date of use : 01.01.2027"), QStringLiteral("FINAL DATE OF USE : 31.12.2025")));
    EXPECT_EQ(served(stored, QStringLiteral("json"), true), stored);
    const QString csv = kHeader + QStringLiteral("\"statusText\": \"x\",");
    EXPECT_EQ(served(csv, QStringLiteral("csv[,]"), false), csv);
    const QString xml = kHeader + QStringLiteral("<Data>\r\n\t<empty>false</empty>\r\n\t<statusText>Final date of use : 31.12.2025</statusText>\r\n</Data>\r\n");
    EXPECT_EQ(served(xml, QStringLiteral("xml"), false),
              kHeader + QStringLiteral("<Data>\r\n\t<empty>false</empty>\r\n\t<statusText>Final date of use : 01.01.2027</statusText>\r\n</Data>\r\n"));
    const QString noMarkers = kHeader + QStringLiteral("{}");
    EXPECT_EQ(served(noMarkers, QStringLiteral("json"), false), noMarkers);
}

TEST_F(CacheFiles, StoreRefusesWhatIsNotACacheableAnswer)
{
    Wire w;
    const auto r = request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json"));
    const QString key = QStringLiteral("900150983CD24FB0D6963F7D28E17F72");
    EXPECT_FALSE(test::storeText(r, key, QString()));
    EXPECT_FALSE(test::storeText(r, key, QStringLiteral(" \r\n")));
    EXPECT_FALSE(test::storeText(r, key, QStringLiteral("[nocache]") + jsonAnswer(QStringLiteral("x"))));
    EXPECT_FALSE(test::storeText(r, QString(), jsonAnswer(QStringLiteral("x"))));
    EXPECT_FALSE(QFileInfo::exists(cacheRoot + QStringLiteral("sales")));
    // Names that are not one folder inside the cache folder: nothing stored or read.
    QDir().mkdir(cacheRoot + QStringLiteral("a"));
    for (const char* name : {"a/b", "..", "."}) {
        const auto r2 = request(*w.conn, QString::fromLatin1(name), true, QStringLiteral("json"));
        EXPECT_FALSE(test::storeText(r2, key, jsonAnswer(QStringLiteral("x")))) << name;
        QString k;
        EXPECT_FALSE(test::lookupAndSend(r2, QStringLiteral("select 1"), k, {})) << name;
    }
    EXPECT_TRUE(QDir(cacheRoot + QStringLiteral("a")).isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(cacheRoot).entryList(QDir::Files), QStringList());
    // A function folder deleted while the answer is written: nothing stored, no failure.
    EXPECT_FALSE(test::writeCacheFile(cacheRoot + QStringLiteral("gone/K.cache"), "x"));
    EXPECT_FALSE(QFileInfo::exists(cacheRoot + QStringLiteral("gone")));
}

TEST_F(CacheFiles, CachingOffLeavesFilesAloneAndAMissingCacheFolderIsMadeAgain)
{
    const QString prepared = QStringLiteral("select 1");
    const QString key = cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("json")), prepared);
    const QString answer = jsonAnswer(QStringLiteral("test client - data is modified"));
    {
        Wire w;
        ASSERT_TRUE(test::storeText(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), key, answer));
    }
    const QString file = cacheRoot + QStringLiteral("sales/") + key + QStringLiteral(".cache");
    const QByteArray before = readFileBytes(file);

    settings.EnabledCaching = false;
    {
        Wire w;
        QString k;
        EXPECT_FALSE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), prepared, k, {}));
        EXPECT_FALSE(test::storeText(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), key, jsonAnswer(QStringLiteral("new"))));
        EXPECT_FALSE(test::storeText(request(*w.conn, QStringLiteral("other"), true, QStringLiteral("json")), key, answer));
        EXPECT_TRUE(w.received().isEmpty());
    }
    EXPECT_EQ(readFileBytes(file), before);
    EXPECT_FALSE(QFileInfo::exists(cacheRoot + QStringLiteral("other")));

    settings.EnabledCaching = true;
    settings.PathToCache = dir.path() + QStringLiteral("/missing/");
    {
        Wire w;
        QString k;
        EXPECT_FALSE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), prepared, k, {}));
        // the cache folder deleted by hand: the store makes it again, so caching goes on
        EXPECT_TRUE(test::storeText(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), key, answer));
        EXPECT_TRUE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), prepared, k, {}));
    }
    EXPECT_EQ(readFileBytes(dir.path() + QStringLiteral("/missing/sales/") + key + QStringLiteral(".cache")), before);
    EXPECT_EQ(readFileBytes(file), before);
}

TEST_F(CacheFiles, MissingFileOrFunctionFolderIsAMiss)
{
    Wire w;
    QString k;
    EXPECT_FALSE(test::lookupAndSend(request(*w.conn, QStringLiteral("nofolder"), true, QStringLiteral("json")),
                                      QStringLiteral("select 1"), k, {}));
    EXPECT_FALSE(k.isEmpty());
    EXPECT_FALSE(cache::cachedAnswer(cacheRoot + QStringLiteral("nofolder/x.cache"), fmt(QStringLiteral("json")), true, QString()));
}

// Identical requests at the same moment, while the answer is stored again and again:
// every one of them gets the full answer, from the cache or from "the query".
TEST_F(CacheFiles, ConcurrentIdenticalRequestsAreAllAnswered)
{
    const QString prepared = QStringLiteral("select city from t");
    QString big;
    for (int i = 0; i < 2000; ++i) big += QStringLiteral("Z\u00FCrich %1 ").arg(i);
    const QString answer = jsonAnswer(QStringLiteral("test client - data is modified"), big);
    const QByteArray expected = answer.toUtf8();

    constexpr int kClients = 16;
    std::atomic<bool> go{false};
    std::atomic<int> fromCache{0};
    std::vector<QByteArray> got(kClients);
    std::vector<QString> failures(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            try {
                for (int round = 0; round < 5; ++round) {
                    Wire w;
                    auto r = test::CacheClient{{settings, QStringLiteral("sales"), true, QString(), AnswerFormat::Json}, *w.conn, {}};
                    QString key;
                    if (test::lookupAndSend(r, prepared, key, [&] { ++fromCache; })) {
                    } else {
                        sendAnswer(*w.conn, answer, AnswerEncoding::Utf8);
                        test::storeText(r, key, answer);
                    }
                    const QByteArray bytes = w.received();
                    if (bytes != expected) got[i] = bytes;
                }
            } catch (const std::exception& e) {
                failures[i] = QString::fromUtf8(e.what());
            }
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    for (int i = 0; i < kClients; ++i) {
        EXPECT_TRUE(failures[i].isEmpty()) << failures[i].toStdString();
        EXPECT_TRUE(got[i].isEmpty()) << "client " << i << " got " << got[i].size() << " bytes";
    }
    EXPECT_GT(fromCache.load(), 0);
    EXPECT_EQ(cacheFiles(QStringLiteral("sales")).size(), 1);
}

TEST_F(CacheFiles, AnEmptyOrCutCacheFileIsAMissAndIsRemoved)
{
    const QString prepared = QStringLiteral("select 1");
    const QByteArray whole = jsonAnswer(QStringLiteral("test client - data is modified")).toUtf8();
    struct Case {
        const char* what;
        QString format;
        QByteArray file;
    } cases[] = {
        {"empty", QStringLiteral("json"), QByteArray()},
        {"cut in the header", QStringLiteral("json"), whole.left(30)},
        {"cut in the body", QStringLiteral("json"), whole.left(whole.size() - 20)},
        {"cut xml", QStringLiteral("xml"), (kHeader + QStringLiteral("<Data>\r\n\t<city>a</ci")).toUtf8()},
        {"only a byte-order mark", QStringLiteral("csv[;]"), QByteArray("\xEF\xBB\xBF")},
        {"text without its empty line", QStringLiteral("csv[;]"), QByteArray("\xEF\xBB\xBFHTTP/1.1 200 OK\r\nConnection: Ke")},
    };
    QDir().mkdir(cacheRoot + QStringLiteral("sales"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString key = cache::cacheKey(QStringLiteral("sales"), true, fmt(c.format), prepared);
        const QString path = cacheRoot + QStringLiteral("sales/") + key + QStringLiteral(".cache");
        putBytes(path, c.file);
        Wire w;
        QString k;
        EXPECT_FALSE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, c.format), prepared, k, {}));
        EXPECT_TRUE(w.received().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    // A whole one is served.
    const QString key = cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("json")), prepared);
    putBytes(cacheRoot + QStringLiteral("sales/") + key + QStringLiteral(".cache"), whole);
    Wire w;
    QString k;
    EXPECT_TRUE(test::lookupAndSend(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("json")), prepared, k, {}));
    EXPECT_EQ(w.received(), whole);
}

TEST_F(CacheFiles, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    const QString path = cacheRoot + QStringLiteral("K.cache");
    ASSERT_TRUE(test::writeCacheFile(path, "old answer"));
    // Writes past 64 KiB fail with EFBIG, as on a full disk.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &before);
    rlimit limit{}, saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    bool threw = false;
    try {
        test::writeCacheFile(path, QByteArray(200 * 1024, 'x'));
    } catch (const FileError& e) {
        threw = true;
        EXPECT_TRUE(e.message().contains(path)) << e.message().toStdString();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &before, nullptr);
    EXPECT_TRUE(threw);
    EXPECT_EQ(readFileBytes(path), "old answer");
    EXPECT_EQ(QDir(cacheRoot).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("K.cache")});
}

TEST_F(CacheFiles, LargeAnswersGoFromTheirFileByteForByte)
{
    const QString prepared = QStringLiteral("select city from t");
    QString rows;
    for (int i = 0; i < 80000; ++i) rows += QStringLiteral("\r\n\t\t\t,{\"city\": \"Z\u00FCrich %1\"}").arg(i);
    const QString stored = jsonAnswer(QStringLiteral("Final date of use : 31.12.2025"), rows);
    ASSERT_GT(stored.toUtf8().size(), 2 * AnswerSpool::kMemoryLimit);

    // A fresh answer written into an unnamed file of the function folder becomes the
    // cache file itself.
    QDir().mkdir(cacheRoot + QStringLiteral("sales"));
    WireAnswer fresh;
    AnswerSpool spool(cacheRoot + QStringLiteral("sales"));
    spool.append(stored.toUtf8());
    ASSERT_TRUE(spool.inFile());
    fresh.fileFolder = spool.folder();
    fresh.wire = spool.take();
    fresh.cacheable = true;
    const QString key = cache::cacheKey(QStringLiteral("sales"), false, fmt(QStringLiteral("json")), prepared);
    Wire w;
    ASSERT_TRUE(cache::store(request(*w.conn, QStringLiteral("sales"), false, QStringLiteral("json")), key, fresh));
    const QString path = cacheRoot + QStringLiteral("sales/") + key + QStringLiteral(".cache");
    EXPECT_EQ(readFileBytes(path), stored.toUtf8());
    EXPECT_EQ(cacheFiles(QStringLiteral("sales")), QStringList{key + QStringLiteral(".cache")});

    // Sent from the file: a registered client's statusText in front, the rest as stored.
    const std::optional<Outgoing> registered =
        cache::cachedAnswer(path, fmt(QStringLiteral("json")), false, QStringLiteral("30.06.2026"));
    ASSERT_TRUE(registered);
    EXPECT_TRUE(registered->file);
    EXPECT_LT(registered->bytes.size(), 1024);
    EXPECT_EQ(bytesOf(*registered), jsonAnswer(QStringLiteral("Final date of use : 30.06.2026"), rows).toUtf8());
    const std::optional<Outgoing> test = cache::cachedAnswer(path, fmt(QStringLiteral("json")), true, QString());
    ASSERT_TRUE(test);
    EXPECT_TRUE(test->bytes.isEmpty());
    EXPECT_EQ(bytesOf(*test), stored.toUtf8());

    // A large text-format answer: its file holds the text in UTF-8, the wire its bytes.
    const QString csv = kHeader + QStringLiteral("\u00EF\u00BB\u00BF") + rows;
    const QString csvKey = cache::cacheKey(QStringLiteral("sales"), true, fmt(QStringLiteral("csv[;]")), prepared);
    ASSERT_TRUE(test::storeText(request(*w.conn, QStringLiteral("sales"), true, QStringLiteral("csv[;]")), csvKey, csv));
    const std::optional<Outgoing> text = cache::cachedAnswer(cacheRoot + QStringLiteral("sales/") + csvKey + QStringLiteral(".cache"),
                                                             fmt(QStringLiteral("csv[;]")), true, QString());
    ASSERT_TRUE(text);
    EXPECT_TRUE(bytesOf(*text) == answerBytes(csv, AnswerEncoding::SingleByte));
}
