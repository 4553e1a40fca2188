// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/threadpool.h"

#include <algorithm>

namespace veldra {

ThreadPool::ThreadPool(int maxThreads, std::chrono::milliseconds idleTime)
    : m_max(std::max(1, maxThreads)), m_idle(idleTime)
{
}

ThreadPool::~ThreadPool()
{
    std::vector<std::thread> all;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        all.swap(m_all);
    }
    m_wake.notify_all();
    for (std::thread& t : all)
        if (t.joinable()) t.join();
}

void ThreadPool::submit(std::function<void()> task)
{
    std::vector<std::thread> done;
    {
        std::unique_lock lock(m_mutex);
        // join the threads that ended on their own
        for (auto it = m_all.begin(); it != m_all.end();) {
            if (std::find(m_ended.begin(), m_ended.end(), it->get_id()) != m_ended.end()) {
                done.push_back(std::move(*it));
                it = m_all.erase(it);
            } else {
                ++it;
            }
        }
        m_ended.clear();
        m_queue.push_back(std::move(task));
        if (m_idleThreads < int(m_queue.size()) && m_threads < m_max) {
            try {
                m_all.emplace_back([this] { run(); });
                ++m_threads;
            } catch (...) {
                if (m_threads == 0) {
                    m_queue.pop_back();
                    throw;
                }
                // the threads there are take it in turn
            }
        }
    }
    m_wake.notify_one();
    for (std::thread& t : done) t.join();
}

void ThreadPool::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idleThreads;
        const bool woken = m_wake.wait_for(lock, m_idle, [this] { return m_stopping || !m_queue.empty(); });
        --m_idleThreads;
        if (m_queue.empty() && (m_stopping || !woken)) {
            --m_threads;
            if (!m_stopping) m_ended.push_back(std::this_thread::get_id());
            return;
        }
        std::function<void()> task = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
}

}  // namespace veldra
