#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>
#include <mutex>

// Which stretches of media time the proxy has delivered to the player, per rendition, so that
// playback control can tell how far ahead of the playing position the player holds data. Data
// is kept per timeline, not per proxy session: a stream keeps its timeline while it is rebuilt or
// switched to another quality, and the delivered intervals survive the change.
//
// Every operation holds the one mutex for its whole run and calls out to nothing while holding it.
class HlsBufferTracker
{
public:
    // Gaps this short or shorter between delivered intervals are merged away, and a position
    // this close before an interval counts as inside it.
    static constexpr qint64 MergeGapMs = 500;
    static constexpr qint64 LookAheadMs = 500;

    struct Interval
    {
        qint64 startMs = 0;
        qint64 endMs = 0;
        bool found = false;
    };

    // Maps the session to the timeline; an existing timeline keeps its intervals. Empty ids do
    // nothing.
    void startSession(const QString &sessionId, const QString &timelineId);
    void removeSession(const QString &sessionId);
    // Drops the timeline with its intervals and every session mapped to it.
    void removeTimeline(const QString &timelineId);

    void activateRendition(const QString &sessionId, const QString &renditionId, qint64 nowMs);
    // Records [startMs, endMs) as delivered; ignored unless both ids are set, 0 <= start < end
    // and the session has a timeline.
    void markCompleted(const QString &sessionId, const QString &renditionId, qint64 startMs, qint64 endMs,
                       qint64 nowMs);
    // Removes the least recently used renditions until at most keep (at least 1) are left; the
    // active rendition always stays.
    void pruneInactiveRenditions(const QString &sessionId, int keep);
    // The first interval of the active rendition that holds the position or begins at most
    // LookAheadMs after it.
    [[nodiscard]] Interval bufferedInterval(const QString &sessionId, qint64 positionMs) const;

private:
    struct Span
    {
        qint64 startMs = 0;
        qint64 endMs = 0;
    };
    struct Rendition
    {
        QList<Span> spans; // sorted by start, start < end, gaps wider than MergeGapMs
        qint64 lastUsedMs = 0;
    };
    struct Timeline
    {
        // Ordered, so that among renditions used at the same time the one pruned is always the
        // same.
        QMap<QString, Rendition> renditions;
        QString activeRendition;
    };

    [[nodiscard]] static QList<Span> merged(QList<Span> spans);
    // The session's timeline record, or null; needs m_mutex held.
    Timeline *timelineOf(const QString &sessionId);

    mutable std::mutex m_mutex;
    QHash<QString, QString> m_sessionTimelines; // session id to timeline id
    QHash<QString, Timeline> m_timelines;
};
