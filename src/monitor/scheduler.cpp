// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/scheduler.h"

#include <QTimer>

#include "common/errors.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/regional.h"

namespace veldra {

Scheduler::Scheduler(SchedulerTasks tasks, OperatorUi& ui, Clock clock, LongTimeFormat longTime)
    : m_tasks(std::move(tasks)), m_ui(ui), m_clock(std::move(clock)), m_longTime(std::move(longTime))
{
}

Scheduler::~Scheduler() = default;

void Scheduler::startTimer()
{
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        m_timer->setObjectName(QStringLiteral("Timer1"));
        m_timer->setInterval(1000);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] { tick(); });
    }
    m_timer->start();
}

void Scheduler::stopTimer()
{
    if (m_timer) m_timer->stop();
}

bool Scheduler::timeMatches(const QString& time, const QString& clockText)
{
    return clockText.left(5) == time || u'0' + clockText.left(4) == time;
}

QString Scheduler::clockText() const
{
    const QDateTime now = m_clock.now();
    return m_longTime ? m_longTime(now.time()) : regional::longTime(now.time());
}

bool Scheduler::matchesNow(const QString& time) const
{
    // Each test formats the current time anew.
    return clockText().left(5) == time || u'0' + clockText().left(4) == time;
}

void Scheduler::dailyStep(bool& marker, const QString& time, const std::function<void()>& action)
{
    const bool matches = matchesNow(time);
    if (!marker && matches) {
        marker = true;
        if (action) action();
    } else if (marker && !matches) {
        marker = false;
    }
}

void Scheduler::tick()
{
    VELDRA_ASSERT_MAIN_THREAD();
    // A tick that comes while the main thread waits for a database or a file walk is
    // dropped, as it would be by a thread blocked in that wait.
    if (mainthread::inLongWait()) return;
    try {
        runTick();
    } catch (const std::exception& e) {
        m_ui.showMessage(errorDetails(e));
    }
}

void Scheduler::runTick()
{
    if (++m_memoryTicks >= kMemoryTicks) {
        m_memoryTicks = 0;
        if (m_tasks.showMemory) m_tasks.showMemory();
    }
    if (m_tasks.showClock) m_tasks.showClock(clockText());
    if (!m_tasks.serverRunning || !m_tasks.serverRunning()) return;

    if (m_tasks.showCounts) m_tasks.showCounts();
    const TServerSettings settings = m_tasks.runningSettings ? m_tasks.runningSettings() : TServerSettings{};

    if (++m_periodicReloads >= kPeriodicReloadTicks) {
        m_periodicReloads = 0;
        if (m_tasks.loadClientLists) m_tasks.loadClientLists();
    } else {
        dailyStep(m_clientAccessDone, settings.ReloadClientAccess, [this] {
            if (m_tasks.loadClientLists) m_tasks.loadClientLists();
            m_periodicReloads = 0;
        });
    }
    dailyStep(m_timeLogDone, settings.ResaveTimeLog, m_tasks.saveTimeLog);
    dailyStep(m_cacheDone, settings.ReloadCaches, m_tasks.cleanCache);
}

}  // namespace veldra
