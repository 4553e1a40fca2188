// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/dbpool.h"

#include <algorithm>

namespace veldra {

std::unique_ptr<DbConnection> DbConnectionPool::takeIdle(const DbParams& params)
{
    std::lock_guard lock(m_mutex);
    if (!(params == m_params)) return nullptr;
    if (m_idle.empty()) return nullptr;
    auto [connection, generation] = std::move(m_idle.back());
    m_idle.pop_back();
    m_inUse.emplace_back(connection.get(), generation);
    return std::move(connection);
}

DbConnectionPool::Lease DbConnectionPool::acquire(const DbParams& params)
{
    useParams(params);
    // The idle connections are tried newest first; one the server has closed is dropped.
    while (std::unique_ptr<DbConnection> connection = takeIdle(params)) {
        if (connection->looksAlive()) return Lease(*this, std::move(connection));
        std::lock_guard lock(m_mutex);
        std::erase_if(m_inUse, [&](const auto& u) { return u.first == connection.get(); });
    }
    auto connection = std::make_unique<DbConnection>(params);
    connection->connect();
    {
        std::lock_guard lock(m_mutex);
        m_inUse.emplace_back(connection.get(), m_generation);
    }
    return Lease(*this, std::move(connection));
}

void DbConnectionPool::release(std::unique_ptr<DbConnection> connection)
{
    if (!connection) return;
    auto keeps = [&](quint64 generation) {
        // a lost connection has closed itself
        return connection->connected() && generation == m_generation && connection->params() == m_params &&
               m_idle.size() < m_maxIdle;
    };
    quint64 generation = 0;
    bool keep = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_inUse.begin(), m_inUse.end(), [&](const auto& u) { return u.first == connection.get(); });
        generation = it == m_inUse.end() ? m_generation + 1 : it->second;
        keep = keeps(generation);
        if (!keep && it != m_inUse.end()) m_inUse.erase(it);
    }
    // One that is not kept is closed, which ends its session on the server as well.
    if (!keep) return;
    // Cleaned outside the lock: a reset waits for the server. One that fails is closed.
    connection->clean();
    std::unique_ptr<DbConnection> drop;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_inUse, [&](const auto& u) { return u.first == connection.get(); });
        if (keeps(generation))
            m_idle.emplace_back(std::move(connection), generation);
        else
            drop = std::move(connection);
    }
}

void DbConnectionPool::clear()
{
    std::vector<std::pair<std::unique_ptr<DbConnection>, quint64>> idle;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        idle.swap(m_idle);
    }
}

void DbConnectionPool::useParams(const DbParams& params)
{
    {
        std::lock_guard lock(m_mutex);
        if (params == m_params) return;
        m_params = params;
    }
    clear();
}

size_t DbConnectionPool::idleCount() const
{
    std::lock_guard lock(m_mutex);
    return m_idle.size();
}

}  // namespace veldra
