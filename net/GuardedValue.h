#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <utility>

namespace quorin {

// A process-wide setting that any thread may read or replace, such as a hook installed at start-up
// or by a test: every access takes its own mutex, and readers get a copy.
template<typename T>
class GuardedValue
{
public:
    void set(T value)
    {
        const QMutexLocker locker(&m_mutex);
        m_value = std::move(value);
    }

    [[nodiscard]] T get() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_value;
    }

private:
    mutable QMutex m_mutex;
    T m_value{};
};

} // namespace quorin
