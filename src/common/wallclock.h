// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wall clock of the scheduler, the statistics, the cache ages and the log's file
// names: the system clock, or in tests any function that tells the time.
#include <QDateTime>
#include <concepts>
#include <functional>

namespace veldra {

class WallClock {
public:
    // The system clock.
    WallClock() = default;
    // A clock that reads `read` (for tests); an empty function is the system clock.
    template <class Read>
        requires std::is_invocable_r_v<QDateTime, Read&>
    WallClock(Read read) : m_read(std::move(read))
    {
    }

    // The local date and time.
    QDateTime now() const { return m_read ? m_read() : QDateTime::currentDateTime(); }

private:
    std::function<QDateTime()> m_read;
};

}  // namespace veldra
