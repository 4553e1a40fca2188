// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A bounded pool of threads for short tasks: threads are started as tasks arrive, at
// most `maxThreads` at once; a task that finds them all busy waits its turn (none is
// dropped). A thread that has waited `idleTime` for work ends.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace veldra {

class ThreadPool {
public:
    explicit ThreadPool(int maxThreads, std::chrono::milliseconds idleTime = std::chrono::seconds(30));
    // Waits for every queued task to run and every thread to end.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues a task. Throws std::system_error when no thread runs and none can be started.
    void submit(std::function<void()> task);

private:
    void run();

    const int m_max;
    const std::chrono::milliseconds m_idle;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    int m_threads = 0;
    int m_idleThreads = 0;
    bool m_stopping = false;
    // Threads that ended on their own, joined by the next submit or the destructor.
    std::vector<std::thread::id> m_ended;
    std::vector<std::thread> m_all;
};

}  // namespace veldra
