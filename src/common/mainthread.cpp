// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/mainthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <sys/eventfd.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace veldra::mainthread {
namespace {

// Hand-overs wait in our own queue; an eventfd wakes the main thread's event loop.
// Nothing of a hand-over passes through Qt's cross-thread machinery, so every
// ordering between the threads is one a race checker can see.
//
// Under load a wake-up per hand-over would cost the main thread more than the
// hand-overs themselves: once the main thread has run what it found, hand-overs that
// arrive within the next few milliseconds wait for it without waking it, and a timer
// runs them together. An idle queue goes back to waking at once.
//
// One run of the event loop takes at most kMaxBatch hand-overs, and never those queued
// while it runs them: whatever the load, the window's input, paint and accessibility
// events get their turn between two batches.
class Dispatcher {
public:
    static constexpr int kBatchMs = 3;
    static constexpr size_t kMaxBatch = 4096;

    Dispatcher()
    {
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { drainBatch(); });
        m_batch = new QTimer(QCoreApplication::instance());
        m_batch->setSingleShot(true);
        QObject::connect(m_batch, &QTimer::timeout, m_batch, [this] { drainBatch(); });
    }

    void push(std::function<void()> fn)
    {
        bool wake;
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(fn));
            // one wake-up until the main thread has emptied the queue
            wake = !m_signalled;
            m_signalled = true;
        }
        if (!wake) return;
        const quint64 one = 1;
        ssize_t n;
        do {
            n = ::write(m_fd, &one, sizeof one);
        } while (n < 0 && errno == EINTR);
    }

    // Main thread, from the event loop: runs one batch of what is waiting. When there was
    // some, the next batch is collected for kBatchMs (none when more is waiting already).
    void drainBatch()
    {
        const size_t left = run(kMaxBatch);
        if (left == kNothing) return;
        m_batch->start(left > 0 ? 0 : kBatchMs);
    }

    // Main thread: runs every hand-over waiting now (not those they queue).
    void drainWaiting()
    {
        size_t waiting;
        {
            std::lock_guard lock(m_mutex);
            waiting = m_queue.size();
        }
        while (waiting > 0) {
            const size_t n = std::min(waiting, kMaxBatch);
            const size_t left = run(n);
            if (left == kNothing) break;
            waiting -= n;
        }
        if (m_batch->isActive()) return;
        bool more;
        {
            std::lock_guard lock(m_mutex);
            more = !m_queue.empty();
            // with nothing waiting and no timer to come, the next push wakes at once
            if (!more) m_signalled = false;
        }
        if (more) m_batch->start(0);
    }

private:
    static constexpr size_t kNothing = size_t(-1);

    // Runs at most `limit` hand-overs from the front of the queue; returns how many are
    // still waiting, or kNothing when none was there (the next push wakes at once).
    // A hand-over that throws puts the rest of its batch back in front, in order.
    size_t run(size_t limit)
    {
        quint64 count;
        [[maybe_unused]] ssize_t n = ::read(m_fd, &count, sizeof count);
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) {
                // Stay signalled (no wake-ups) while the timer collects; with nothing
                // waiting, wake at once again.
                if (!m_batch->isActive()) m_signalled = false;
                return kNothing;
            }
            const size_t take = std::min(limit, m_queue.size());
            batch.reserve(take);
            for (size_t i = 0; i < take; ++i) {
                batch.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
        }
        size_t next = 0;
        struct Rest {
            Dispatcher& d;
            std::vector<std::function<void()>>& batch;
            size_t& next;
            ~Rest()
            {
                if (next >= batch.size()) return;
                {
                    std::lock_guard lock(d.m_mutex);
                    for (size_t i = batch.size(); i > next; --i) d.m_queue.push_front(std::move(batch[i - 1]));
                }
                d.m_batch->start(0);
            }
        } rest{*this, batch, next};
        while (next < batch.size()) {
            std::function<void()> fn = std::move(batch[next++]);
            fn();
        }
        std::lock_guard lock(m_mutex);
        return m_queue.size();
    }

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_batch = nullptr;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue;
    bool m_signalled = false;
};

Dispatcher* g_dispatcher = nullptr;

std::function<void(const QString&)> g_waitBegin;
std::function<void()> g_waitEnd;
int g_waitDepth = 0;

Dispatcher& dispatcher()
{
    Q_ASSERT_X(g_dispatcher, "mainthread", "install() was not called");
    return *g_dispatcher;
}

}  // namespace

void install()
{
    if (!g_dispatcher) g_dispatcher = new Dispatcher;
}

bool isMainThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void assertMainThread(const char* where)
{
    auto* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) qFatal("%s: called outside the main thread", where);
}

void runSync(const std::function<void()>& fn)
{
    if (isMainThread()) {
        fn();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::exception_ptr failure;
    dispatcher().push([&] {
        try {
            fn();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(m);
        done = true;
        cv.notify_one();
    });
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

void post(std::function<void()> fn) { dispatcher().push(std::move(fn)); }

void servePending()
{
    dispatcher().drainWaiting();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void serveUntil(const std::function<bool()>& done)
{
    while (!done()) {
        servePending();
        if (done()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // what was handed over before `done` came true
    dispatcher().drainWaiting();
}

void runLongWait(const QString& what, const std::function<void()>& fn)
{
    if (!isMainThread() || !g_waitBegin || !g_dispatcher) {
        fn();
        return;
    }
    std::exception_ptr failure;
    QEventLoop loop;
    // The helper's last act is a hand-over that ends the loop; hand-overs run only
    // inside the loop, so it cannot be lost before the loop starts.
    std::thread helper([&] {
        try {
            fn();
        } catch (...) {
            failure = std::current_exception();
        }
        post([&loop] { loop.quit(); });
    });
    ++g_waitDepth;
    if (g_waitDepth == 1) g_waitBegin(what);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    helper.join();
    if (--g_waitDepth == 0 && g_waitEnd) g_waitEnd();
    if (failure) std::rethrow_exception(failure);
}

bool inLongWait() { return g_waitDepth > 0; }

void setLongWaitIndicator(std::function<void(const QString& what)> begin, std::function<void()> end)
{
    g_waitBegin = std::move(begin);
    g_waitEnd = std::move(end);
}

struct CoalescedCount::State {
    std::atomic<quint64> pending{0};
    std::function<void(quint64)> run;
};

CoalescedCount::CoalescedCount(std::function<void(quint64)> run) : m_state(std::make_shared<State>())
{
    m_state->run = std::move(run);
}

void CoalescedCount::add()
{
    // Only the count that finds none waiting hands over; the hand-over takes them all.
    if (m_state->pending.fetch_add(1, std::memory_order_acq_rel) != 0) return;
    post([state = m_state] {
        const quint64 n = state->pending.exchange(0, std::memory_order_acq_rel);
        if (n > 0) state->run(n);
    });
}

}  // namespace veldra::mainthread
