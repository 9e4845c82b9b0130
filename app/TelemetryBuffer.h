#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// The telemetry events waiting to be sent, oldest first, kept within fixed bounds: at most
// 1000 events, at most 1 MiB of compact JSON, none older than 7 days. When a bound is passed,
// usage events go before reliability events, however new. Not synchronised: one thread owns it.
class TelemetryBuffer
{
public:
    using Clock = std::function<QDateTime()>;

    static constexpr qsizetype kMaxEvents = 1000;
    static constexpr qint64 kMaxBytes = 1048576;
    static constexpr qint64 kMaxAgeDays = 7;

    // clock gives the current time for pruning; the system clock when empty.
    explicit TelemetryBuffer(Clock clock = {});

    void add(const QJsonObject &event);
    void pruneExpired();
    void enforceLimits();
    // Replaces the content with the array's object elements; other elements are skipped.
    void restore(const QJsonArray &array);
    [[nodiscard]] QJsonArray batch(qint64 maxCount) const;
    void removeFirst(qint64 count);
    // Removes the events whose id is listed, wherever they stand; returns how many went.
    qsizetype removeIds(const QSet<QString> &ids);
    void purgeUsage();
    [[nodiscard]] QJsonArray json() const;
    // The compact JSON text of json(), joined from each event's text as it was serialised on
    // entry: the whole queue is written on every change, and re-serialising it costs frames.
    [[nodiscard]] QByteArray compactJson() const;

    [[nodiscard]] qsizetype count() const { return m_events.size(); }
    [[nodiscard]] bool isEmpty() const { return m_events.isEmpty(); }
    [[nodiscard]] qint64 bytes() const { return m_bytes; }
    [[nodiscard]] QJsonObject at(qsizetype index) const { return m_events.at(index).event; }

    // The size an event counts for: its compact JSON text in UTF-8 bytes.
    [[nodiscard]] static qint64 sizeOf(const QJsonObject &event) { return compactText(event).size(); }
    [[nodiscard]] static bool isUsage(const QJsonObject &event);

private:
    struct Entry
    {
        QJsonObject event;
        QByteArray text;                    // compact JSON, serialised once, when the event enters
        std::optional<qint64> occurredAtMs; // parsed once; none when unreadable
    };

    [[nodiscard]] static QByteArray compactText(const QJsonObject &event);
    void append(const QJsonObject &event);
    // Drops the entries the predicate (entry, position) selects, keeping the order of the rest.
    template<typename Predicate>
    qsizetype removeWhere(Predicate predicate);

    QList<Entry> m_events;
    qint64 m_bytes = 0;
    Clock m_clock;
};
