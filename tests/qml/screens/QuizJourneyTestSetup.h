#pragma once

#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/QuizPageTestSetup.h"

namespace quorin::test {

// The quiz page's set-up with the sample platform, on a free port, as the backend in place of the
// fixture server: the page runs against the platform's own quizzes and answers, as a user's
// client does. Tests sign in with the sample account through "TestSetup".
class QuizJourneyTestSetup : public QuizPageTestSetup
{
    Q_OBJECT

public:
    // Signs the process-wide client in with the sample account; true once it is signed in.
    [[nodiscard]] Q_INVOKABLE bool signInAsSampleAccount();

protected:
    void registerControllers() override;
    [[nodiscard]] QUrl backendApiBase() const override;

private:
    SamplePlatformSession m_platform;
};

} // namespace quorin::test
