#pragma once

#include <QObject>

namespace quorin::test {

// Stands in for HeadphoneMonitor in Qt Quick tests of the interface shell: a test decides
// whether the audio route permits a video that requires headphones, and changes the route.
// Every write of `permits` is announced as a route change.
class HeadphoneMonitorDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool permits MEMBER m_permits NOTIFY activeRouteChanged)

public:
    using QObject::QObject;

    [[nodiscard]] Q_INVOKABLE bool permitsRequiredVideo() const { return m_permits; }
    // Switches the route and announces it, as the real monitor does when the outputs change.
    Q_INVOKABLE void changeRoute(bool permits);

Q_SIGNALS:
    void activeRouteChanged();

private:
    bool m_permits = true;
};

} // namespace quorin::test
