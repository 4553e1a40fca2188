#include "common/mainthread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
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
class Dispatcher {
public:
    Dispatcher()
    {
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { drain(); });
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

    // Main thread: runs every hand-over waiting now, and those they queue.
    void drain()
    {
        quint64 count;
        [[maybe_unused]] ssize_t n = ::read(m_fd, &count, sizeof count);
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(m_mutex);
                if (m_queue.empty()) {
                    m_signalled = false;
                    return;
                }
                fn = std::move(m_queue.front());
                m_queue.pop_front();
            }
            fn();
        }
    }

private:
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue;
    bool m_signalled = false;
};

Dispatcher* g_dispatcher = nullptr;

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

}  // namespace veldra::mainthread
