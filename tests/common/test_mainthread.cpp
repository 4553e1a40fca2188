// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <thread>
#include <vector>

#include "common/mainthread.h"

using namespace veldra;

namespace {

// Runs the main thread's event loop until `done` or 20 seconds.
bool runLoopUntil(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

}  // namespace

TEST(MainThreadHandOver, ABurstIsServedInBatchesWithTheMainThreadsOwnEventsBetween)
{
    constexpr int kThreads = 4;
    constexpr int kEach = 20000;
    std::vector<std::pair<int, int>> ran;  // thread, sequence number; main thread only
    ran.reserve(kThreads * kEach + 1);
    // The first hand-over asks for an event of the main thread's own; it must not wait
    // for the whole burst.
    mainthread::post([&] { QTimer::singleShot(0, [&] { ran.emplace_back(-1, 0); }); });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ran, t] {
            for (int i = 0; i < kEach; ++i) mainthread::post([&ran, t, i] { ran.emplace_back(t, i); });
        });
    for (auto& th : threads) th.join();

    ASSERT_TRUE(runLoopUntil([&] { return ran.size() == size_t(kThreads * kEach + 1); })) << ran.size();
    std::vector<int> next(kThreads, 0);
    size_t markerAt = 0;
    for (size_t i = 0; i < ran.size(); ++i) {
        const auto [t, n] = ran[i];
        if (t < 0) {
            markerAt = i;
            continue;
        }
        ASSERT_EQ(n, next[size_t(t)]) << "thread " << t;  // each thread's order kept
        ++next[size_t(t)];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[size_t(t)], kEach);
    EXPECT_LT(markerAt, ran.size() / 4) << "the main thread's own event waited for the burst";
}

TEST(MainThreadHandOver, ServePendingRunsAllThatWaitsAndLaterHandOversStillWake)
{
    int count = 0;
    std::thread([&] {
        for (int i = 0; i < 10000; ++i) mainthread::post([&] { ++count; });
    }).join();
    mainthread::servePending();
    EXPECT_EQ(count, 10000);  // more than one batch, all served

    // Once the queue is empty, the next hand-over wakes the main thread again, with no
    // servePending() to find it.
    bool late = false;
    std::thread([&] { mainthread::post([&] { late = true; }); }).join();
    EXPECT_TRUE(runLoopUntil([&] { return late; }));

    // A hand-over queued by a hand-over runs too, in a later batch.
    bool inner = false;
    std::thread([&] { mainthread::post([&] { mainthread::post([&] { inner = true; }); }); }).join();
    EXPECT_TRUE(runLoopUntil([&] { return inner; }));
}
