#pragma once

#include <QObject>
#include <QString>

// The interface's single entry point for video playback. Until the playback work lands it only
// declares how it reports a failure of the current stream.
class StreamController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "StreamController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static StreamController *instance();

Q_SIGNALS:
    // code: a lower-case failure word; provenance: "local_proxy", "upstream_backend",
    // "network_transport" or "player"; message: the translated text for the user; terminal: no
    // further recovery will be tried; retryable: a retry by the user can help.
    void playbackFailure(const QString &code, const QString &provenance, const QString &message,
                         bool terminal, bool retryable);

private:
    StreamController() = default;
};
