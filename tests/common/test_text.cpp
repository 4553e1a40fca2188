// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/cp1252.h"
#include "common/text.h"

using namespace veldra;

TEST(Text, TrimRemovesControlsAndBlanks)
{
    EXPECT_EQ(trim(QStringLiteral("\r\n\t x y \x01")), QStringLiteral("x y"));
    EXPECT_EQ(trim(QStringLiteral("   ")), QString());
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    EXPECT_EQ(cp1252::encode(cp1252::decode(all)), all);
}

#include "common/errors.h"
#include "common/md5.h"

TEST(Text, Trim)
{
    const std::pair<QString, QString> cases[] = {
        {"", ""}, {"a", "a"}, {" a b ", "a b"}, {QString(QChar(0)) + "a" + QChar(32), "a"},
        {QStringLiteral(u"\u00a0a\u00a0"), QStringLiteral(u"\u00a0a\u00a0")},  // only codes up to 32
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trim(in), out) << in.toStdString();
}

TEST(Text, TextBetween)
{
    struct Case {
        const char *s, *start, *end, *out;
    };
    const Case cases[] = {
        {"<a>x</a>", "<a>", "</a>", "x"},
        {"<a></a>", "<a>", "</a>", ""},
        {"<a>x</a><a>y</a>", "<a>", "</a>", "x"},
        {"</a><a>x</a>", "<a>", "</a>", "x"},  // the end marker is searched after the start
        {"<a>x", "<a>", "</a>", ""},
        {"x</a>", "<a>", "</a>", ""},
        {"<A>x</A>", "<a>", "</a>", ""},  // letter case matters
        {"[1][2]", "[", "]", "1"},
        {"ab", "a", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textBetween(QString::fromUtf8(c.s), QString::fromUtf8(c.start), QString::fromUtf8(c.end)),
                  QString::fromUtf8(c.out))
            << c.s;
}

TEST(Text, ReplaceAllNoCase)
{
    struct Case {
        const char *s, *what, *with, *out;
    };
    const Case cases[] = {
        {"a [NOCACHE] b [nocache]", "[nocache]", "", "a  b "},
        {"aaa", "aa", "b", "ba"},  // left to right, no overlap
        {"abc", "", "x", "abc"},
        {"xAx", "a", "aa", "xaax"},  // the replacement is not searched again
        {"Straße", "SS", "s", "Straße"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replaceAllNoCase(QString::fromUtf8(c.s), QString::fromUtf8(c.what), QString::fromUtf8(c.with)),
                  QString::fromUtf8(c.out))
            << c.s;
}

TEST(Text, LettersAndDigits)
{
    EXPECT_EQ(lettersAndDigits(QStringLiteral(" 08.03.2024 21:12:05 ")), QStringLiteral("08032024211205"));
    EXPECT_EQ(lettersAndDigits(QStringLiteral(u"a-\u00e9_Z9 \u0661")), QStringLiteral("aZ9"));
    EXPECT_EQ(lettersAndDigits(QString()), QString());
}

TEST(Text, SplitLines)
{
    struct Case {
        QString s;
        QStringList lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"\n", {""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\n\r", {"a", ""}},
    };
    for (const Case& c : cases) EXPECT_EQ(splitLines(c.s), c.lines) << c.s.toStdString();
}

TEST(Text, ToInt32)
{
    qint32 v = 7;
    EXPECT_TRUE(toInt32(QStringLiteral("-12"), v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(toInt32(QStringLiteral("2147483647"), v));
    EXPECT_EQ(v, 2147483647);
    v = 7;
    for (const char* bad : {"", "x", "1.5", "2147483648", "1x"}) {
        EXPECT_FALSE(toInt32(QString::fromLatin1(bad), v)) << bad;
        EXPECT_EQ(v, 7);
    }
}

TEST(Md5, Rfc1321Vectors)
{
    EXPECT_EQ(md5Hex(""), QStringLiteral("D41D8CD98F00B204E9800998ECF8427E"));
    EXPECT_EQ(md5Hex("abc"), QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_EQ(md5Hex("message digest"), QStringLiteral("F96B697D7CB7938D525A2F31AAF161D0"));
}

TEST(Errors, Details)
{
    EXPECT_EQ(errorDetails(Error(QStringLiteral("EFoo"), QStringLiteral("bad"))), QStringLiteral("Error |  msg = [EFoo : bad]"));
    EXPECT_EQ(errorDetails(std::runtime_error("x")), QStringLiteral("Error |  msg = [std::runtime_error : x]"));
    try {
        throw FileError(QStringLiteral("gone"));
    } catch (...) {
        EXPECT_EQ(currentErrorDetails(), QStringLiteral("Error |  msg = [EFileError : gone]"));
        EXPECT_EQ(currentErrorMessage(), QStringLiteral("gone"));
    }
}
