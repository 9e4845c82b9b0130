#include "testsupport/StreamControllerDouble.h"

namespace quorin::test {

void StreamControllerDouble::reportPlaybackFailure(const QString &code, const QString &provenance,
                                                   const QString &message, bool terminal, bool retryable)
{
    Q_EMIT playbackFailure(code, provenance, message, terminal, retryable);
}

void StreamControllerDouble::attachStream(QObject *, const QString &, const QString &lectureId, double)
{
    m_calls.append(QStringLiteral("attach:") + lectureId);
    Q_EMIT callsChanged();
}

void StreamControllerDouble::abortStream(QObject *, const QString &reason)
{
    m_calls.append(QStringLiteral("abort:") + reason);
    Q_EMIT callsChanged();
}

} // namespace quorin::test
