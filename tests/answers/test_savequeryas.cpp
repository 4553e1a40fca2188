// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <thread>

#include "answers/savequeryas.h"
#include "common/cp1252.h"
#include "common/eventlog.h"
#include "common/files.h"
#include "db/dbtestutil.h"
#include "server/answers.h"
#include "server/failurereporter.h"
#include "server/requeststeps.h"
#include "server/servercontext.h"
#include "server/connection.h"
#include "server/requestparser.h"

#include <sys/socket.h>
#include <unistd.h>
#include "support/support.h"
#include "support/outgoingsupport.h"

using namespace veldra;
using namespace veldra::test;
using namespace veldra::test;

namespace {

QString params(const QStringList& values)
{
    QString s;
    for (int i = 0; i < values.size(); ++i) {
        const QString n = QString::number(i + 1);
        s += QStringLiteral("<name[%1]>p%1</name[%1]><value[%1]>%2</value[%1]>\r\n").arg(n, values[i]);
    }
    return s + QStringLiteral("<paramcount>%1</paramcount>").arg(values.size());
}

Request registered(const QString& name = QStringLiteral("sales"))
{
    Request r;
    r.testClient = false;
    r.dateActive = QStringLiteral("31.12.2025");
    r.name = name;
    r.parameters = params({});
    r.format = AnswerFormat::Json;
    r.address = QStringLiteral("10.1.2.3");
    r.handle = 77;
    return r;
}

// The header part and the body part of an answer text.
std::pair<QString, QString> split(const QString& answer)
{
    const qsizetype at = answer.indexOf(QStringLiteral("\r\n\r\n"));
    return {answer.left(at + 2), answer.mid(at + 4)};
}

QString textHead(const QString& contentType, const QString& file, bool empty = false)
{
    return (empty ? QStringLiteral("[nocache]") : QString()) + QStringLiteral("HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\n") +
           QStringLiteral("Content-Type: ") + contentType + QStringLiteral("; charset=utf-8\r\n") +
           QStringLiteral("Content-Disposition: attachment;Filename=\"") + file +
           QStringLiteral("\"\r\nContent-Transfer-Encoding: binary\r\n");
}

QString markupHead(const QString& contentType, bool empty = false)
{
    return (empty ? QStringLiteral("[nocache]") : QString()) + QStringLiteral("HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\n") +
           QStringLiteral("Content-Type: ") + contentType + QStringLiteral("; charset=utf-8\r\n");
}

// A markup answer's body must parse with a standard parser; returns the answer.
QString parsed(const QString& answer)
{
    const QString body = split(answer).second;
    const QByteArray bytes = answerBytes(body, AnswerEncoding::Utf8);
    if (body.startsWith(u'{')) {
        QJsonParseError err;
        QJsonDocument::fromJson(bytes, &err);
        EXPECT_EQ(err.error, QJsonParseError::NoError) << body.toStdString();
    } else {
        QXmlStreamReader reader(bytes);
        while (!reader.atEnd()) reader.readNext();
        EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString() << "\n" << body.toStdString();
    }
    return answer;
}

// The body of a text-format answer as the bytes the client receives.
QByteArray textBodyBytes(const QString& answer) { return cp1252::encode(split(answer).second); }

class SaveQueryAs : public ::testing::Test {
protected:
    void SetUp() override
    {
        VELDRA_REQUIRE_DATABASE(db);
        m_db = std::make_unique<ScratchDatabase>(db, QStringLiteral("veldra_t_ans"));
        m_db->exec(QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(100)) CHARSET utf8mb4"));
        EventLog::instance().clear();
    }
    const DbParams& work() const { return m_db->params(); }
    QStringList log() const { return EventLog::instance().lines(); }

    std::unique_ptr<ScratchDatabase> m_db;
    QTemporaryDir m_spool;
};

}  // namespace

TEST(SaveQueryAsHelpers, CutValueForTestClient)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"abc", "ab..."}, {"abcdefghij", "abcdefgh..."}, {"ab", "ab"}, {"", ""}, {"   ", "   "}, {" abc ", " abc..."}};
    for (const auto& c : cases) {
        EXPECT_EQ(CutValueForTestClient(QString::fromUtf8(c.in), true), QString::fromUtf8(c.out)) << c.in;
        EXPECT_EQ(CutValueForTestClient(QString::fromUtf8(c.in), false), QString::fromUtf8(c.in));
    }
}

TEST(SaveQueryAsHelpers, ListValuesForFileName)
{
    const QString mail = QStringLiteral("a@b.c");
    EXPECT_EQ(ListValuesForFileName(params({"", "2020", ""}), mail, QStringLiteral("x9")), QStringLiteral("[2020;]"));
    EXPECT_EQ(ListValuesForFileName(params({"2020", "A@B.C", "EU"}), mail, QStringLiteral("x9")), QStringLiteral("[2020;;EU]"));
    EXPECT_EQ(ListValuesForFileName(params({"2020", "x9", "eu"}), QString(), QStringLiteral("X9")), QStringLiteral("[2020;;eu]"));
    EXPECT_EQ(ListValuesForFileName(params({}), mail, QString()), QString());
    EXPECT_EQ(ListValuesForFileName(QStringLiteral("<value[1]>v</value[1]><paramcount>x</paramcount>"), QString(), QString()),
              QString());
    // A count that a client wrote into a parameter name adds no places beyond the list's own.
    const QString forged = QStringLiteral("<name[1]><paramcount>999999999</paramcount></name[1]><value[1]>1</value[1]>\r\n"
                                          "<name[2]>b</name[2]><value[2]>2</value[2]><paramcount>2</paramcount>");
    EXPECT_EQ(ListValuesForFileName(forged, QString(), QString()), QStringLiteral("[1;2]"));
}

TEST(SaveQueryAsHelpers, Escapes)
{
    EXPECT_EQ(DoubleQuotesForCsv(QStringLiteral("a\"b\"\\")), QStringLiteral("a\"\"b\"\"\\"));

    EXPECT_EQ(EscapeQuotesForJson(QString::fromUtf8("q\" b\\ \b\f\n\r\t \x01\x1f é😀/")),
              QString::fromUtf8("q\\\" b\\\\ \\b\\f\\n\\r\\t \\u0001\\u001f é😀/"));

    QString nasty = QString::fromUtf8("\"&<>\\' é\xC2\xA0\xC3\xBF Ā\t\n\r\x01") + QChar(0xFFFE) + QChar(0xFFFF) +
                    QChar(0xD800) + u'x' + QChar(0xDC00) + QString::fromUtf8("😀");
    EXPECT_EQ(EscapeTextForXml(nasty), QString::fromUtf8("&quot;&amp;&lt;&gt;&#92;' &#233;&#160;&#255; Ā\t\n\r\uFFFD\uFFFD\uFFFD"
                                                         "\uFFFDx\uFFFD😀"));

    const struct {
        const char* in;
        const char* out;
    } names[] = {{"id", "id"},          {"Name_2.x-y", "Name_2.x-y"}, {"_a", "_a"}, {"1abc", "_1abc"}, {"my col", "my_col"},
                 {"", "_"},             {"a:b", "a_b"},               {"-x", "_-x"}, {"é", "é"},       {"COUNT(*)", "COUNT___"},
                 {"<a>", "__a_"},       {"日本", "日本"}};
    for (const auto& n : names) EXPECT_EQ(XmlNameForColumn(QString::fromUtf8(n.in)), QString::fromUtf8(n.out)) << n.in;
}

TEST_F(SaveQueryAs, OneRowInEveryFormat)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (1, 'A')"));
    Request r = registered();
    r.parameters = params({"2020", "EU"});
    const QString q = QStringLiteral("SELECT id, name FROM t");

    QString a = _SaveQueryAS(r, q, QStringLiteral("CSV[;]"), work());
    EXPECT_EQ(split(a).first, textHead(QStringLiteral("application/octet-stream"), QStringLiteral("sales---[2020;EU].csv")));
    EXPECT_EQ(textBodyBytes(a), QByteArray("\xEF\xBB\xBF\"id\";\"name\"\r\n\"1\";\"A\""));

    a = _SaveQueryAS(r, q, QStringLiteral("csv[,]"), work());
    EXPECT_EQ(split(a).first, textHead(QStringLiteral("application/vnd.ms-excel"), QStringLiteral("sales---[2020;EU].csv")));
    EXPECT_EQ(textBodyBytes(a), QByteArray("\xEF\xBB\xBF\"id\",\"name\"\r\n\"1\",\"A\""));

    a = _SaveQueryAS(r, q, QStringLiteral("Txt[Tab]"), work());
    EXPECT_EQ(split(a).first, textHead(QStringLiteral("application/vnd.ms-excel"), QStringLiteral("sales---[2020;EU].txt")));
    EXPECT_EQ(textBodyBytes(a), QByteArray("\xEF\xBB\xBF\"id\"\t\"name\"\r\n\"1\"\t\"A\""));

    EXPECT_EQ(parsed(_SaveQueryAS(r, q, QStringLiteral("xml"), work())),
              markupHead(QStringLiteral("application/xml")) +
                  QStringLiteral("\r\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>false</empty>\r\n"
                                 "\t<statusText>Final date of use : 31.12.2025</statusText>\r\n\t<Row>\r\n\t\t<id>1</id>\r\n"
                                 "\t\t<name>A</name>\r\n\t</Row>\r\n</Data>"));
    EXPECT_EQ(parsed(_SaveQueryAS(r, q, QStringLiteral("JSON"), work())),
              markupHead(QStringLiteral("application/json")) +
                  QStringLiteral("\r\n{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"Final date of use : 31.12.2025\",\r\n"
                                 "\t\"Data\": {\r\n\t\t\"Row\": [\r\n\t\t\t{\r\n\t\t\t\t\"id\": \"1\",\r\n\t\t\t\t\"name\": \"A\"\r\n"
                                 "\t\t\t}\r\n\t\t]\r\n\t}\r\n}"));
    EXPECT_TRUE(log().isEmpty());
}

TEST_F(SaveQueryAs, ParameterValuesCannotBreakTheHeaderLines)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (1, 'A')"));
    Request r = registered();
    r.parameters = params({"a\r\nX-Evil: 1", "q\"x\x01"});
    for (const char* format : {"csv[;]", "txt[tab]"}) {
        const QString head = split(_SaveQueryAS(r, QStringLiteral("SELECT * FROM t"), QString::fromLatin1(format), work())).first;
        EXPECT_TRUE(head.contains(QStringLiteral("Filename=\"sales---[a__X-Evil: 1;q_x_].")));
        EXPECT_EQ(head.count(QStringLiteral("\r\n")), 5);
    }
}

TEST_F(SaveQueryAs, SeveralRowsForATestClient)
{
    m_db->exec(QString::fromUtf8("INSERT INTO t VALUES (1, 'abcdefghij'), (22, 'ab'), (333, 'é\"x\\\\')"));
    Request r = registered();
    r.testClient = true;
    // Every value is cut, numbers included; names never are.
    const QString q = QStringLiteral("SELECT id, name AS long_column_name FROM t ORDER BY id");

    EXPECT_EQ(textBodyBytes(_SaveQueryAS(r, q, QStringLiteral("csv[;]"), work())),
              QByteArray("\xEF\xBB\xBF\"id\";\"long_column_name\"\r\n\"1\";\"abcdefgh...\"\r\n\"22\";\"ab\"\r\n"
                         "\"33...\";\"") + QString::fromUtf8("é\"\"x...\"").toUtf8());
    EXPECT_EQ(split(parsed(_SaveQueryAS(r, q, QStringLiteral("json"), work()))).second,
              QString::fromUtf8("{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"test client - data is modified\",\r\n"
                                "\t\"Data\": {\r\n\t\t\"Row\": [\r\n"
                                "\t\t\t{\r\n\t\t\t\t\"id\": \"1\",\r\n\t\t\t\t\"long_column_name\": \"abcdefgh...\"\r\n\t\t\t}\r\n"
                                "\t\t\t,{\r\n\t\t\t\t\"id\": \"22\",\r\n\t\t\t\t\"long_column_name\": \"ab\"\r\n\t\t\t}\r\n"
                                "\t\t\t,{\r\n\t\t\t\t\"id\": \"33...\",\r\n\t\t\t\t\"long_column_name\": \"é\\\"x...\"\r\n\t\t\t}\r\n"
                                "\t\t]\r\n\t}\r\n}"));
    const QString xml = split(parsed(_SaveQueryAS(r, q, QStringLiteral("xml"), work()))).second;
    EXPECT_TRUE(xml.contains(QStringLiteral("\t<statusText>test client - data is modified</statusText>\r\n")));
    EXPECT_TRUE(xml.contains(QStringLiteral("\t\t<long_column_name>&#233;&quot;x...</long_column_name>")));
}

TEST_F(SaveQueryAs, EmptyResultInEveryFormat)
{
    Request r = registered();
    const QString q = QStringLiteral("SELECT * FROM t");
    const QString textBody = QStringLiteral("Result query is empty\r\nFinal date of use : 31.12.2025");
    EXPECT_EQ(_SaveQueryAS(r, q, QStringLiteral("txt[tab]"), work()),
              textHead(QStringLiteral("application/vnd.ms-excel"), QStringLiteral("sales.txt"), true) + QStringLiteral("\r\n") + textBody);
    EXPECT_EQ(_SaveQueryAS(r, q, QStringLiteral("csv[,]"), work()),
              textHead(QStringLiteral("application/vnd.ms-excel"), QStringLiteral("sales---.csv"), true) + QStringLiteral("\r\n") + textBody);
    EXPECT_EQ(_SaveQueryAS(r, q, QStringLiteral("csv[;]"), work()),
              textHead(QStringLiteral("application/octet-stream"), QStringLiteral("sales---.csv"), true) + QStringLiteral("\r\n") + textBody);
    r.testClient = true;
    EXPECT_EQ(parsed(_SaveQueryAS(r, q, QStringLiteral("xml"), work())),
              markupHead(QStringLiteral("application/xml"), true) +
                  QStringLiteral("\r\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>true</empty>\r\n"
                                 "\t<statusText>test client - data is modified</statusText>\r\n</Data>"));
    EXPECT_EQ(parsed(_SaveQueryAS(r, q, QStringLiteral("json"), work())),
              markupHead(QStringLiteral("application/json"), true) +
                  QStringLiteral("\r\n{\r\n\t\"empty\": \"true\",\r\n\t\"statusText\": \"test client - data is modified\"\r\n}"));
    const QStringList lines = log();
    ASSERT_EQ(lines.size(), 5);
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith(u'['));
        EXPECT_TRUE(line.endsWith(QStringLiteral("] \t{_SaveQueryAS} Result query is empty !!! \tIP [10.1.2.3] \tSocketHandle [77]")))
            << line.toStdString();
    }
}

TEST_F(SaveQueryAs, FailedQueriesGiveNoAnswer)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (1, 'A')"));
    const Request r = registered();
    EXPECT_EQ(_SaveQueryAS(r, QStringLiteral("SELECT * FROM nope"), QStringLiteral("json"), work()), QString());
    // An UPDATE runs, then has no rows to answer with.
    EXPECT_EQ(_SaveQueryAS(r, QStringLiteral("UPDATE t SET name = \"B\""), QStringLiteral("csv[;]"), work()), QString());
    auto check = m_db->admin().openBuffered(QStringLiteral("SELECT name FROM t"));
    ASSERT_TRUE(check->next());
    EXPECT_EQ(check->value(0), QStringLiteral("B"));
    check.reset();
    DbParams bad = work();
    bad.password = QStringLiteral("wrong");
    EXPECT_EQ(_SaveQueryAS(r, QStringLiteral("SELECT 1"), QStringLiteral("xml"), bad), QString());

    const QStringList lines = log();
    ASSERT_EQ(lines.size(), 3);
    const QString head = QStringLiteral("] \t{_SaveQueryAS} WrongQuery !!! \tIP [10.1.2.3] \tSocketHandle [77] \t");
    EXPECT_TRUE(lines[0].endsWith(head + QStringLiteral("Query [SELECT * FROM nope] Error|msg = [EMySqlException : "
                                                       "Table 'veldra_t_ans.nope' doesn't exist] ")))
        << lines[0].toStdString();
    // Double quotes are taken out of the error text, not out of the query.
    EXPECT_TRUE(lines[1].endsWith(head + QStringLiteral("Query [UPDATE t SET name = \"B\"] Error|msg = [EDatabaseError : "
                                                       "Query returned no result set] ")))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral("Error|msg = [EMySqlException : Access denied for user"))) << lines[2].toStdString();

    // A query over several lines (or a value with line breaks) stays on one log line.
    EXPECT_EQ(_SaveQueryAS(r, QStringLiteral("SELECT *\r\nFROM nope\nWHERE 1"), QStringLiteral("json"), work()), QString());
    ASSERT_EQ(log().size(), 4);
    EXPECT_TRUE(log()[3].contains(QStringLiteral("Query [SELECT *  FROM nope WHERE 1] Error|msg = [EMySqlException : ")))
        << log()[3].toStdString();
}

TEST_F(SaveQueryAs, ARequestWithoutAFormatGivesNoAnswer)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (1, 'A')"));
    // "j\u017Fon" upper-cases to JSON, but is no format name: the request has no format.
    for (const QString& format : {QString::fromUtf8("j\u017Fon"), QStringLiteral("html")})
        EXPECT_EQ(_SaveQueryAS(registered(), QStringLiteral("SELECT * FROM t"), format, work()), QString()) << format.toStdString();
    Request none = registered();
    none.format.reset();
    EXPECT_TRUE(SaveQueryAnswer(none, QStringLiteral("SELECT * FROM t"), work()).failed());
    const QStringList lines = log();
    ASSERT_EQ(lines.size(), 3);
    for (const QString& line : lines)
        EXPECT_TRUE(line.endsWith(QStringLiteral("Query [SELECT * FROM t] Error|msg = [EArgumentException : Unknown answer format] ")))
            << line.toStdString();
}

TEST_F(SaveQueryAs, AConnectionLostDuringTheQueryFailsIt)
{
    const DbParams p = work();
    const QString q = QStringLiteral("SELECT SLEEP(10) AS s");
    auto answer = std::async(std::launch::async, [p, q] { return _SaveQueryAS(registered(), q, QStringLiteral("json"), p); });
    QString id;
    for (int i = 0; i < 2000 && id.isEmpty(); ++i) {
        auto r = m_db->admin().openBuffered(
            QStringLiteral("SELECT id FROM information_schema.processlist WHERE info = '%1'").arg(q));
        if (r->next())
            id = r->value(0);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(id.isEmpty());
    m_db->exec(QStringLiteral("KILL %1").arg(id));
    mainthread::serveUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    // Not run a second time on a new connection: the request gets no answer.
    EXPECT_EQ(answer.get(), QString());
    ASSERT_EQ(log().size(), 1);
    EXPECT_TRUE(log()[0].contains(QStringLiteral("{_SaveQueryAS} WrongQuery !!! "))) << log()[0].toStdString();
}

TEST_F(SaveQueryAs, ValueTextsAndNastyValuesParseAndRoundTrip)
{
    m_db->exec(QStringLiteral("CREATE TABLE v (d DATE, dt DATETIME, amount DECIMAL(10,2), n VARCHAR(10), txt TEXT) CHARSET utf8mb4"));
    const QString nasty = QString::fromUtf8("q\" b\\ <tag> & 'apos' \t line\nnext\r\nend \x01\x1f é ÿ Ā 日本 😀");
    DbConnection setup(work());
    setup.connect();
    // The nasty text travels as hex so that nothing in it needs quoting here.
    setup.execute(QStringLiteral("INSERT INTO v VALUES ('2025-12-31', '2024-02-29 13:45:07', 12.50, NULL, CONVERT(X'%1' USING utf8mb4))")
                      .arg(QString::fromLatin1(nasty.toUtf8().toHex())));
    Request r = registered();
    const QString q = QStringLiteral("SELECT d, dt, amount, n, txt, txt AS `odd \"name\\`, 1 AS `1st col`, 'x' AS `a:b` FROM v");
    const QStringList expected = {"31.12.2025", "29.02.2024 13:45:07", "12.50", "", nasty, nasty, "1", "x"};

    const QString json = split(_SaveQueryAS(r, q, QStringLiteral("json"), work())).second;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(answerBytes(json, AnswerEncoding::Utf8), &err);
    ASSERT_EQ(err.error, QJsonParseError::NoError) << err.errorString().toStdString() << "\n" << json.toStdString();
    EXPECT_EQ(doc.object().value("statusText").toString(), QStringLiteral("Final date of use : 31.12.2025"));
    const QJsonObject row = doc.object().value("Data").toObject().value("Row").toArray().at(0).toObject();
    const QStringList keys = {"d", "dt", "amount", "n", "txt", "odd \"name\\", "1st col", "a:b"};
    for (int i = 0; i < keys.size(); ++i) EXPECT_EQ(row.value(keys[i]).toString(), expected[i]) << keys[i].toStdString();

    const QString xml = split(_SaveQueryAS(r, q, QStringLiteral("xml"), work())).second;
    QXmlStreamReader reader(answerBytes(xml, AnswerEncoding::Utf8));
    QStringList names, texts;
    int depth = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && ++depth == 3) {
            names << reader.name().toString();
            texts << reader.readElementText();
            --depth;
        } else if (reader.isEndElement()) {
            --depth;
        }
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString() << "\n" << xml.toStdString();
    EXPECT_EQ(names, QStringList({"d", "dt", "amount", "n", "txt", "odd__name_", "_1st_col", "a_b"}));
    // XML turns the controls it forbids into U+FFFD, and line ends into LF.
    QString xmlNasty = nasty;
    xmlNasty.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar(0x01), QChar(0xFFFD)).replace(QChar(0x1f), QChar(0xFFFD));
    QStringList xmlExpected = expected;
    xmlExpected[4] = xmlExpected[5] = xmlNasty;
    EXPECT_EQ(texts, xmlExpected);
}

TEST_F(SaveQueryAs, ACutThroughACharacterStillParses)
{
    m_db->exec(QString::fromUtf8("INSERT INTO t VALUES (1, 'a😀')"));  // three UTF-16 units, cut after two
    Request r = registered();
    r.testClient = true;
    const QByteArray json = answerBytes(split(_SaveQueryAS(r, QStringLiteral("SELECT name FROM t"), QStringLiteral("json"), work())).second,
                                        AnswerEncoding::Utf8);
    EXPECT_TRUE(isValidUtf8(json));
    QJsonParseError err;
    QJsonDocument::fromJson(json, &err);
    EXPECT_EQ(err.error, QJsonParseError::NoError);
    const QString xml = split(_SaveQueryAS(r, QStringLiteral("SELECT name FROM t"), QStringLiteral("xml"), work())).second;
    EXPECT_TRUE(xml.contains(QString::fromUtf8("<name>a\uFFFD...</name>")));
}

TEST_F(SaveQueryAs, RunsInRequestThreadsSideBySide)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (5, 'E'), (6, 'F')"));
    const DbParams p = work();
    std::vector<std::future<QString>> answers;
    for (int i = 0; i < 4; ++i)
        answers.push_back(std::async(std::launch::async, [p, i] {
            QString all;
            for (int k = 0; k < 5; ++k)
                all += _SaveQueryAS(registered(), QStringLiteral("SELECT name FROM t WHERE id = %1").arg(4 + (i + k) % 3),
                                    QStringLiteral("xml"), p);
            return all;
        }));
    mainthread::serveUntil([&] {
        for (auto& a : answers)
            if (a.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
        return true;
    });
    int rows = 0;
    for (auto& a : answers) rows += int(a.get().count(QStringLiteral("<Row>")));
    // ids 4, 5, 6 in turn: the one without a row is logged as empty.
    EXPECT_EQ(rows + int(log().size()), 20);
    EXPECT_GT(rows, 0);
}

TEST_F(SaveQueryAs, RunsInARequestThread)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (5, 'E')"));
    const DbParams p = work();
    const QString answer = inWorker([p] {
        Request r = registered();
        QString a = _SaveQueryAS(r, QStringLiteral("SELECT * FROM t WHERE id = 6"), QStringLiteral("json"), p);
        return a + _SaveQueryAS(r, QStringLiteral("SELECT name FROM t"), QStringLiteral("xml"), p);
    });
    EXPECT_TRUE(answer.startsWith(QStringLiteral("[nocache]HTTP/1.1 200 OK\r\n")));
    EXPECT_TRUE(answer.contains(QStringLiteral("<name>E</name>")));
    ASSERT_EQ(log().size(), 1);
    EXPECT_TRUE(log()[0].contains(QStringLiteral("{_SaveQueryAS} Result query is empty !!! ")));
}

namespace {


}  // namespace

TEST_F(SaveQueryAs, ReadsTheParsedRequest)
{
    m_db->exec(QStringLiteral("INSERT INTO t VALUES (1, 'abc')"));
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto connection = std::make_shared<ClientConnection>(fds[0], QStringLiteral("192.168.7.8"));
    ::close(fds[1]);
    Request request = ParseRequest(QStringLiteral("GET /fn?p1=x%40y.z&p2=7&email=X@y.z HTTP/1.1"),
                                   RequestDefaults{AnswerFormat::TxtTab, QStringLiteral("08.03.2024"),
                                                   connection->peerAddress(), connection->handle()});
    request.parameters = params({"x@y.z", "7"});

    const QString a = _SaveQueryAS(request, QStringLiteral("SELECT name FROM t"), work());
    EXPECT_EQ(split(a).first, textHead(QStringLiteral("application/vnd.ms-excel"), QStringLiteral("fn---[;7].txt")));
    EXPECT_EQ(textBodyBytes(a), QByteArray("\xEF\xBB\xBF\"name\"\r\n\"ab...\""));
    EXPECT_EQ(_SaveQueryAS(request, QStringLiteral("SELECT nothing"), work()), QString());
    ASSERT_EQ(log().size(), 1);
    EXPECT_TRUE(log()[0].contains(QStringLiteral("\tIP [192.168.7.8] \tSocketHandle [%1] \tQuery [SELECT nothing]").arg(connection->handle())))
        << log()[0].toStdString();
}

TEST_F(SaveQueryAs, LargeAnswersGoOnIntoAFileByteForByte)
{
    const Request r = registered();
    // 150,000 rows (10 MB): past what an answer keeps in memory, so the answer is a file.
    const QString q = QStringLiteral("SELECT seq AS n, REPEAT('\u00E9', 10) AS v FROM seq_1_to_150000");
    const WireAnswer answer = SaveQueryAnswer(r, q, work(), nullptr, m_spool.path());
    ASSERT_TRUE(answer.wire.file);
    EXPECT_TRUE(answer.wire.bytes.isEmpty());
    EXPECT_EQ(answer.fileFolder, m_spool.path());
    EXPECT_TRUE(answer.cacheable);
    QByteArray expected = markupHead(QStringLiteral("application/json")).toUtf8() +
                          "\r\n{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"Final date of use : 31.12.2025\",\r\n"
                          "\t\"Data\": {\r\n\t\t\"Row\": [";
    const QByteArray v = QStringLiteral("\u00E9").repeated(10).toUtf8();
    for (int i = 1; i <= 150000; ++i)
        expected += QByteArray(i == 1 ? "\r\n\t\t\t{" : "\r\n\t\t\t,{") + "\r\n\t\t\t\t\"n\": \"" + QByteArray::number(i) +
                    "\",\r\n\t\t\t\t\"v\": \"" + v + "\"\r\n\t\t\t}";
    expected += "\r\n\t\t]\r\n\t}\r\n}";
    ASSERT_GT(expected.size(), AnswerSpool::kLargeMemoryLimit);
    EXPECT_TRUE(bytesOf(answer.wire) == expected) << answer.wire.size() << " bytes, expected " << expected.size();

    // A failure once the answer is in its file is a failed query: nothing to send.
    const WireAnswer failed = SaveQueryAnswer(
        r, QStringLiteral("SELECT seq, IF(seq < 140000, REPEAT('x', 50), (SELECT 1 UNION SELECT 2)) AS v FROM seq_1_to_150000"),
        work(), nullptr, m_spool.path());
    EXPECT_TRUE(failed.failed());
    EXPECT_TRUE(log().last().contains(QStringLiteral("{_SaveQueryAS} WrongQuery !!! "))) << log().last().toStdString();
    EXPECT_TRUE(QDir(m_spool.path()).isEmpty());
}
