#pragma once

#include <QObject>

// The interface's single entry point for video playback. Until the playback work lands it is an
// empty object.
class StreamController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "StreamController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static StreamController *instance();

private:
    StreamController() = default;
};
