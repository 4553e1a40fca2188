// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "common/errors.h"
#include "common/files.h"
#include "monitor/statistics.h"
#include "support/support.h"

using namespace veldra;

namespace {

std::array<qint32, 24> counts(std::initializer_list<std::pair<int, qint32>> set)
{
    std::array<qint32, 24> c{};
    for (auto [h, n] : set) c[size_t(h)] = n;
    return c;
}

class Statistics : public ::testing::Test {
protected:
    QDateTime clock{QDate(2024, 3, 8), QTime(21, 12, 5)};
    RequestStatistics stats{[this] { return clock; }, [] { return qint64(123456789); }};
    void requestsAt(QTime t, int n)
    {
        clock.setTime(t);
        for (int i = 0; i < n; ++i) stats.countRequest();
    }
};

}  // namespace

TEST(Histogram, ScalingRule)
{
    struct Case {
        std::array<qint32, 24> counts;
        std::vector<std::pair<int, int>> bars;  // hour, bars; every other hour 0
    } cases[] = {
        {counts({}), {}},
        {counts({{3, 75}}), {{3, 25}}},
        {counts({{10, 100}, {11, 50}}), {{10, 25}, {11, 12}}},
        {counts({{0, 1}, {23, 2}}), {{0, 12}, {23, 25}}},
        {counts({{7, 12}, {8, 1}}), {{7, 25}, {8, 2}}},
    };
    for (const auto& c : cases) {
        std::array<int, 24> expected{};
        for (auto [h, b] : c.bars) expected[size_t(h)] = b;
        EXPECT_EQ(RequestStatistics::barLengths(c.counts), expected);
    }
    EXPECT_EQ(RequestStatistics::histogramLine(5, 0, 0), QStringLiteral("[05] -  >> 0 requests"));
    EXPECT_EQ(RequestStatistics::histogramLine(7, 12, 25), QStringLiteral("[07] - ||||||||||||||||||||||||| >> 12 requests"));
}

TEST_F(Statistics, RequestsCountForTheirLocalHour)
{
    ASSERT_EQ(stats.histogram().size(), 24);
    EXPECT_EQ(stats.histogram()[0], QStringLiteral("[00] -  >> 0 requests"));
    requestsAt(QTime(23, 59, 59, 900), 1);
    requestsAt(QTime(0, 0, 0), 2);
    EXPECT_EQ(stats.hourlyCount(23), 1);
    EXPECT_EQ(stats.hourlyCount(0), 2);
    EXPECT_EQ(stats.requestCount(), 3);
    EXPECT_EQ(stats.histogram()[0], QStringLiteral("[00] - ||||||||||||||||||||||||| >> 2 requests"));
    EXPECT_EQ(stats.histogram()[23], QStringLiteral("[23] - |||||||||||| >> 1 requests"));
}

TEST_F(Statistics, CountLabelsFollowOnlyChangedCounts)
{
    stats.countConnection();
    stats.countConnection();
    EXPECT_TRUE(stats.showCounts());
    EXPECT_EQ(stats.connectionLabel(), QStringLiteral("COUNT CONNECTION : 2"));
    EXPECT_EQ(stats.requestLabel(), QStringLiteral("COUNT REQUESTS : 0"));
    EXPECT_FALSE(stats.showCounts());
    EXPECT_EQ(stats.histogram()[21], QStringLiteral("[21] -  >> 0 requests"));

    stats.countRequest();
    EXPECT_TRUE(stats.showCounts());
    EXPECT_EQ(stats.requestLabel(), QStringLiteral("COUNT REQUESTS : 1"));

    stats.serverStopped();
    EXPECT_EQ(stats.connectionLabel(), QStringLiteral("COUNT CONNECTION : 0"));
    EXPECT_EQ(stats.connectionCount(), 2);
    EXPECT_FALSE(stats.showCounts());  // last shown values stay as they were

    stats.serverStarted();
    EXPECT_EQ(stats.connectionCount(), 0);
    EXPECT_EQ(stats.requestCount(), 0);
    EXPECT_EQ(stats.hourlyCount(21), 1);  // START keeps the hourly counts
    stats.countConnection();
    EXPECT_TRUE(stats.showCounts());
    EXPECT_EQ(stats.connectionLabel(), QStringLiteral("COUNT CONNECTION : 1"));
}

TEST_F(Statistics, TimeLogFileHoldsTwentyEightLinesAndRestartsTheCounts)
{
    QTemporaryDir dir;
    setProgramFolder(dir.path());
    stats.serverStarted();  // 08.03.2024 21:12:05
    requestsAt(QTime(21, 30, 0), 3);
    requestsAt(QTime(22, 0, 0), 1);
    const QStringList before = stats.histogram();
    clock = QDateTime(QDate(2024, 3, 9), QTime(0, 1, 0));
    stats.saveTimeLog(dir.path() + u'/');

    const QStringList lines = readTextFileLines(dir.path() + QStringLiteral("/timelog-09032024000100.log"));
    ASSERT_EQ(lines.size(), 28);
    EXPECT_EQ(lines[0], QStringLiteral("Started time saved : 08.03.2024 21:12:05"));
    EXPECT_EQ(lines[1], QStringLiteral("Date time saved : 09.03.2024 00:01:00"));
    EXPECT_EQ(lines[2], QString(30, u'-'));
    EXPECT_EQ(lines[3], QString());
    EXPECT_EQ(lines.mid(4), before);
    EXPECT_EQ(lines[4 + 21], QStringLiteral("[21] - ||||||||||||||||||||||||| >> 3 requests"));

    EXPECT_EQ(stats.timeLogStart(), clock);
    EXPECT_EQ(stats.hourlyCount(21), 0);
    EXPECT_EQ(stats.requestCount(), 4);

    test::ScriptedOperator ui;
    stats.openTimeLog(ui);
    EXPECT_EQ(ui.opened, QStringList{dir.path() + QStringLiteral("/TimeLog.txt")});
    const QStringList shown = readTextFileLines(dir.path() + QStringLiteral("/TimeLog.txt"));
    ASSERT_EQ(shown.size(), 24);
    for (const QString& l : shown) EXPECT_TRUE(l.endsWith(QLatin1String(" >> 0 requests"))) << l.toStdString();
    setProgramFolder(QString());
}

TEST_F(Statistics, FailedTimeLogKeepsCountsAndStart)
{
    QTemporaryDir dir;
    requestsAt(QTime(9, 0, 0), 5);
    const QDateTime start = stats.timeLogStart();
    clock = clock.addDays(1);
    EXPECT_THROW(stats.saveTimeLog(dir.path() + QStringLiteral("/gone/")), FileError);
    EXPECT_EQ(stats.hourlyCount(9), 5);
    EXPECT_EQ(stats.timeLogStart(), start);
    EXPECT_EQ(stats.histogram().size(), 28);
    stats.redrawHistogram();
    EXPECT_EQ(stats.histogram().size(), 24);

    test::ScriptedOperator ui;
    setProgramFolder(dir.path() + QStringLiteral("/gone"));
    stats.openTimeLog(ui);
    EXPECT_TRUE(ui.opened.isEmpty());
    EXPECT_EQ(ui.messages.size(), 1);
    setProgramFolder(QString());
}

TEST_F(Statistics, MemoryLine)
{
    stats.showMemory();
    EXPECT_EQ(stats.memoryLine(), QStringLiteral("USING MEMORY (update value each 5 sec) : 117 Mb  |  0.1150 Gb"));
    EXPECT_EQ(RequestStatistics::memoryText(0), QStringLiteral("USING MEMORY (update value each 5 sec) : 0 Mb  |  0.0000 Gb"));
    EXPECT_EQ(RequestStatistics::memoryText(3LL * 1024 * 1024 * 1024 + 1048575),
              QStringLiteral("USING MEMORY (update value each 5 sec) : 3072 Mb  |  3.0010 Gb"));
    EXPECT_GT(RequestStatistics::residentSetSize(), 0);
}

TEST_F(Statistics, ABurstOfCountedRequestsRedrawsTheHistogramOnceWhenItIsRead)
{
    int counted = 0;
    int changed = 0;
    stats.setCountedListener([&] { ++counted; });
    stats.setChangedListener([&] { ++changed; });
    requestsAt(QTime(9, 15, 0), 1000);
    requestsAt(QTime(10, 0, 0), 500);
    EXPECT_EQ(counted, 1);  // one notice for the whole burst
    EXPECT_EQ(changed, 0);  // the count labels follow Show counts, not each request
    EXPECT_EQ(stats.requestCount(), 1500);
    EXPECT_EQ(stats.histogram()[9], QStringLiteral("[09] - ||||||||||||||||||||||||| >> 1000 requests"));
    EXPECT_EQ(stats.histogram()[10], QStringLiteral("[10] - |||||||||||| >> 500 requests"));
    requestsAt(QTime(10, 0, 1), 1);
    EXPECT_EQ(counted, 2);
    EXPECT_EQ(stats.histogram()[10], QStringLiteral("[10] - |||||||||||| >> 501 requests"));
}
