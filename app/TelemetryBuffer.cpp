#include "app/TelemetryBuffer.h"

#include <QJsonDocument>
#include <algorithm>
#include <utility>

namespace {

const QString kOccurredAt = QStringLiteral("occurredAt");
const QString kClass = QStringLiteral("class");
const QString kId = QStringLiteral("id");
const QString kUsage = QStringLiteral("usage");

} // namespace

TelemetryBuffer::TelemetryBuffer(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
{
}

qint64 TelemetryBuffer::sizeOf(const QJsonObject &event)
{
    return QJsonDocument(event).toJson(QJsonDocument::Compact).size();
}

bool TelemetryBuffer::isUsage(const QJsonObject &event)
{
    return event.value(kClass).toString() == kUsage;
}

void TelemetryBuffer::append(const QJsonObject &event)
{
    const qint64 size = sizeOf(event);
    m_events.append({event, size});
    m_bytes += size;
}

template<typename Predicate>
qsizetype TelemetryBuffer::removeWhere(Predicate predicate)
{
    // One compaction pass; the predicate sees each entry once, in order, with its position.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        if (predicate(m_events.at(i), i)) {
            m_bytes -= m_events.at(i).size;
            continue;
        }
        if (kept != i)
            m_events[kept] = std::move(m_events[i]);
        ++kept;
    }
    const qsizetype removed = m_events.size() - kept;
    m_events.resize(kept);
    return removed;
}

void TelemetryBuffer::add(const QJsonObject &event)
{
    pruneExpired();
    append(event);
    enforceLimits();
}

void TelemetryBuffer::pruneExpired()
{
    const QDateTime cutOff = m_clock().addDays(-kMaxAgeDays);
    removeWhere([&](const Entry &entry, qsizetype) {
        const QDateTime occurredAt =
            QDateTime::fromString(entry.event.value(kOccurredAt).toString(), Qt::ISODateWithMs);
        return !occurredAt.isValid() || occurredAt < cutOff;
    });
}

void TelemetryBuffer::enforceLimits()
{
    qsizetype remaining = m_events.size();
    qint64 remainingBytes = m_bytes;
    const auto overLimit = [&] { return remaining > kMaxEvents || remainingBytes > kMaxBytes; };
    if (!overLimit())
        return;

    // Evicting one at a time means every usage event, oldest first, then the oldest of the
    // rest; marking them in two passes gives the same result without quadratic removal.
    QList<bool> evicted(m_events.size(), false);
    const auto evictWhere = [&](auto eligible) {
        for (qsizetype i = 0; i < m_events.size() && overLimit(); ++i) {
            if (evicted.at(i) || !eligible(m_events.at(i)))
                continue;
            evicted[i] = true;
            --remaining;
            remainingBytes -= m_events.at(i).size;
        }
    };
    evictWhere([](const Entry &entry) { return isUsage(entry.event); });
    evictWhere([](const Entry &) { return true; });

    removeWhere([&](const Entry &, qsizetype index) { return evicted.at(index); });
}

void TelemetryBuffer::restore(const QJsonArray &array)
{
    m_events.clear();
    m_bytes = 0;
    for (const QJsonValue &element : array) {
        if (element.isObject())
            append(element.toObject());
    }
    pruneExpired();
    enforceLimits();
}

QJsonArray TelemetryBuffer::batch(qint64 maxCount) const
{
    QJsonArray events;
    const qint64 count = std::clamp<qint64>(maxCount, 0, m_events.size());
    for (qsizetype i = 0; i < count; ++i)
        events.append(m_events.at(i).event);
    return events;
}

void TelemetryBuffer::removeFirst(qint64 count)
{
    const qint64 removed = std::clamp<qint64>(count, 0, m_events.size());
    for (qsizetype i = 0; i < removed; ++i)
        m_bytes -= m_events.at(i).size;
    m_events.remove(0, removed);
}

qsizetype TelemetryBuffer::removeIds(const QSet<QString> &ids)
{
    return removeWhere(
        [&](const Entry &entry, qsizetype) { return ids.contains(entry.event.value(kId).toString()); });
}

void TelemetryBuffer::purgeUsage()
{
    removeWhere([](const Entry &entry, qsizetype) { return isUsage(entry.event); });
}

QJsonArray TelemetryBuffer::json() const
{
    return batch(m_events.size());
}
