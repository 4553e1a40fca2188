// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Work-database connections kept for reuse across requests. A connection is used by one
// request at a time and goes back clean when its lease ends: when its session may hold
// anything a new connection would not have (DbConnection::mayHoldSessionState), it is
// reset there and then (its transaction rolled back, its locks released, its session
// forgotten and set up again, the work database selected again), so that nothing it
// holds outlives the request. A connection that cannot be cleaned, one found lost, and
// those of other parameters (TEST CONNECT) or of a cleared pool (STOP) are closed.
// Taking an idle connection costs no round trip: it was left clean, and one the server
// has closed or killed meanwhile is told by its socket. Any thread.
#include <memory>
#include <mutex>
#include <vector>

#include "db/dbconnection.h"

namespace veldra {

class DbConnectionPool {
public:
    explicit DbConnectionPool(size_t maxIdle = 32) : m_maxIdle(maxIdle) {}
    ~DbConnectionPool() { clear(); }
    DbConnectionPool(const DbConnectionPool&) = delete;
    DbConnectionPool& operator=(const DbConnectionPool&) = delete;

    // One connection, given back to the pool when the lease ends.
    class Lease {
    public:
        Lease(DbConnectionPool& pool, std::unique_ptr<DbConnection> connection)
            : m_pool(&pool), m_connection(std::move(connection))
        {
        }
        ~Lease()
        {
            if (m_connection) m_pool->release(std::move(m_connection));
        }
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = delete;
        DbConnection& operator*() const { return *m_connection; }
        DbConnection* operator->() const { return m_connection.get(); }

    private:
        DbConnectionPool* m_pool;
        std::unique_ptr<DbConnection> m_connection;
    };

    // An idle connection with these parameters, or else a new one, connected. Throws
    // DbError when no connection can be made.
    Lease acquire(const DbParams& params);
    // Drops every idle connection; those in use are dropped when they come back.
    void clear();
    // Drops every idle connection when `params` differ from those it holds.
    void useParams(const DbParams& params);
    size_t idleCount() const;

private:
    void release(std::unique_ptr<DbConnection> connection);
    std::unique_ptr<DbConnection> takeIdle(const DbParams& params);

    const size_t m_maxIdle;
    mutable std::mutex m_mutex;
    DbParams m_params;
    quint64 m_generation = 0;  // raised by clear(): connections of an older one are not kept
    std::vector<std::pair<std::unique_ptr<DbConnection>, quint64>> m_idle;
    std::vector<std::pair<const DbConnection*, quint64>> m_inUse;
};

}  // namespace veldra
