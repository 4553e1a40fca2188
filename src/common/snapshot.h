// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An immutable value that one thread replaces while others read it: readers take the
// whole current version in one step and keep it as long as they need it.
#include <memory>
#include <mutex>
#include <utility>

namespace veldra {

template <class T>
class Snapshot {
public:
    Snapshot() : m_value(std::make_shared<const T>()) {}
    explicit Snapshot(T value) : m_value(std::make_shared<const T>(std::move(value))) {}

    std::shared_ptr<const T> load() const
    {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void store(T value)
    {
        auto next = std::make_shared<const T>(std::move(value));
        std::lock_guard lock(m_mutex);
        m_value.swap(next);
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const T> m_value;
};

}  // namespace veldra
