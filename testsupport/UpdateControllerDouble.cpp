#include "testsupport/UpdateControllerDouble.h"

namespace quorin::test {

void UpdateControllerDouble::reset()
{
    m_state = Idle;
    m_required = false;
    m_dismissed = false;
    m_availableVersion.clear();
    m_errorMessage.clear();
    m_progress = 0.0;
    m_graceRemainingSeconds = 0;
    m_calls.clear();
    Q_EMIT stateChanged();
    Q_EMIT candidateChanged();
    Q_EMIT dismissedChanged();
    Q_EMIT progressChanged();
    Q_EMIT graceChanged();
    Q_EMIT callsChanged();
}

void UpdateControllerDouble::record(const QString &operation)
{
    m_calls.append(operation);
    Q_EMIT callsChanged();
}

} // namespace quorin::test
