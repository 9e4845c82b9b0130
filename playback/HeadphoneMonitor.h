#pragma once

#include <QObject>

// Tells whether audio goes to headphones, for courses that require them. Until the playback work
// lands it is an empty object.
class HeadphoneMonitor : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "HeadphoneMonitor")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static HeadphoneMonitor *instance();

private:
    HeadphoneMonitor() = default;
};
