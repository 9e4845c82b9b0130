#pragma once

#include <QObject>
#include <QString>

namespace quorin::test {

// Stands in for StreamController in Qt Quick tests of the interface shell: a test makes it
// report a playback failure as the real controller would.
class StreamControllerDouble : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE void reportPlaybackFailure(const QString &code, const QString &provenance,
                                           const QString &message, bool terminal, bool retryable);

Q_SIGNALS:
    void playbackFailure(const QString &code, const QString &provenance, const QString &message,
                         bool terminal, bool retryable);
};

} // namespace quorin::test
