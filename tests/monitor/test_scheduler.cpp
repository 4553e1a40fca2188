// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/errors.h"
#include "monitor/scheduler.h"
#include "support/support.h"

using namespace veldra;

namespace {

// Drives ticks at chosen clock times and records what ran, in order.
class SchedulerTicks : public ::testing::Test {
protected:
    SchedulerTicks()
    {
        settings.ResaveTimeLog = QStringLiteral("00:01");
        settings.ReloadClientAccess = QStringLiteral("23:59");
        settings.ReloadCaches = QStringLiteral("03:00");
    }
    std::unique_ptr<Scheduler> make(Scheduler::LongTimeFormat format = {})
    {
        SchedulerTasks t;
        t.serverRunning = [this] { return running; };
        t.runningSettings = [this] { return settings; };
        t.showMemory = [this] { ran << QStringLiteral("memory"); };
        t.showClock = [this](const QString& c) { clockShown = c; };
        t.showCounts = [this] { ++countsShown; };
        t.loadClientLists = [this] { ran << QStringLiteral("lists"); };
        t.saveTimeLog = [this] {
            ran << QStringLiteral("timelog");
            if (failTimeLog) throw FileError(QStringLiteral("cannot write"));
        };
        t.cleanCache = [this] { ran << QStringLiteral("cache"); };
        return std::make_unique<Scheduler>(std::move(t), ui, [this] { return now; }, std::move(format));
    }
    // Ticks once a second from `from` for `seconds` ticks; returns the tasks that ran
    // (memory left out).
    QStringList run(Scheduler& s, QTime from, int seconds)
    {
        ran.clear();
        now = QDateTime(QDate(2026, 3, 15), from);
        for (int i = 0; i < seconds; ++i) {
            s.tick();
            now = now.addSecs(1);
        }
        ran.removeAll(QStringLiteral("memory"));
        return ran;
    }

    bool running = true;
    bool failTimeLog = false;
    TServerSettings settings;
    QDateTime now;
    QStringList ran;
    QString clockShown;
    int countsShown = 0;
    test::ScriptedOperator ui;
};

}  // namespace

TEST(SchedulerTimeMatch, BothTests)
{
    struct Case {
        const char* time;
        const char* clock;
        bool matches;
    } cases[] = {
        {"03:00", "03:00:27", true},  {"03:00", "3:00:05", true},     {"03:00", "03:01:00", false},
        {" 3:00", "3:00:05", false},  {" 3:00", "03:00:05", false},   {"03:00", "3:00:05 PM", true},
        {"15:00", "3:00:05 PM", false}, {"23:59", "23:59:59", true},  {"3:00", "3:00:05", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Scheduler::timeMatches(QString::fromLatin1(c.time), QString::fromLatin1(c.clock)), c.matches)
            << c.time << " / " << c.clock;
}

TEST_F(SchedulerTicks, DailyTaskRunsOnceInItsMinute)
{
    auto s = make();
    EXPECT_EQ(run(*s, QTime(2, 59, 0), 180), QStringList{QStringLiteral("cache")});
    EXPECT_FALSE(s->cacheMarker());
    EXPECT_EQ(countsShown, 180);
    EXPECT_EQ(clockShown, QStringLiteral("03:01:59"));
}

TEST_F(SchedulerTicks, StartWithinTheMinuteRunsAtTheFirstRunningTick)
{
    auto s = make();
    running = false;
    EXPECT_TRUE(run(*s, QTime(3, 0, 0), 40).isEmpty());
    EXPECT_EQ(countsShown, 0);
    running = true;
    ran.clear();
    s->tick();  // 03:00:40
    EXPECT_EQ(ran, QStringList{QStringLiteral("cache")});
}

TEST_F(SchedulerTicks, MarkersSurviveStopAndStartWithinTheMinute)
{
    auto s = make();
    EXPECT_EQ(run(*s, QTime(3, 0, 0), 10), QStringList{QStringLiteral("cache")});
    running = false;
    run(*s, QTime(3, 0, 10), 10);
    EXPECT_TRUE(s->cacheMarker());
    running = true;
    EXPECT_TRUE(run(*s, QTime(3, 0, 20), 40).isEmpty());
    EXPECT_TRUE(run(*s, QTime(3, 1, 0), 1).isEmpty());
    EXPECT_FALSE(s->cacheMarker());
    // A time that passes while stopped is skipped.
    running = false;
    EXPECT_TRUE(run(*s, QTime(2, 59, 59), 62).isEmpty());
}

TEST_F(SchedulerTicks, ClockFormatsWithoutLeadingZeroMatchThroughTheSecondTest)
{
    auto s = make([](const QTime& t) { return t.toString(QStringLiteral("h:mm:ss")); });
    EXPECT_EQ(run(*s, QTime(2, 59, 55), 10), QStringList{QStringLiteral("cache")});
    EXPECT_EQ(clockShown, QStringLiteral("3:00:04"));

    settings.ReloadCaches = QStringLiteral(" 3:00");
    EXPECT_TRUE(run(*s, QTime(3, 1, 0), 1).isEmpty());  // marker back to false
    EXPECT_TRUE(run(*s, QTime(2, 59, 0), 120).isEmpty());
}

TEST_F(SchedulerTicks, TwelveHourClockMatchesMorningAndAfternoon)
{
    auto s = make([](const QTime& t) { return t.toString(QStringLiteral("h:mm:ss AP")); });
    EXPECT_EQ(run(*s, QTime(3, 0, 0), 61), QStringList{QStringLiteral("cache")});
    EXPECT_EQ(run(*s, QTime(15, 0, 0), 61), QStringList{QStringLiteral("cache")});
    settings.ReloadCaches = QStringLiteral("15:00");
    EXPECT_FALSE(run(*s, QTime(14, 59, 0), 180).contains(QStringLiteral("cache")));
}

TEST_F(SchedulerTicks, PeriodicReloadEvery300TicksAndAfterTheDailyReload)
{
    auto s = make();
    settings.ReloadClientAccess = QStringLiteral("10:10");
    EXPECT_EQ(run(*s, QTime(10, 0, 0), 299), QStringList());
    EXPECT_EQ(s->periodicReloadCount(), 299);
    EXPECT_EQ(run(*s, QTime(10, 4, 59), 1), QStringList{QStringLiteral("lists")});
    EXPECT_EQ(s->periodicReloadCount(), 0);
    // 10:05:00 .. 10:09:59: one more periodic reload at tick 300 (10:09:59).
    EXPECT_EQ(run(*s, QTime(10, 5, 0), 300), QStringList{QStringLiteral("lists")});
    // 10:10:00: the daily reload, and the periodic count starts again from 0.
    EXPECT_EQ(run(*s, QTime(10, 10, 0), 1), QStringList{QStringLiteral("lists")});
    EXPECT_EQ(s->periodicReloadCount(), 0);
    EXPECT_EQ(run(*s, QTime(10, 10, 1), 299), QStringList());
    EXPECT_EQ(run(*s, QTime(10, 15, 0), 1), QStringList{QStringLiteral("lists")});

    // START and STOP leave the periodic count where it was.
    run(*s, QTime(11, 0, 0), 100);
    running = false;
    run(*s, QTime(11, 1, 40), 1000);
    running = true;
    EXPECT_EQ(s->periodicReloadCount(), 100);
    EXPECT_EQ(run(*s, QTime(12, 0, 0), 200), QStringList{QStringLiteral("lists")});
}

TEST_F(SchedulerTicks, PeriodicReloadSkipsTheDailyTestOfItsTick)
{
    auto s = make();
    settings.ReloadClientAccess = QStringLiteral("10:05");
    run(*s, QTime(10, 0, 0), 299);
    // Tick 300 falls on 10:05:00: the periodic reload; the daily one follows at 10:05:01.
    EXPECT_EQ(run(*s, QTime(10, 5, 0), 2), (QStringList{QStringLiteral("lists"), QStringLiteral("lists")}));
    EXPECT_TRUE(s->clientAccessMarker());
    EXPECT_EQ(s->periodicReloadCount(), 0);
}

TEST_F(SchedulerTicks, TasksSharingAMinuteRunInOrder)
{
    auto s = make();
    settings.ReloadClientAccess = settings.ResaveTimeLog = settings.ReloadCaches = QStringLiteral("04:00");
    EXPECT_EQ(run(*s, QTime(3, 59, 59), 3),
              (QStringList{QStringLiteral("lists"), QStringLiteral("timelog"), QStringLiteral("cache")}));
}

TEST_F(SchedulerTicks, AFailingTaskIsReportedAndEndsItsTick)
{
    auto s = make();
    settings.ResaveTimeLog = settings.ReloadCaches = QStringLiteral("04:00");
    failTimeLog = true;
    EXPECT_EQ(run(*s, QTime(4, 0, 0), 1), QStringList{QStringLiteral("timelog")});
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("Error |  msg = [EFileError : cannot write]")});
    EXPECT_TRUE(s->timeLogMarker());
    // The next tick runs normally; the failed task is not retried in its minute.
    EXPECT_EQ(run(*s, QTime(4, 0, 1), 59), QStringList{QStringLiteral("cache")});
    EXPECT_EQ(ui.messages.size(), 1);
}

TEST_F(SchedulerTicks, StoppedServerOnlyRefreshesMemoryAndClock)
{
    auto s = make();
    running = false;
    settings.ReloadCaches = QStringLiteral("05:00");
    now = QDateTime(QDate(2026, 3, 15), QTime(5, 0, 0));
    int memory = 0;
    for (int i = 0; i < 600; ++i) {
        ran.clear();
        s->tick();
        memory += int(ran.removeAll(QStringLiteral("memory")));
        EXPECT_TRUE(ran.isEmpty());
        now = now.addSecs(1);
    }
    EXPECT_EQ(memory, 120);
    EXPECT_EQ(countsShown, 0);
    EXPECT_EQ(clockShown, QStringLiteral("05:09:59"));
    EXPECT_EQ(s->periodicReloadCount(), 0);
}
