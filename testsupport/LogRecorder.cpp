#include "testsupport/LogRecorder.h"

#include "app/DiagnosticLogger.h"

#include <QMutexLocker>

namespace quorin::test {

LogRecorder::LogRecorder()
    : m_state(std::make_shared<State>())
{
    // The sink holds the state, so a record logged while the recorder goes away still lands safely.
    DiagnosticLogger::setRemoteSink([state = m_state](const QString &category, const QString &level,
                                                      const QString &event, const QVariantMap &fields,
                                                      bool detailedOnly) {
        const QMutexLocker locker(&state->mutex);
        state->records.append({category, level, event, fields, detailedOnly});
    });
}

LogRecorder::~LogRecorder()
{
    DiagnosticLogger::setRemoteSink({});
}

QList<LogRecorder::Record> LogRecorder::records() const
{
    const QMutexLocker locker(&m_state->mutex);
    // A buffer of its own, made under the lock: a copy sharing the recorder's buffer would be
    // detached later, outside the lock, while a logging thread appends to the original.
    QList<Record> copy = m_state->records;
    copy.detach();
    return copy;
}

QList<LogRecorder::Record> LogRecorder::inCategory(const QString &category) const
{
    QList<Record> matching;
    for (const Record &record : records()) {
        if (record.category == category)
            matching.append(record);
    }
    return matching;
}

QList<LogRecorder::Record> LogRecorder::withEvent(const QString &event) const
{
    QList<Record> matching;
    for (const Record &record : records()) {
        if (record.event == event)
            matching.append(record);
    }
    return matching;
}

void LogRecorder::clear()
{
    const QMutexLocker locker(&m_state->mutex);
    m_state->records.clear();
}

} // namespace quorin::test
