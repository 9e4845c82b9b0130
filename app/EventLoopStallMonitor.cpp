#include "app/EventLoopStallMonitor.h"

#include "app/DiagnosticLogger.h"
#include "app/UiPerformanceTracker.h"

EventLoopStallMonitor::EventLoopStallMonitor(Clock clock, StallHandler onStall, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_onStall(std::move(onStall))
{
    if (!m_clock)
        m_clock = [this] { return m_elapsed.elapsed(); };
    if (!m_onStall)
        m_onStall = [](qint64 stallMs) { UiPerformanceTracker::instance()->noteEventLoopStall(stallMs); };
    m_timer.setInterval(kTickIntervalMs);
    connect(
        &m_timer, &QTimer::timeout, &m_timer, [this] { tick(); }, Qt::DirectConnection);
}

void EventLoopStallMonitor::start()
{
    m_elapsed.start();
    m_lastTickMs = m_clock();
    m_timer.start();
}

void EventLoopStallMonitor::tick()
{
    const qint64 now = m_clock();
    const qint64 gap = now - m_lastTickMs;
    m_lastTickMs = now;
    if (gap <= kStallGapMs)
        return;
    const qint64 stallMs = gap - kTickIntervalMs;
    m_onStall(stallMs);
    DiagnosticLogger::log(QStringLiteral("gui"), QStringLiteral("warning"),
                          QStringLiteral("event_loop_stall"), {{QStringLiteral("duration_ms"), stallMs}});
}
