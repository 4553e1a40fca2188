// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one-second timer of the console: the memory line, the clock, and while the
// server runs the counts, the access-list reloads (every 300 ticks and daily), the
// daily time-log save and the daily cache cleaning. Main thread.
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

#include "common/wallclock.h"
#include "config/serversettings.h"

class QTimer;

namespace veldra {

class OperatorUi;

// What the ticks run; the scheduler only decides when.
struct SchedulerTasks {
    std::function<bool()> serverRunning;
    // The running settings: ResaveTimeLog, ReloadClientAccess, ReloadCaches.
    std::function<TServerSettings()> runningSettings;
    std::function<void()> showMemory;
    std::function<void(const QString& clockText)> showClock;
    std::function<void()> showCounts;
    std::function<void()> loadClientLists;  // LoadListClientsAccess
    std::function<void()> saveTimeLog;
    std::function<void()> cleanCache;  // CleanCacheByPolicies, with its precondition
};

class Scheduler {
public:
    using Clock = WallClock;
    // The long time format of the clock text (HH:mm:ss by default).
    using LongTimeFormat = std::function<QString(const QTime&)>;

    static constexpr int kMemoryTicks = 5;
    static constexpr int kPeriodicReloadTicks = 300;

    Scheduler(SchedulerTasks tasks, OperatorUi& ui, Clock clock = {}, LongTimeFormat longTime = {});
    ~Scheduler();

    // One tick. A failing task is shown to the operator and ends the tick.
    void tick();
    // Ticks every 1000 ms in the calling thread's event loop.
    void startTimer();
    void stopTimer();

    // A daily time hh:mm against the clock: its first five characters, or "0" and its
    // first four characters.
    static bool timeMatches(const QString& time, const QString& clockText);

    int memoryTickCount() const { return m_memoryTicks; }
    int periodicReloadCount() const { return m_periodicReloads; }
    bool clientAccessMarker() const { return m_clientAccessDone; }
    bool timeLogMarker() const { return m_timeLogDone; }
    bool cacheMarker() const { return m_cacheDone; }

private:
    QString clockText() const;
    bool matchesNow(const QString& time) const;
    void dailyStep(bool& marker, const QString& time, const std::function<void()>& action);
    void runTick();

    SchedulerTasks m_tasks;
    OperatorUi& m_ui;
    Clock m_clock;
    LongTimeFormat m_longTime;
    int m_memoryTicks = 0;
    int m_periodicReloads = 0;
    bool m_clientAccessDone = false;
    bool m_timeLogDone = false;
    bool m_cacheDone = false;
    std::unique_ptr<QTimer> m_timer;
};

}  // namespace veldra
