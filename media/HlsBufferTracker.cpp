#include "media/HlsBufferTracker.h"

#include <algorithm>

void HlsBufferTracker::startSession(const QString &sessionId, const QString &timelineId)
{
    if (sessionId.isEmpty() || timelineId.isEmpty())
        return;
    const std::lock_guard lock(m_mutex);
    m_sessionTimelines.insert(sessionId, timelineId);
    if (!m_timelines.contains(timelineId))
        m_timelines.insert(timelineId, Timeline());
}

void HlsBufferTracker::removeSession(const QString &sessionId)
{
    const std::lock_guard lock(m_mutex);
    m_sessionTimelines.remove(sessionId);
}

void HlsBufferTracker::removeTimeline(const QString &timelineId)
{
    const std::lock_guard lock(m_mutex);
    m_timelines.remove(timelineId);
    m_sessionTimelines.removeIf([&timelineId](const auto &session) { return session.value() == timelineId; });
}

void HlsBufferTracker::activateRendition(const QString &sessionId, const QString &renditionId, qint64 nowMs)
{
    if (renditionId.isEmpty())
        return;
    const std::lock_guard lock(m_mutex);
    Timeline *timeline = timelineOf(sessionId);
    if (!timeline)
        return;
    timeline->activeRendition = renditionId;
    timeline->renditions[renditionId].lastUsedMs = nowMs;
}

void HlsBufferTracker::markCompleted(const QString &sessionId, const QString &renditionId, qint64 startMs,
                                     qint64 endMs, qint64 nowMs)
{
    if (sessionId.isEmpty() || renditionId.isEmpty() || startMs < 0 || startMs >= endMs)
        return;
    const std::lock_guard lock(m_mutex);
    Timeline *timeline = timelineOf(sessionId);
    if (!timeline)
        return;
    Rendition &rendition = timeline->renditions[renditionId];
    rendition.lastUsedMs = nowMs;
    rendition.spans.append(Span{startMs, endMs});
    rendition.spans = merged(std::move(rendition.spans));
}

void HlsBufferTracker::pruneInactiveRenditions(const QString &sessionId, int keep)
{
    const qsizetype limit = std::max(keep, 1);
    const std::lock_guard lock(m_mutex);
    Timeline *timeline = timelineOf(sessionId);
    if (!timeline)
        return;
    while (timeline->renditions.size() > limit) {
        auto candidate = timeline->renditions.end();
        for (auto rendition = timeline->renditions.begin(); rendition != timeline->renditions.end();
             ++rendition) {
            if (rendition.key() == timeline->activeRendition)
                continue;
            if (candidate == timeline->renditions.end() || rendition->lastUsedMs < candidate->lastUsedMs)
                candidate = rendition;
        }
        if (candidate == timeline->renditions.end())
            return;
        timeline->renditions.erase(candidate);
    }
}

HlsBufferTracker::Interval HlsBufferTracker::bufferedInterval(const QString &sessionId,
                                                              qint64 positionMs) const
{
    const std::lock_guard lock(m_mutex);
    const auto timeline = m_timelines.constFind(m_sessionTimelines.value(sessionId));
    if (timeline == m_timelines.constEnd())
        return {};
    const auto active = timeline->renditions.constFind(timeline->activeRendition);
    if (active == timeline->renditions.constEnd())
        return {};
    for (const Span &span : active->spans) {
        // startMs - LookAheadMs cannot overflow (start >= 0), unlike positionMs + LookAheadMs.
        if (span.startMs - LookAheadMs <= positionMs && span.endMs >= positionMs)
            return Interval{span.startMs, span.endMs, true};
    }
    return {};
}

QList<HlsBufferTracker::Span> HlsBufferTracker::merged(QList<Span> spans)
{
    std::sort(spans.begin(), spans.end(),
              [](const Span &left, const Span &right) { return left.startMs < right.startMs; });
    QList<Span> result;
    for (const Span &span : spans) {
        // Written as a difference: both starts and ends are at least 0, so nothing overflows.
        if (!result.isEmpty() && span.startMs - result.last().endMs <= MergeGapMs)
            result.last().endMs = std::max(result.last().endMs, span.endMs);
        else
            result.append(span);
    }
    return result;
}

HlsBufferTracker::Timeline *HlsBufferTracker::timelineOf(const QString &sessionId)
{
    // No timeline has an empty id, so an unknown session finds none.
    const auto timeline = m_timelines.find(m_sessionTimelines.value(sessionId));
    return timeline == m_timelines.end() ? nullptr : &*timeline;
}
