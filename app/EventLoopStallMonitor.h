#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

// Watches the GUI thread's event loop: a timer ticks every 100 ms, and a tick that comes more
// than 350 ms after the previous one means the thread was busy. Each stall, measured as how late
// the tick came beyond its interval, goes to the stall handler and then to the diagnostics log.
class EventLoopStallMonitor : public QObject
{
    Q_OBJECT

public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<qint64()>;
    using StallHandler = std::function<void(qint64 stallMs)>;

    static constexpr int kTickIntervalMs = 100;
    static constexpr qint64 kStallGapMs = 350;

    // An empty clock reads a monotonic timer started by start(); an empty handler forwards the
    // stall to the responsiveness tracker.
    explicit EventLoopStallMonitor(Clock clock = {}, StallHandler onStall = {}, QObject *parent = nullptr);

    // Measures the first tick from now and starts the timer.
    void start();
    // What the timer runs; public so a test can drive it with its own clock.
    void tick();

private:
    Clock m_clock;
    StallHandler m_onStall;
    QElapsedTimer m_elapsed;
    qint64 m_lastTickMs = 0;
    QTimer m_timer;
};
