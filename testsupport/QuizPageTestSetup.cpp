#include "testsupport/QuizPageTestSetup.h"

#include "net/NetworkManager.h"

#include <QSettings>

namespace quorin::test {

QuizController::Configuration QuizPageTestSetup::quizControllerConfiguration()
{
    QuizController::Configuration configuration = QmlTestSetup::quizControllerConfiguration();
    configuration.network = NetworkManager::instance();
    configuration.userId = [] { return QStringLiteral("u1"); };
    configuration.currentUtc = [this] {
        return m_clock.isValid() ? m_clock : QDateTime::currentDateTimeUtc();
    };
    configuration.intervals.syncMs = 20;
    configuration.intervals.countdownMs = 1000;
    configuration.intervals.reconnectMs = 600000;
    // Short enough for a page test to watch the countdown to the chat page; nothing opens for real.
    configuration.intervals.aiRedirectMs = 250;
    // A failed submission after the deadline is tried again soon enough for a test to watch.
    configuration.intervals.timeUpRetryMs = {1000, 2000};
    configuration.openUrl = [](const QUrl &) { return true; };
    return configuration;
}

QVariant QuizPageTestSetup::storedSetting(const QString &key) const
{
    return QSettings().value(key);
}

} // namespace quorin::test
