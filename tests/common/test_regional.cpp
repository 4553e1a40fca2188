// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/regional.h"

using namespace veldra;

TEST(Regional, TimeStamps)
{
    struct Case {
        QDateTime when;
        const char *stamp, *file;
    };
    const Case cases[] = {
        {QDateTime(QDate(2024, 3, 8), QTime(21, 12, 5)), "08.03.2024 21:12:05", "08032024211205"},
        {QDateTime(QDate(2024, 3, 8), QTime(0, 0, 0)), "08.03.2024", "08032024"},
        {QDateTime(QDate(2024, 3, 8), QTime(0, 0, 1)), "08.03.2024 00:00:01", "08032024000001"},
        {QDateTime(QDate(999, 12, 31), QTime(9, 5, 0)), "31.12.0999 09:05:00", "31120999090500"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(regional::timeStamp(c.when), QString::fromLatin1(c.stamp));
        EXPECT_EQ(regional::fileStamp(c.when), QString::fromLatin1(c.file));
    }
}

TEST(Regional, ShortDates)
{
    EXPECT_EQ(regional::shortDate(QDate(2030, 12, 31)), QStringLiteral("31.12.2030"));
    EXPECT_EQ(regional::parseShortDate(QStringLiteral("01.02.2025")), QDate(2025, 2, 1));
    EXPECT_FALSE(regional::parseShortDate(QStringLiteral("2025-02-01")).isValid());
    EXPECT_FALSE(regional::parseShortDate(QStringLiteral("31.02.2025")).isValid());
}
