// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/answerformat.h"

using namespace veldra;

TEST(AnswerFormat, NamesAreReadInAnyAsciiLetterCaseOnly)
{
    struct Case {
        QString name;
        std::optional<AnswerFormat::Kind> kind;
    };
    const Case cases[] = {
        {"CSV[;]", AnswerFormat::CsvSemicolon}, {"csv[,]", AnswerFormat::CsvComma}, {"Txt[Tab]", AnswerFormat::TxtTab},
        {"xml", AnswerFormat::Xml},             {"jSoN", AnswerFormat::Json},        {"", std::nullopt},
        {" JSON", std::nullopt},                {"CSV", std::nullopt},              {"TXT[TAB]x", std::nullopt},
        // U+017F (long s) upper-cases to "S" in Unicode.
        {QStringLiteral(u"j\u017fon"), std::nullopt}, {QStringLiteral(u"csv[;]").replace(u's', u'\u017f'), std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<AnswerFormat> f = AnswerFormat::fromName(c.name);
        ASSERT_EQ(f.has_value(), c.kind.has_value()) << c.name.toStdString();
        if (f) {
            EXPECT_EQ(f->kind(), *c.kind) << c.name.toStdString();
        }
    }
    EXPECT_EQ(AnswerFormat::names(), QStringList({"CSV[;]", "CSV[,]", "TXT[TAB]", "XML", "JSON"}));
    for (AnswerFormat f : AnswerFormat::all()) EXPECT_EQ(AnswerFormat::fromName(f.name()), f);
}

TEST(AnswerFormat, TextFormatsAreSingleByteAttachmentsAndMarkupIsUtf8)
{
    struct Case {
        AnswerFormat format;
        bool text;
        const char* contentType;
        const char* extension;
        QChar separator;
    };
    const Case cases[] = {
        {AnswerFormat::CsvSemicolon, true, "application/octet-stream; charset=utf-8", ".csv", u';'},
        {AnswerFormat::CsvComma, true, "application/vnd.ms-excel; charset=utf-8", ".csv", u','},
        {AnswerFormat::TxtTab, true, "application/vnd.ms-excel; charset=utf-8", ".txt", u'\t'},
        {AnswerFormat::Xml, false, "application/xml; charset=utf-8", ".xml", QChar()},
        {AnswerFormat::Json, false, "application/json; charset=utf-8", ".json", QChar()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.name().toStdString());
        EXPECT_EQ(c.format.isText(), c.text);
        EXPECT_EQ(c.format.encoding(), c.text ? AnswerEncoding::SingleByte : AnswerEncoding::Utf8);
        EXPECT_EQ(AnswerFormat::fromName(c.format.name().toLower()).value().isText(), c.text);
        EXPECT_EQ(c.format.contentType(), QString::fromLatin1(c.contentType));
        EXPECT_EQ(c.format.fileExtension(), QString::fromLatin1(c.extension));
        EXPECT_EQ(c.format.separator(), c.separator);
    }
    EXPECT_FALSE(AnswerFormat::fromName(u"tsv"));
}
