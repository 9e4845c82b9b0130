#include "tests/qml/screens/QuizJourneyTestSetup.h"

namespace quorin::test {

bool QuizJourneyTestSetup::signInAsSampleAccount()
{
    return SamplePlatformSession::signIn(SamplePlatformSession::kPassword);
}

void QuizJourneyTestSetup::registerControllers()
{
    // The platform listens before the process-wide client is made, which reads its address once.
    if (!m_platform.start())
        qFatal("QuizJourneyTestSetup: the sample platform cannot start: %s",
               qPrintable(m_platform.errorString()));
    QuizPageTestSetup::registerControllers();
}

QUrl QuizJourneyTestSetup::backendApiBase() const
{
    return m_platform.apiBase();
}

} // namespace quorin::test
