#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>

// Measures how quickly the interface answers the user. Start-up attaches the main window,
// forwards event-loop stalls and keeps reducedMotion in step with the animation speed; the
// measuring itself arrives with the responsiveness work, which replaces this class whole.
class UiPerformanceTracker : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool reducedMotion READ reducedMotion WRITE setReducedMotion NOTIFY reducedMotionChanged)

public:
    [[nodiscard]] static UiPerformanceTracker *instance();

    void attachWindow(QQuickWindow *window);
    void noteEventLoopStall(qint64 stallMs);

    [[nodiscard]] bool reducedMotion() const { return m_reducedMotion; }
    void setReducedMotion(bool reducedMotion);

Q_SIGNALS:
    void reducedMotionChanged();

private:
    UiPerformanceTracker() = default;

    QPointer<QQuickWindow> m_window;
    bool m_reducedMotion = false;
};
