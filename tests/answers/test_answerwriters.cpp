// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "answers/answerwriters.h"

using namespace veldra;

namespace {

using Rows = std::vector<std::vector<QString>>;

// The body a writer gives for the columns and rows; `pieces` collects what each call
// appended, with the buffer emptied between calls.
QString written(AnswerFormat format, WriterStyle style, const QStringList& columns, const Rows& rows,
                QStringList* pieces = nullptr)
{
    const auto writer = makeAnswerWriter(format, style, QStringLiteral("status \"s\""));
    QByteArray whole, piece;
    auto take = [&] {
        whole += piece;
        if (pieces) *pieces << QString::fromUtf8(piece);
        piece.clear();
    };
    writer->begin(piece, columns);
    take();
    for (const auto& row : rows) {
        const std::vector<CellValue> values(row.begin(), row.end());
        writer->row(piece, values);
        take();
    }
    writer->end(piece);
    take();
    return QString::fromUtf8(whole);
}

}  // namespace

TEST(AnswerWriters, SampleBodiesEndEveryLineAndCarryNoStatus)
{
    const QStringList ab{"a", "b"};
    struct Case {
        AnswerFormat format;
        Rows rows;
        const char* body;
    };
    const Case cases[] = {
        {AnswerFormat::CsvComma, {{"1", "x\"y"}}, "\"a\",\"b\"\r\n\"1\",\"x\"\"y\"\r\n"},
        {AnswerFormat::TxtTab, {{"1", "2"}, {"3", "4"}}, "\"a\"\t\"b\"\r\n\"1\"\t\"2\"\r\n\"3\"\t\"4\"\r\n"},
        {AnswerFormat::Xml, {{"1", "\\"}},
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<Row>\r\n\t\t<a>1</a>\r\n\t\t<b>&#92;</b>\r\n"
         "\t</Row>\r\n</Data>\r\n"},
        // Every row but the last closes with "},".
        {AnswerFormat::Json, {{"1", "2"}, {"3", "4"}},
         "{\r\n\t\"Data\": {\r\n\t\t\"Row\": [\r\n\t\t\t{\r\n\t\t\t\t\"a\": \"1\",\r\n\t\t\t\t\"b\": \"2\"\r\n\t\t\t},\r\n"
         "\t\t\t{\r\n\t\t\t\t\"a\": \"3\",\r\n\t\t\t\t\"b\": \"4\"\r\n\t\t\t}\r\n\t\t]\r\n\t}\r\n}\r\n"},
        {AnswerFormat::Json, {{"1", "2"}},
         "{\r\n\t\"Data\": {\r\n\t\t\"Row\": [\r\n\t\t\t{\r\n\t\t\t\t\"a\": \"1\",\r\n\t\t\t\t\"b\": \"2\"\r\n\t\t\t}\r\n"
         "\t\t]\r\n\t}\r\n}\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(written(c.format, WriterStyle::Sample, ab, c.rows), QString::fromUtf8(c.body)) << c.format.name().toStdString();
}

TEST(AnswerWriters, AnswerBodiesJoinLinesAndOpenLaterJsonRowsWithComma)
{
    EXPECT_EQ(written(AnswerFormat::Json, WriterStyle::Answer, {"a"}, {{"1"}, {"2"}}),
              QStringLiteral("{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"status \\\"s\\\"\",\r\n\t\"Data\": {\r\n"
                             "\t\t\"Row\": [\r\n\t\t\t{\r\n\t\t\t\t\"a\": \"1\"\r\n\t\t\t}\r\n\t\t\t,{\r\n\t\t\t\t\"a\": \"2\"\r\n"
                             "\t\t\t}\r\n\t\t]\r\n\t}\r\n}"));
    EXPECT_EQ(written(AnswerFormat::CsvSemicolon, WriterStyle::Answer, {"a", "b"}, {{"1", "2"}}),
              QStringLiteral("\"a\";\"b\"\r\n\"1\";\"2\""));
    QByteArray empty;
    makeAnswerWriter(AnswerFormat::Xml, WriterStyle::Answer, QStringLiteral("s<"))->emptyBody(empty);
    EXPECT_EQ(QString::fromUtf8(empty), QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>true</empty>\r\n"
                                    "\t<statusText>s&lt;</statusText>\r\n</Data>"));
}

// A caller may send what each call appended and empty its buffer: every call writes
// only its own part.
TEST(AnswerWriters, EachCallAppendsOnlyItsOwnPart)
{
    for (AnswerFormat format : AnswerFormat::all()) {
        for (WriterStyle style : {WriterStyle::Answer, WriterStyle::Sample}) {
            QStringList pieces;
            written(format, style, {"a"}, {{"1"}, {"2"}}, &pieces);
            ASSERT_EQ(pieces.size(), 4);
            EXPECT_TRUE(pieces[1].contains(u'1') && !pieces[1].contains(u'2')) << format.name().toStdString();
            EXPECT_TRUE(pieces[2].contains(u'2') && !pieces[2].contains(u'1')) << format.name().toStdString();
        }
    }
}

// Values given as UTF-8 bytes give the bytes of the same values given as text.
TEST(AnswerWriters, ByteValuesWriteWhatTextValuesWrite)
{
    const QStringList nasty = {
        QString(),
        QStringLiteral("plain"),
        QString::fromUtf8("q\" b\\ <tag> & 'apos' \t line\nnext\r\nend \x01\x1f\x7f"),
        QString::fromUtf8("\xC2\x80 \xC2\x9F \xC2\xA0 \xC2\xBF \xC3\x80 \xC3\xBF \xC4\x80 é ÿ 日本 😀"),
        QString(QChar(0xFFFE)) + QChar(0xFFFF) + QChar(0xFFFD) + QChar(0xFEFF),
        // long enough for the exact count of its room
        QString::fromUtf8("a\"<\\\x01é\xEF\xBF\xBE").repeated(1000),
    };
    for (const QString& v : nasty) {
        const QByteArray utf8 = v.toUtf8();
        QByteArray out;
        appendDoubleQuotesForCsv(out, utf8);
        EXPECT_EQ(out, DoubleQuotesForCsv(v).toUtf8());
        out.clear();
        appendEscapeQuotesForJson(out, utf8);
        EXPECT_EQ(out, EscapeQuotesForJson(v).toUtf8());
        out.clear();
        appendEscapeTextForXml(out, utf8);
        EXPECT_EQ(out, EscapeTextForXml(v).toUtf8()) << v.toStdString();
    }
    for (AnswerFormat format : AnswerFormat::all()) {
        const auto asText = makeAnswerWriter(format, WriterStyle::Answer, QStringLiteral("s"));
        const auto asBytes = makeAnswerWriter(format, WriterStyle::Answer, QStringLiteral("s"));
        QByteArray a, b;
        asText->begin(a, {"x"});
        asBytes->begin(b, {"x"});
        for (const QString& v : nasty) {
            const QString withDots = v + QStringLiteral("...");
            const std::vector<CellValue> text{CellValue(withDots)};
            const QByteArray utf8 = v.toUtf8();
            const std::vector<CellValue> bytes{CellValue(utf8, true)};
            asText->row(a, text);
            asBytes->row(b, bytes);
        }
        EXPECT_EQ(a, b) << format.name().toStdString();
    }
}
