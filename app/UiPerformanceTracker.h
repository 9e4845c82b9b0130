#pragma once

#include <QHash>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Measures how quickly the interface answers the user. A screen opens an action when something
// the user waits for starts, marks when its content is ready and completes it; meanwhile the
// tracker watches the main window's input and frames and the event-loop stalls that start-up
// reports. Slow and severe actions are logged one by one, fast ones only as a summary of 25
// (each one when detailed logging is on). GUI thread only. The interface reaches it as the
// singleton "UiPerformance".
class UiPerformanceTracker : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "UiPerformance")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(bool reducedMotion READ reducedMotion WRITE setReducedMotion NOTIFY reducedMotionChanged)

public:
    enum ActionKind {
        HomeReady = 0,
        HomeResponsiveMode = 1,
        HomeCardActivate = 2,
        CourseReady = 3,
        CourseOutlineBuild = 4,
        CourseSectionToggle = 5,
        CourseSearch = 6,
        CourseViewMode = 7,
        CourseResourceAction = 8,
        CoursePdfExport = 9,
        VaultReady = 10,
        VaultResponsiveMode = 11,
        VaultCardActivate = 12,
    };
    Q_ENUM(ActionKind)

    // Milliseconds on a monotonic clock.
    using Clock = std::function<qint64()>;

    // An action counts from the user's input when the input came at most this long before it.
    static constexpr qint64 kRecentInputMs = 1000;
    static constexpr qint64 kSlowMs = 250;
    static constexpr qint64 kSevereMs = 500;
    static constexpr int kLateFramesForSlow = 2;
    static constexpr int kSummaryBatch = 25;

    [[nodiscard]] static UiPerformanceTracker *instance();
    // A tracker of its own that reads the given clock, for tests.
    [[nodiscard]] static std::unique_ptr<UiPerformanceTracker> createWithClock(Clock clock);
    ~UiPerformanceTracker() override;

    // A new token, or an empty one when the window cannot be observed (and nothing is opened).
    Q_INVOKABLE QString beginAction(UiPerformanceTracker::ActionKind kind);
    Q_INVOKABLE void markFirstFrame(const QString &token);
    // The last call counts.
    Q_INVOKABLE void markReady(const QString &token);
    Q_INVOKABLE void complete(const QString &token, const QString &outcome);
    Q_INVOKABLE void complete(const QString &token);
    Q_INVOKABLE void abandon(const QString &token);

    // Start-up's hooks: the main window, and the event-loop stalls its monitor sees.
    void attachWindow(QQuickWindow *window);
    void noteEventLoopStall(qint64 stallMs);

    [[nodiscard]] bool reducedMotion() const { return m_reducedMotion; }
    void setReducedMotion(bool reducedMotion);

    // The longest gap between two frames that still counts as on time, for a display of this
    // refresh rate: one and a half frames, with rates below 30 Hz taken as 30 Hz.
    [[nodiscard]] static qint64 frameBudgetMs(qreal refreshRate);
    // The kind's name in the log: its key lower-cased, "homeready" for HomeReady; empty when the
    // value is no kind.
    [[nodiscard]] static QString logName(ActionKind kind);

    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    void reducedMotionChanged();

private:
    struct Action
    {
        ActionKind kind = HomeReady;
        qint64 start = 0;
        qint64 firstFrame = -1;
        qint64 ready = -1;
        qint64 maxFrameGap = 0;
        qint64 eventLoopStall = 0;
        int lateFrames = 0;
    };

    explicit UiPerformanceTracker(Clock clock);

    [[nodiscard]] qint64 now() const { return m_clock(); }
    [[nodiscard]] bool observable() const;
    void handleFrame();
    void writeCompleted(const Action &action, qint64 duration, const QString &classification,
                        const QString &level, const QString &outcome, bool detailedOnly) const;
    void countForSummary(qint64 duration);

    Clock m_clock;
    QPointer<QQuickWindow> m_window;
    QMetaObject::Connection m_frameConnection;
    QHash<QString, Action> m_openActions;
    // Empty until the first input on the window: no input yet is no recent input.
    std::optional<qint64> m_lastInput;
    qint64 m_lastFrame = 0;
    qint64 m_summaryTotal = 0;
    int m_summaryCount = 0;
    bool m_reducedMotion = false;
};
