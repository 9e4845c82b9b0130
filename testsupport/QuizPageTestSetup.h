#pragma once

#include "testsupport/ShellTestSetup.h"

#include <QDateTime>
#include <QVariant>

namespace quorin::test {

// The set-up of the quiz page's Qt Quick tests: the shell's, with every QuizController a document
// creates talking to the shell's fixture server through the process-wide backend client, as user
// "u1", on the real clock, with intervals short enough for a test to see a save or a countdown
// tick. Tests script the quiz routes through "Fixture" and may stop the controllers' clock.
class QuizPageTestSetup : public ShellTestSetup
{
    Q_OBJECT

public:
    // The time every quiz controller reads from now on; an invalid time brings the real clock back.
    Q_INVOKABLE void setQuizClock(const QDateTime &utc) { m_clock = utc; }
    // What a fresh settings object of the application's default store reads under the key.
    [[nodiscard]] Q_INVOKABLE QVariant storedSetting(const QString &key) const;

protected:
    QuizController::Configuration quizControllerConfiguration() override;

private:
    QDateTime m_clock;
};

} // namespace quorin::test
