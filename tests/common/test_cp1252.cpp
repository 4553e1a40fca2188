// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/cp1252.h"

using namespace veldra;

TEST(Cp1252, HighBytes)
{
    // 80..9F: 27 characters of their own, five bytes left undefined that stand for
    // the C1 control of the same value.
    const char16_t expected[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    int defined = 0;
    for (int b = 0x80; b < 0xA0; ++b) {
        const QString text = cp1252::decode(QByteArray(1, char(b)));
        ASSERT_EQ(text.size(), 1);
        EXPECT_EQ(text.at(0).unicode(), expected[b - 0x80]) << b;
        EXPECT_EQ(cp1252::encode(text), QByteArray(1, char(b))) << b;
        EXPECT_EQ(cp1252::byteOf(expected[b - 0x80]), b);
        if (expected[b - 0x80] != char16_t(b)) ++defined;
    }
    EXPECT_EQ(defined, 27);
}

TEST(Cp1252, Latin1RangeIsItself)
{
    for (int b : {0x00, 0x0A, 0x41, 0x7F, 0xA0, 0xE9, 0xFF}) {
        EXPECT_EQ(cp1252::decode(QByteArray(1, char(b))), QString(QChar(b)));
        EXPECT_EQ(cp1252::encode(QString(QChar(b))), QByteArray(1, char(b)));
    }
}

TEST(Cp1252, CharactersWithoutACodeBecomeQuestionMarks)
{
    EXPECT_EQ(cp1252::encode(QStringLiteral(u"a\u4e2db\u0100\u2019")), QByteArray("a?b?\x92"));
    // A character outside the BMP is one "?", a lone surrogate too.
    EXPECT_EQ(cp1252::encode(QStringLiteral(u"x\U0001F600y")), QByteArray("x?y"));
    EXPECT_EQ(cp1252::encode(QString(QChar(0xD800)) + u'z'), QByteArray("?z"));
    EXPECT_EQ(cp1252::byteOf(0x4E2D), -1);
    EXPECT_EQ(cp1252::encode(QString()), QByteArray());
}
