// Tries the sample platform's quiz routes as the client meets them: signs in with the sample
// account, loads each sample quiz through the quiz controller and prints its state, title,
// question count and history, then starts the ordinary quiz that has no attempt yet, answers and
// saves, meets the question the teacher changes after the first save, keeps its answer, submits,
// prints the result, and asks for the outside AI chat page of a question.
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
// The platform's own origin, where it also serves the outside chat page.
QUrl platformOrigin;

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
    // The platform serves the outside chat page too; pages are printed, not opened.
    configuration.aiChatUrl = platformOrigin;
    configuration.openUrl = [](const QUrl &url) {
        out << "would open: " << url.toString(QUrl::FullyEncoded) << '\n';
        return true;
    };
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

// Waits until no answer is pending a save and the attempt has reached this revision.
bool waitForSave(QuizController &quiz, int revision)
{
    return QTest::qWaitFor([&quiz, revision] { return !quiz.syncing() && quiz.revision() >= revision; },
                           10000);
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
    platformOrigin = QUrl(configuration.baseUrl).resolved(QUrl(QStringLiteral("/")));
    configuration.credentialStore = keychain.createStore();
    NetworkManager manager(std::move(configuration));
    QSignalSpy signedIn(&manager, &NetworkManager::loginSuccess);
    manager.login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
    if (!signedIn.wait(10000))
        return 1;

    const QStringList quizzes{QStringLiteral("qz-201"), QStringLiteral("qz-202"), QStringLiteral("qz-203"),
                              QStringLiteral("qz-204"), QStringLiteral("qz-205"), QStringLiteral("qz-206")};
    for (const QString &quizId : quizzes) {
        const auto quiz = controllerFor(manager, quizId);
        if (!load(*quiz))
            return 1;
        print(*quiz);
    }

    const auto ordinary = controllerFor(manager, QStringLiteral("qz-205"));
    if (!load(*ordinary))
        return 1;
    QObject::connect(ordinary.get(), &QuizController::feedback, ordinary.get(),
                     [](const QString &message, const QString &severity) {
                         out << "feedback: " << message << " (" << severity << ")\n";
                     });
    ordinary->startAttempt();
    if (!QTest::qWaitFor([&] { return !ordinary->startingAttempt(); }, 10000))
        return 1;
    out << "started: ";
    print(*ordinary);
    if (ordinary->state() != QuizController::Active)
        return 1;

    // Two answers, saved together after the debounce.
    ordinary->setAnswer(QStringLiteral("qz-205-q1"), 1);
    ordinary->setAnswer(QStringLiteral("qz-205-q3"), QStringLiteral("So that measurements can be compared."));
    if (!waitForSave(*ordinary, 2))
        return 1;
    out << "saved: revision " << ordinary->revision() << ", " << ordinary->answeredCount() << " answered\n";

    // The teacher changed the second question after that save; its answer is refused until reviewed.
    ordinary->setAnswer(QStringLiteral("qz-205-q2"), 1);
    if (!QTest::qWaitFor(
            [&] {
                return ordinary->state() == QuizController::ReviewRequired &&
                       ordinary->questions().at(1).toMap().value(QStringLiteral("updatedAt")).toString() !=
                           QLatin1String("2025-01-20T10:00:00.000Z");
            },
            10000))
        return 1;
    const QVariantMap changed = ordinary->questions().at(1).toMap();
    out << "conflict: " << ordinary->errorMessage() << '\n'
        << "    under review: " << ordinary->reviewQuestionIds().value(0).toString() << ", now \""
        << changed.value(QStringLiteral("text")).toString() << "\" ("
        << changed.value(QStringLiteral("options")).toStringList().join(QStringLiteral(", ")) << ")\n";
    const int beforeKeeping = ordinary->revision();
    ordinary->keepChangedAnswer(QStringLiteral("qz-205-q2"));
    ordinary->syncNow();
    if (!waitForSave(*ordinary, beforeKeeping + 1))
        return 1;
    out << "kept and saved: " << stateName(ordinary->state()) << ", revision " << ordinary->revision()
        << '\n';

    ordinary->submit();
    if (!QTest::qWaitFor([&] { return ordinary->state() != QuizController::Submitting; }, 10000))
        return 1;
    out << "submitted: " << stateName(ordinary->state()) << ", revision " << ordinary->revision() << '\n';
    // The reloaded quiz lists the submission with its score and the written answers awaiting grading.
    if (!load(*ordinary))
        return 1;
    print(*ordinary);
    out << "    written answers awaiting grading: " << ordinary->pendingAnswersCount() << '\n';

    ordinary->discussCurrentQuestion();
    out.flush();
    return ordinary->state() == QuizController::Result ? 0 : 1;
}
