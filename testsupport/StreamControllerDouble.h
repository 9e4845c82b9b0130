#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace quorin::test {

// Stands in for StreamController in Qt Quick tests of the interface shell: a test makes it
// report a playback failure as the real controller would. It also takes the calls with which a
// playback session starts and ends a stream, and records them, so the shell's tests run over the
// real session as well as over its stand-in.
class StreamControllerDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool restorationActive READ restorationActive CONSTANT)
    // "attach:<lecture id>" and "abort:<reason>", oldest first.
    Q_PROPERTY(QStringList calls MEMBER m_calls NOTIFY callsChanged)

public:
    using QObject::QObject;

    [[nodiscard]] bool restorationActive() const { return false; }

    Q_INVOKABLE void reportPlaybackFailure(const QString &code, const QString &provenance,
                                           const QString &message, bool terminal, bool retryable);
    Q_INVOKABLE void attachStream(QObject *player, const QString &url, const QString &lectureId,
                                  double startPositionMs);
    Q_INVOKABLE void abortStream(QObject *player, const QString &reason);

Q_SIGNALS:
    void playbackFailure(const QString &code, const QString &provenance, const QString &message,
                         bool terminal, bool retryable);
    void callsChanged();

private:
    QStringList m_calls;
};

} // namespace quorin::test
