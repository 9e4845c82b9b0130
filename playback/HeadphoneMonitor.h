#pragma once

#include <QObject>

// Tells whether audio goes to headphones, for courses that require them. Until the playback work
// lands it always permits the video and never sees the route change.
class HeadphoneMonitor : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "HeadphoneMonitor")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static HeadphoneMonitor *instance();

    // True when the current default audio output is a headphone route.
    [[nodiscard]] Q_INVOKABLE bool permitsRequiredVideo() const { return true; }

Q_SIGNALS:
    void activeRouteChanged();

private:
    HeadphoneMonitor() = default;
};
