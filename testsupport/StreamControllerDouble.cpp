#include "testsupport/StreamControllerDouble.h"

namespace quorin::test {

void StreamControllerDouble::reportPlaybackFailure(const QString &code, const QString &provenance,
                                                   const QString &message, bool terminal, bool retryable)
{
    Q_EMIT playbackFailure(code, provenance, message, terminal, retryable);
}

} // namespace quorin::test
