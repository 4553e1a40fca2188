#include "common/mainthread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <exception>
#include <thread>

namespace veldra::mainthread {
namespace {

QObject* g_dispatcher = nullptr;

QObject* dispatcher()
{
    if (!g_dispatcher) {
        // Created on first use from the main thread when install() was not called.
        Q_ASSERT(QCoreApplication::instance());
        g_dispatcher = new QObject(QCoreApplication::instance());
    }
    return g_dispatcher;
}

}  // namespace

void install()
{
    if (!g_dispatcher) g_dispatcher = new QObject(QCoreApplication::instance());
}

bool isMainThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void runSync(const std::function<void()>& fn)
{
    if (isMainThread()) {
        fn();
        return;
    }
    // The wait is on our own mutex and condition variable rather than Qt's blocking
    // queued call, so that race checkers see the hand-over as the ordering it is.
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        dispatcher(),
        [&] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(m);
            done = true;
            cv.notify_one();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

void post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(dispatcher(), std::move(fn), Qt::QueuedConnection);
}

void servePending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void serveUntil(const std::function<bool()>& done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (done()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace veldra::mainthread
