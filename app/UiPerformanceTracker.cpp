#include "app/UiPerformanceTracker.h"

UiPerformanceTracker *UiPerformanceTracker::instance()
{
    static UiPerformanceTracker tracker;
    return &tracker;
}

void UiPerformanceTracker::attachWindow(QQuickWindow *window)
{
    m_window = window;
}

void UiPerformanceTracker::noteEventLoopStall(qint64 stallMs)
{
    Q_UNUSED(stallMs)
}

void UiPerformanceTracker::setReducedMotion(bool reducedMotion)
{
    if (reducedMotion == m_reducedMotion)
        return;
    m_reducedMotion = reducedMotion;
    Q_EMIT reducedMotionChanged();
}
