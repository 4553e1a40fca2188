// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QUrl>

#include "server/connection.h"
#include "server/failurereporter.h"
#include "server/requestparser.h"
#include "server/requeststeps.h"
#include "server/servercontext.h"
#include "server/tserverthread.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QString line(int i, const QString& name, const QString& value)
{
    const QString n = QString::number(i);
    return QStringLiteral("<name[%1]>%2</name[%1]><value[%1]>%3</value[%1]>").arg(n, name, value);
}

QString list(const QStringList& lines)
{
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("<paramcount>%1</paramcount>").arg(lines.size());
}


// A request parsed with the defaults of settings in JSON.
class ParseRequestTest : public ::testing::Test {
protected:
    static Request parse(const QString& text)
    {
        return ParseRequest(text, RequestDefaults{AnswerFormat::Json, QStringLiteral("08.03.2024"), QStringLiteral("127.0.0.1"), 7});
    }
};

// The format's name, empty without one.
QString formatName(const Request& r) { return r.format ? r.format->name() : QString(); }

}  // namespace

TEST(ParseQueryParameters, Items)
{
    struct Case {
        const char* target;
        QString expected;
    };
    const Case cases[] = {
        {"/sales", QStringLiteral("<paramcount>0</paramcount>")},
        {"/sales?", QStringLiteral("<paramcount>0</paramcount>")},
        {"/sales?year=2020&format=xml", list({line(1, "year", "2020"), line(2, "format", "xml")})},
        {"/s?a=1&&b", list({line(1, "a", "1"), line(2, "", ""), line(3, "", "b")})},
        {"/s?&a=1&", list({line(1, "", ""), line(2, "a", "1"), line(3, "", "")})},
        {"/s?&", list({line(1, "", ""), line(2, "", "")})},
        {"/s?Year%20From=1", list({line(1, "year from", "1")})},
        {"/s?a+b=c%2Bd", list({line(1, "a b", "c+d")})},
        {"/s?x=a=b", list({line(1, "x", "a=b")})},
        {"/s?x= 1 ", list({line(1, "x", " 1 ")})},
        {"/s?x=%C3%A9", list({line(1, "x", QStringLiteral(u"\u00e9"))})},
        {"/s?x=%E9", list({line(1, "x", QStringLiteral(u"\ufffd"))})},
        {"/s?x=%2541", list({line(1, "x", "%41")})},
        {"/s?x=100%%", list({line(1, "x", "100%")})},
        {"/s?x=1#frag&y=2", list({line(1, "x", "1#frag"), line(2, "y", "2")})},
        {"/s?x=a://b", QStringLiteral("<paramcount>0</paramcount>")},
        {"/s\\x?a\\b=1", list({line(1, "a/b", "1")})},
        {"/s?x=%0D%0A<b>&y=%26lt;", list({line(1, "x", "\r\n&lt;b>"), line(2, "y", "&amp;lt;")})},
        // Quoted items: doubled quotes, an unclosed quote, characters after the closing quote.
        {"/s?\"a&b=1\"&c=2", list({line(1, "a&amp;b", "1"), line(2, "c", "2")})},
        {"/s?\"x=say \"\"hi\"\"\"", list({line(1, "x", "say \"hi\"")})},
        {"/s?\"x=1&y=2", list({line(1, "x", "1&amp;y=2")})},
        {"/s?\"x=1\"z&y", list({line(1, "x", "1"), line(2, "", "z"), line(3, "", "y")})},
        {"/s?\"x=1\"&", list({line(1, "x", "1"), line(2, "", "")})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseQueryParameters(QString::fromUtf8(c.target)), c.expected) << c.target;
}

TEST(ParseQueryParameters, LiteralNonAsciiCharacterIsNotUtf8)
{
    // é as the request's byte E9 (one character per byte) is not valid UTF-8.
    EXPECT_EQ(ParseQueryParameters(QStringLiteral(u"/s?x=\u00e9")), list({line(1, "x", QStringLiteral(u"\ufffd"))}));
    // Characters without a Windows-1252 code become "?" before decoding.
    EXPECT_EQ(ParseQueryParameters(QStringLiteral(u"/s?x=\u4e2d")), list({line(1, "x", "?")}));
}

TEST(PercentDecode, Table)
{
    struct Case {
        QByteArray in, out;
    };
    const Case cases[] = {
        {"", ""},         {"abc", "abc"},   {"a+b", "a b"}, {"%41%42", "AB"}, {"%4a%4A", "JJ"},
        {"%%", "%"},      {"%%41", "%41"},  {"%2541", "%41"}, {"%00", QByteArray(1, '\0')},
        {"%FF", "\xFF"},  {"%2B", "+"},
    };
    for (const Case& c : cases) EXPECT_EQ(PercentDecode(c.in), c.out) << c.in.constData();
}

TEST(PercentDecode, FailuresNameThePositionAfterThePercentSign)
{
    struct Case {
        QByteArray in;
        QString message;
    };
    const Case cases[] = {
        {"x=50%", QStringLiteral("Error decoding URL style (%XX) encoded string at position 5")},
        {"x=5%4", QStringLiteral("Error decoding URL style (%XX) encoded string at position 4")},
        {"%", QStringLiteral("Error decoding URL style (%XX) encoded string at position 1")},
        {"x=%G1", QStringLiteral("Invalid URL encoded character (%G1) at position 3")},
        {"%4G", QStringLiteral("Invalid URL encoded character (%4G) at position 1")},
        {"ab%41%z%", QStringLiteral("Invalid URL encoded character (%z%) at position 6")},
    };
    for (const Case& c : cases) {
        try {
            PercentDecode(c.in);
            ADD_FAILURE() << "no failure for " << c.in.constData();
        } catch (const Error& e) {
            EXPECT_EQ(e.message(), c.message) << c.in.constData();
            EXPECT_EQ(e.typeName(), QStringLiteral("EDecodeError"));
        }
    }
}

TEST(ParseQueryParameters, FailurePositionCountsAfterPlusBecomesBlank)
{
    try {
        ParseQueryParameters(QStringLiteral("/s?a=1&x+y=%G1"));
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Invalid URL encoded character (%G1) at position 5"));
    }
}

TEST_F(ParseRequestTest, Names)
{
    struct Case {
        const char* request;
        const char* name;
    };
    const Case cases[] = {
        {"GET /sales?year=2020 HTTP/1.1\r\nHost: x\r\n\r\n", "sales"},
        {"  \r\nGET /sales HTTP/1.1", "sales"},
        {"GET / sales ?x=1 HTTP/1.0", "sales"},
        {"GET /sa%6Ces HTTP/1.1", "sa%6Ces"},
        {"GET /a/b?x HTTP/1.1", "a/b"},
        {"GET /../x HTTP/1.1", "../x"},
        {"GET / HTTP/1.1", ""},
        {"GET /?x=1 HTTP/1.1", ""},
        {"get /sales HTTP/1.1", ""},
        {"POST /sales HTTP/1.1", ""},
        {"GET /sales?year=2020", ""},
        {"GET /salesHTTP/1.1", ""},
        {"x GET /sales HTTP/1.1", ""},
    };
    for (const Case& c : cases) {
        const Request t = parse(QString::fromUtf8(c.request));
        EXPECT_EQ(t.name, QString::fromUtf8(c.name)) << c.request;
        if (t.name.isEmpty()) {
            EXPECT_EQ(t.parameters, QString()) << c.request;
        }
    }
}

TEST_F(ParseRequestTest, ParametersFormatAndCredentials)
{
    struct Case {
        const char* query;
        const char* format;
        const char* email;
        const char* seccode;
    };
    const Case cases[] = {
        {"year=2020", "JSON", "", ""},
        {"FORMAT=Xml", "XML", "", ""},
        {"format=csv[;]", "CSV[;]", "", ""},
        {"format=%20txt[tab]%20", "TXT[TAB]", "", ""},
        {"format=html", "JSON", "", ""},
        // Only ASCII letters compare without case: a long s (U+017F) is not an "s".
        {"format=j%C5%BFon", "JSON", "", ""},
        {"format=c%C5%BFv[;]", "JSON", "", ""},
        {"format=&format=json", "JSON", "", ""},
        {"format=xml&format=json", "XML", "", ""},
        {"a=1&format=CSV[,]", "CSV[,]", "", ""},
        {"email=first&email=second", "JSON", "second", ""},
        // in lower case
        {"email=%20A@B.example%20&seccode=XyZ", "JSON", "a@b.example", "xyz"},
        {"seccode=1&seccode=&email=e", "JSON", "e", ""},
        // A name that only looks like email in its value does not count.
        {"x=email&y=<name[1]>", "JSON", "", ""},
    };
    for (const Case& c : cases) {
        const Request t = parse(QStringLiteral("GET /sales?%1 HTTP/1.1").arg(QString::fromUtf8(c.query)));
        EXPECT_EQ(t.parameters, ParseQueryParameters(QStringLiteral("/sales?") + QString::fromUtf8(c.query)));
        EXPECT_EQ(formatName(t), QString::fromUtf8(c.format)) << c.query;
        EXPECT_EQ(t.email, QString::fromUtf8(c.email)) << c.query;
        EXPECT_EQ(t.seccode, QString::fromUtf8(c.seccode)) << c.query;
        // the request and its client as they came, a test client of today until the access decision
        EXPECT_EQ(t.text, QStringLiteral("GET /sales?%1 HTTP/1.1").arg(QString::fromUtf8(c.query)));
        EXPECT_EQ(t.address, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(t.handle, 7);
        EXPECT_TRUE(t.testClient);
        EXPECT_EQ(t.dateActive, QStringLiteral("08.03.2024"));
    }
}

TEST_F(ParseRequestTest, MarkerTextInsideValuesStaysInTheValue)
{
    // Every marker of the list inside a value (and a name) changes no other parameter and
    // no count, and reads back whole.
    const QStringList markers = {QStringLiteral("</value[1]>"), QStringLiteral("<value[2]>"), QStringLiteral("<name[2]>format</name[2]>"),
                                 QStringLiteral("<paramcount>0</paramcount>"), QStringLiteral("<paramcount>no</paramcount>"),
                                 QStringLiteral("</name[1]>"), QStringLiteral("&lt;"), QStringLiteral("&amp;")};
    for (const QString& m : markers) {
        SCOPED_TRACE(m.toStdString());
        const QString enc = QString::fromLatin1(QUrl::toPercentEncoding(m));
        const Request t = parse(QStringLiteral("GET /s?x=%1&format=xml&email=a%1b&seccode=c&%1=v HTTP/1.1").arg(enc));
        EXPECT_EQ(formatName(t), QStringLiteral("XML"));
        EXPECT_EQ(t.email, QStringLiteral("a") + m + u'b');
        EXPECT_EQ(t.seccode, QStringLiteral("c"));
        const ParameterListReader list(t.parameters);
        qint32 n = 0;
        ASSERT_TRUE(list.count(n));
        EXPECT_EQ(n, 5);
        EXPECT_EQ(list.value(1), m);
        EXPECT_EQ(list.name(5), m);
        EXPECT_EQ(list.value(5), QStringLiteral("v"));
    }
    // A list written by hand reads "&" that starts no "&amp;" or "&lt;" as itself.
    EXPECT_EQ(ParameterListReader(QStringLiteral("<value[1]>a&b&amp;lt;</value[1]>")).value(1), QStringLiteral("a&b&lt;"));
}

TEST_F(ParseRequestTest, MalformedEscapeStopsAfterTheName)
{
    try {
        parse(QStringLiteral("GET /sales?x=50% HTTP/1.1"));
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Error decoding URL style (%XX) encoded string at position 5"));
    }
}

TEST_F(ParseRequestTest, ManyItemsStayCheap)
{
    // 64 KiB of "email=a&": every item is an e-mail, the last one wins.
    QString q;
    for (int i = 0; i < 8000; ++i) q += QStringLiteral("email=a%1&").arg(i);
    q += QStringLiteral("seccode=s");
    const Request t = parse(QStringLiteral("GET /s?") + q + QStringLiteral(" HTTP/1.1"));
    EXPECT_EQ(t.email, QStringLiteral("a7999"));
    EXPECT_EQ(t.seccode, QStringLiteral("s"));
}

TEST(ParseRequest, AFormatTheRequestNamesStandsWhereTheDefaultIsNone)
{
    const RequestDefaults none{std::nullopt, QString(), QString(), 0};
    EXPECT_FALSE(ParseRequest(QStringLiteral("GET /s?x=1&format=html HTTP/1.1"), none).format.has_value());
    EXPECT_EQ(ParseRequest(QStringLiteral("GET /s?format=xml HTTP/1.1"), none).format, AnswerFormat(AnswerFormat::Xml));
}
