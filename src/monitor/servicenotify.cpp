// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/servicenotify.h"

#ifdef VELDRA_HAVE_SYSTEMD
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <systemd/sd-daemon.h>
#include <thread>
#endif

namespace veldra::service {

#ifdef VELDRA_HAVE_SYSTEMD

namespace {

// sd_notify sends with a blocking call, which waits while the service manager does not
// read its socket. The main thread only queues; a thread of its own sends. A queue that
// is full drops the oldest watchdog message first (a later one says the same).
class Sender {
public:
    static Sender& instance()
    {
        static Sender* s = new Sender;  // its thread may outlive main()
        return *s;
    }
    void queue(const QByteArray& state)
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= kMax) {
            auto watchdog = std::find(m_queue.begin(), m_queue.end(), QByteArrayLiteral("WATCHDOG=1"));
            if (watchdog == m_queue.end()) return;
            m_queue.erase(watchdog);
        }
        m_queue.push_back(state);
        m_wake.notify_one();
    }

private:
    static constexpr size_t kMax = 16;
    Sender()
    {
        std::thread([this] {
            std::unique_lock lock(m_mutex);
            for (;;) {
                m_wake.wait(lock, [&] { return !m_queue.empty(); });
                const QByteArray state = m_queue.front();
                m_queue.pop_front();
                lock.unlock();
                sd_notify(0, state.constData());
                lock.lock();
            }
        }).detach();
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_queue;
};

}  // namespace

bool notificationsBuiltIn() { return true; }

void notify(const QByteArray& state)
{
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return;
    Sender::instance().queue(state);
}

quint64 watchdogIntervalUsec()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? quint64(usec) : 0;
}

#else

bool notificationsBuiltIn() { return false; }
void notify(const QByteArray&) {}
quint64 watchdogIntervalUsec() { return 0; }

#endif

}  // namespace veldra::service
