// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/mainthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <sys/eventfd.h>
#include <thread>
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
class Dispatcher {
public:
    static constexpr int kBatchMs = 3;

    Dispatcher()
    {
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { drain(); });
        m_batch = new QTimer(QCoreApplication::instance());
        m_batch->setSingleShot(true);
        m_batch->setInterval(kBatchMs);
        QObject::connect(m_batch, &QTimer::timeout, m_batch, [this] { drain(); });
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

    // Main thread: runs every hand-over waiting now, and those they queue. When there
    // were some, the next ones are collected for kBatchMs before they run.
    void drain()
    {
        quint64 count;
        [[maybe_unused]] ssize_t n = ::read(m_fd, &count, sizeof count);
        bool ran = false;
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(m_mutex);
                if (m_queue.empty()) {
                    // Stay signalled (no wake-ups) while the timer collects; with
                    // nothing run, wake at once again.
                    if (!ran) m_signalled = false;
                    break;
                }
                fn = std::move(m_queue.front());
                m_queue.pop_front();
            }
            ran = true;
            fn();
        }
        if (ran) m_batch->start();
    }

private:
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
    dispatcher().drain();
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
    dispatcher().drain();
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

}  // namespace veldra::mainthread
