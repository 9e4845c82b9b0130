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

QByteArray TelemetryBuffer::compactText(const QJsonObject &event)
{
    return QJsonDocument(event).toJson(QJsonDocument::Compact);
}

bool TelemetryBuffer::isUsage(const QJsonObject &event)
{
    return event.value(kClass).toString() == kUsage;
}

void TelemetryBuffer::append(const QJsonObject &event)
{
    // Pruning runs on every add; parsing each date once keeps it a comparison of numbers.
    const QDateTime occurredAt =
        QDateTime::fromString(event.value(kOccurredAt).toString(), Qt::ISODateWithMs);
    Entry entry{event, compactText(event),
                occurredAt.isValid() ? std::optional(occurredAt.toMSecsSinceEpoch()) : std::nullopt};
    m_bytes += entry.text.size();
    m_events.append(std::move(entry));
}

template<typename Predicate>
qsizetype TelemetryBuffer::removeWhere(Predicate predicate)
{
    // One compaction pass; the predicate sees each entry once, in order, with its position.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        if (predicate(m_events.at(i), i)) {
            m_bytes -= m_events.at(i).text.size();
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
    const qint64 cutOffMs = m_clock().addDays(-kMaxAgeDays).toMSecsSinceEpoch();
    removeWhere(
        [&](const Entry &entry, qsizetype) { return !entry.occurredAtMs || *entry.occurredAtMs < cutOffMs; });
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
            remainingBytes -= m_events.at(i).text.size();
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
        m_bytes -= m_events.at(i).text.size();
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

QByteArray TelemetryBuffer::compactJson() const
{
    // The compact form of an array is its elements' compact texts, comma-separated, in brackets.
    QByteArray text;
    text.reserve(m_bytes + m_events.size() + 2);
    text.append('[');
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        if (i > 0)
            text.append(',');
        text.append(m_events.at(i).text);
    }
    text.append(']');
    return text;
}
