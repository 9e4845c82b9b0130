// Tries the sample platform's quiz routes as the client meets them: signs in with the sample
// account, loads each sample quiz through the quiz controller and prints its state, title,
// question count and history, then starts the ordinary quiz that has no attempt yet.
// Usage: quiz_routes_client <API base URL ending in /api/v1/>
#include "net/NetworkManager.h"
#include "quiz/QuizController.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QCoreApplication>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <QTextStream>
#include <memory>

namespace {

QTextStream out(stdout);

QString stateName(QuizController::State state)
{
    return QString::fromLatin1(QMetaEnum::fromType<QuizController::State>().valueToKey(state));
}

std::unique_ptr<QuizController> controllerFor(NetworkManager &manager, const QString &quizId)
{
    QuizController::Configuration configuration;
    configuration.network = &manager;
    configuration.userId = [] { return QStringLiteral("u-1001"); };
    configuration.currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
    auto controller = std::make_unique<QuizController>(std::move(configuration));
    controller->setQuizId(quizId);
    return controller;
}

void print(const QuizController &quiz)
{
    out << quiz.quizId() << ": " << stateName(quiz.state()) << ", \"" << quiz.title() << "\", "
        << quiz.quizType() << ", " << quiz.questions().size() << " questions";
    if (!quiz.availabilityMessage().isEmpty())
        out << ", " << quiz.availabilityMessage();
    if (!quiz.errorMessage().isEmpty())
        out << ", error: " << quiz.errorMessage();
    out << '\n';
    for (const QVariant &entry : quiz.attempts()) {
        const QVariantMap attempt = entry.toMap();
        out << "    history: " << attempt.value(QStringLiteral("id")).toString() << ' '
            << attempt.value(QStringLiteral("status")).toString() << " submitted "
            << attempt.value(QStringLiteral("submittedAt")).toString() << ", score "
            << attempt.value(QStringLiteral("score")).toInt() << '/'
            << attempt.value(QStringLiteral("maxScore")).toInt() << '\n';
    }
}

// Loads the quiz and gives its history request time to answer.
bool load(QuizController &quiz)
{
    QSignalSpy changed(&quiz, &QuizController::changed);
    quiz.open();
    if (!QTest::qWaitFor([&quiz] { return quiz.state() != QuizController::Loading; }, 10000))
        return false;
    const qsizetype afterLoad = changed.size();
    // The history callback announces itself with one more change; a failed history says nothing.
    (void)QTest::qWaitFor([&] { return changed.size() > afterLoad; }, 3000);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("quiz-routes-client"));
    if (argc < 2) {
        QTextStream(stderr) << "usage: quiz_routes_client <API base URL>\n";
        return 2;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(quorin::test::FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(tls);

    // The installation identity is kept in a keychain too; none of the machine's is touched.
    quorin::test::InMemoryKeychain keychain;
    keychain.installAsNative();
    NetworkManager::Configuration configuration;
    configuration.baseUrl = QString::fromLocal8Bit(argv[1]);
    configuration.credentialStore = keychain.createStore();
    NetworkManager manager(std::move(configuration));
    QSignalSpy signedIn(&manager, &NetworkManager::loginSuccess);
    manager.login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
    if (!signedIn.wait(10000))
        return 1;

    const QStringList quizzes{QStringLiteral("qz-201"), QStringLiteral("qz-202"), QStringLiteral("qz-203"),
                              QStringLiteral("qz-204"), QStringLiteral("qz-205")};
    for (const QString &quizId : quizzes) {
        const auto quiz = controllerFor(manager, quizId);
        if (!load(*quiz))
            return 1;
        print(*quiz);
    }

    const auto ordinary = controllerFor(manager, QStringLiteral("qz-205"));
    if (!load(*ordinary))
        return 1;
    QSignalSpy feedback(ordinary.get(), &QuizController::feedback);
    ordinary->startAttempt();
    if (!QTest::qWaitFor([&] { return !ordinary->startingAttempt(); }, 10000))
        return 1;
    for (const QList<QVariant> &message : std::as_const(feedback))
        out << "feedback: " << message.at(0).toString() << " (" << message.at(1).toString() << ")\n";
    out << "started: ";
    print(*ordinary);
    out.flush();
    return ordinary->state() == QuizController::Active ? 0 : 1;
}
