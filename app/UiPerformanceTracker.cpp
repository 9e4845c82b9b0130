#include "app/UiPerformanceTracker.h"

#include "app/DiagnosticLogger.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QMetaEnum>
#include <QScreen>
#include <QUuid>
#include <algorithm>

namespace {

const QString kCategory = QStringLiteral("ui_performance");
const QString kInfo = QStringLiteral("info");
const QString kWarning = QStringLiteral("warning");
constexpr qreal kDefaultRefreshRate = 60;
constexpr qreal kSlowestRefreshRate = 30;

UiPerformanceTracker::Clock elapsedClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

bool isUserInput(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
        return true;
    default:
        return false;
    }
}

} // namespace

UiPerformanceTracker *UiPerformanceTracker::instance()
{
    static UiPerformanceTracker tracker(elapsedClock());
    return &tracker;
}

std::unique_ptr<UiPerformanceTracker> UiPerformanceTracker::createWithClock(Clock clock)
{
    return std::unique_ptr<UiPerformanceTracker>(new UiPerformanceTracker(std::move(clock)));
}

UiPerformanceTracker::UiPerformanceTracker(Clock clock)
    : m_clock(clock ? std::move(clock) : elapsedClock())
{
    m_lastFrame = now();
}

UiPerformanceTracker::~UiPerformanceTracker()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

qint64 UiPerformanceTracker::frameBudgetMs(qreal refreshRate)
{
    const auto frameMs = qint64(1000 / std::max(refreshRate, kSlowestRefreshRate) + 0.5);
    return frameMs * 3 / 2;
}

QString UiPerformanceTracker::logName(ActionKind kind)
{
    const char *key = QMetaEnum::fromType<ActionKind>().valueToKey(kind);
    return key ? QString::fromLatin1(key).toLower() : QString();
}

bool UiPerformanceTracker::observable() const
{
    return m_window && m_window->isVisible() && m_window->isActive() &&
           !(m_window->windowStates() & Qt::WindowMinimized) && !m_reducedMotion;
}

void UiPerformanceTracker::attachWindow(QQuickWindow *window)
{
    if (window == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    disconnect(m_frameConnection);
    m_window = window;
    m_lastFrame = now();
    if (!window)
        return;
    window->installEventFilter(this);
    // frameSwapped comes from the render thread when the scene graph has one; the receiver
    // context brings it to the GUI thread.
    m_frameConnection =
        connect(window, &QQuickWindow::frameSwapped, this, &UiPerformanceTracker::handleFrame);
}

bool UiPerformanceTracker::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && isUserInput(event))
        m_lastInput = now();
    return QObject::eventFilter(watched, event);
}

QString UiPerformanceTracker::beginAction(ActionKind kind)
{
    if (!observable())
        return {};
    const qint64 current = now();
    Action action;
    action.kind = kind;
    // The user's wait began with the input that led here, when there was one just before.
    action.start = m_lastInput && current - *m_lastInput <= kRecentInputMs ? *m_lastInput : current;
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_openActions.insert(token, action);
    return token;
}

void UiPerformanceTracker::markFirstFrame(const QString &token)
{
    const auto action = m_openActions.find(token);
    if (action != m_openActions.end() && action->firstFrame < 0)
        action->firstFrame = now();
}

void UiPerformanceTracker::markReady(const QString &token)
{
    const auto action = m_openActions.find(token);
    if (action != m_openActions.end())
        action->ready = now();
}

void UiPerformanceTracker::handleFrame()
{
    const qint64 current = now();
    if (observable() && !m_openActions.isEmpty()) {
        const QScreen *screen = m_window->screen();
        const qint64 budget = frameBudgetMs(screen ? screen->refreshRate() : kDefaultRefreshRate);
        const qint64 gap = std::max<qint64>(current - m_lastFrame, 0);
        for (Action &action : m_openActions) {
            if (action.firstFrame < 0)
                action.firstFrame = current;
            action.maxFrameGap = std::max(action.maxFrameGap, gap);
            if (gap > budget)
                ++action.lateFrames;
        }
    }
    m_lastFrame = current;
}

void UiPerformanceTracker::noteEventLoopStall(qint64 stallMs)
{
    if (!observable())
        return;
    for (Action &action : m_openActions)
        action.eventLoopStall = std::max(action.eventLoopStall, stallMs);
}

void UiPerformanceTracker::setReducedMotion(bool reducedMotion)
{
    if (reducedMotion == m_reducedMotion)
        return;
    m_reducedMotion = reducedMotion;
    // Without animations the measurements mean nothing; what is open is dropped, not logged.
    if (reducedMotion)
        m_openActions.clear();
    Q_EMIT reducedMotionChanged();
}

void UiPerformanceTracker::complete(const QString &token)
{
    complete(token, QStringLiteral("success"));
}

void UiPerformanceTracker::abandon(const QString &token)
{
    complete(token, QStringLiteral("abandoned"));
}

void UiPerformanceTracker::complete(const QString &token, const QString &outcome)
{
    const auto found = m_openActions.constFind(token);
    if (found == m_openActions.constEnd())
        return;
    const Action action = found.value();
    m_openActions.erase(found);

    const qint64 duration = std::max<qint64>(now() - action.start, 0);
    const qint64 stall = action.eventLoopStall;
    if (duration >= kSlowMs || stall >= kSlowMs) {
        const bool severe = duration >= kSevereMs || stall >= kSevereMs;
        writeCompleted(action, duration, severe ? QStringLiteral("severe") : QStringLiteral("slow"),
                       severe ? kWarning : kInfo, outcome, false);
    } else if (action.lateFrames >= kLateFramesForSlow) {
        writeCompleted(action, duration, QStringLiteral("slow"), kInfo, outcome, false);
    } else if (DiagnosticLogger::detailed()) {
        writeCompleted(action, duration, QStringLiteral("normal"), kInfo, outcome, true);
    } else {
        countForSummary(duration);
    }
}

void UiPerformanceTracker::writeCompleted(const Action &action, qint64 duration,
                                          const QString &classification, const QString &level,
                                          const QString &outcome, bool detailedOnly) const
{
    const auto sinceStart = [&action](qint64 moment) {
        return moment < 0 ? qint64(-1) : moment - action.start;
    };
    DiagnosticLogger::log(kCategory, level, QStringLiteral("action_complete"),
                          {{QStringLiteral("action"), logName(action.kind)},
                           {QStringLiteral("duration_ms"), duration},
                           {QStringLiteral("first_frame_ms"), sinceStart(action.firstFrame)},
                           {QStringLiteral("content_ready_ms"), sinceStart(action.ready)},
                           {QStringLiteral("late_frames"), action.lateFrames},
                           {QStringLiteral("max_frame_gap_ms"), action.maxFrameGap},
                           {QStringLiteral("event_loop_stall_ms"), action.eventLoopStall},
                           {QStringLiteral("classification"), classification},
                           {QStringLiteral("outcome"), outcome}},
                          detailedOnly);
}

void UiPerformanceTracker::countForSummary(qint64 duration)
{
    m_summaryTotal += duration;
    ++m_summaryCount;
    if (m_summaryCount < kSummaryBatch)
        return;
    DiagnosticLogger::log(kCategory, kInfo, QStringLiteral("action_summary"),
                          {{QStringLiteral("completed"), m_summaryCount},
                           {QStringLiteral("duration_ms"), m_summaryTotal / m_summaryCount}});
    m_summaryTotal = 0;
    m_summaryCount = 0;
}
