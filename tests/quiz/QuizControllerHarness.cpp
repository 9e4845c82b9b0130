#include "tests/quiz/QuizControllerHarness.h"

#include "quiz/QuizDomain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

namespace quorin::test {

namespace {

// The next answer of a sequence; the last one repeats once the sequence is used up.
FixtureServer::Response takeNext(QList<FixtureServer::Response> &sequence)
{
    if (sequence.isEmpty())
        return FixtureServer::Response(404, "not found", "text/plain");
    return sequence.size() == 1 ? sequence.first() : sequence.takeFirst();
}

} // namespace

void QuizControllerHarness::initTestCase()
{
    // Where the session files lie, as the start-up decides it.
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));
    m_network.initTestCase();
}

void QuizControllerHarness::init()
{
    m_network.init();
    m_manager = m_network.makeSignedInManager(m_network.tokenExpiringIn(3600, QStringLiteral("u1")),
                                              QStringLiteral("refresh-u1"));
    QVERIFY(m_manager->isAuthenticated());
    now = QDateTime::currentDateTimeUtc();
    userId = QStringLiteral("u1");
    aiChatUrl = QUrl(QStringLiteral("https://chat.test.example/"));
    openUrl = {};
    m_historyAnswers.clear();
    m_startAnswers.clear();
    QVERIFY(QDir(dataFolder() + QStringLiteral("/quiz-sessions")).removeRecursively());
}

void QuizControllerHarness::cleanup()
{
    m_manager.reset();
    m_network.cleanup();
}

QuizController::Intervals QuizControllerHarness::quietIntervals()
{
    QuizController::Intervals quiet{600000, 600000, 600000, 600000};
    quiet.timeUpRetryMs = {600000};
    return quiet;
}

std::unique_ptr<QuizController>
QuizControllerHarness::makeController(const QuizController::Intervals &intervals)
{
    QuizController::Configuration configuration;
    configuration.network = m_manager.get();
    configuration.userId = [this] { return userId; };
    configuration.currentUtc = [this] { return now; };
    configuration.intervals = intervals;
    configuration.aiChatUrl = aiChatUrl;
    configuration.openUrl = openUrl;
    return std::make_unique<QuizController>(std::move(configuration));
}

QString QuizControllerHarness::detailsRoute(const QString &encodedId)
{
    return NetworkManagerHarness::route(QStringLiteral("quizzes/") + encodedId);
}

QString QuizControllerHarness::attemptsRoute(const QString &encodedId)
{
    return detailsRoute(encodedId) + QStringLiteral("/attempts");
}

void QuizControllerHarness::answerDetails(const QList<Response> &responses, const QString &encodedId)
{
    server().setResponses(detailsRoute(encodedId), responses);
}

void QuizControllerHarness::answerDetails(const QJsonObject &details, const QString &encodedId)
{
    answerDetails({json(details)}, encodedId);
}

void QuizControllerHarness::answerHistory(const QList<Response> &responses, const QString &encodedId)
{
    m_historyAnswers.insert(encodedId, responses);
    routeAttempts(encodedId);
}

void QuizControllerHarness::answerStart(const QList<Response> &responses, const QString &encodedId)
{
    m_startAnswers.insert(encodedId, responses);
    routeAttempts(encodedId);
}

QString QuizControllerHarness::saveRoute(const QString &encodedAttemptId)
{
    return NetworkManagerHarness::route(QStringLiteral("attempts/%1/answers").arg(encodedAttemptId));
}

QString QuizControllerHarness::submitRoute(const QString &encodedAttemptId)
{
    return NetworkManagerHarness::route(QStringLiteral("attempts/%1/submit").arg(encodedAttemptId));
}

QString QuizControllerHarness::fallbackSubmitRoute(const QString &encodedAttemptId)
{
    return NetworkManagerHarness::route(QStringLiteral("attempt/%1/submit").arg(encodedAttemptId));
}

void QuizControllerHarness::answerSave(const QList<Response> &responses, const QString &encodedAttemptId)
{
    server().setResponses(saveRoute(encodedAttemptId), responses);
}

void QuizControllerHarness::answerSubmit(const QList<Response> &responses, const QString &encodedAttemptId)
{
    server().setResponses(submitRoute(encodedAttemptId), responses);
}

void QuizControllerHarness::answerFallbackSubmit(const QList<Response> &responses,
                                                 const QString &encodedAttemptId)
{
    server().setResponses(fallbackSubmitRoute(encodedAttemptId), responses);
}

void QuizControllerHarness::routeAttempts(const QString &encodedId)
{
    // One path answers both the history and the start, told apart by the method.
    server().setHandler(attemptsRoute(encodedId), [this, encodedId](const FixtureServer::Request &request) {
        if (request.method == "POST")
            return takeNext(m_startAnswers[encodedId]);
        if (request.method == "GET")
            return takeNext(m_historyAnswers[encodedId]);
        return Response(405);
    });
}

std::unique_ptr<QuizController> QuizControllerHarness::loaded(const QJsonObject &details)
{
    return loaded(details, quietIntervals());
}

std::unique_ptr<QuizController> QuizControllerHarness::loaded(const QJsonObject &details,
                                                              const QuizController::Intervals &intervals)
{
    answerDetails(details);
    answerHistory({json(QJsonArray())});
    auto controller = makeController(intervals);
    controller->setQuizId(kQuizId);
    if (!load(*controller) || !waitForRequests(server().totalRequestCount()))
        return nullptr;
    return controller;
}

bool QuizControllerHarness::load(QuizController &controller)
{
    const int before = server().totalRequestCount();
    controller.open();
    if (controller.state() != QuizController::Loading)
        return false;
    // The reply's callback sets the state, so a state other than Loading means it has run.
    if (!QTest::qWaitFor([&controller] { return controller.state() != QuizController::Loading; }, 10000))
        return false;
    // After a usable reply the history request is on its way; its answer may come later.
    const bool usable =
        controller.state() != QuizController::Failed && controller.state() != QuizController::OfflineReadOnly;
    return !usable ||
           QTest::qWaitFor([this, before] { return server().totalRequestCount() == before + 2; }, 10000);
}

bool QuizControllerHarness::waitForRequests(int count)
{
    // The client writes "request_complete" just before it calls the request's callback, on the
    // same turn of the event loop, so a record found here means the callback has run.
    return QTest::qWaitFor(
        [this, count] {
            return server().totalRequestCount() == count &&
                   m_network.logRecords(QStringLiteral("request_complete")).size() == count;
        },
        10000);
}

QList<FixtureServer::Request> QuizControllerHarness::posts()
{
    QList<FixtureServer::Request> found;
    const QList<FixtureServer::Request> requests = m_network.server().requests();
    for (const FixtureServer::Request &request : requests) {
        if (request.method == "POST")
            found.append(request);
    }
    return found;
}

QJsonObject QuizControllerHarness::bodyOf(const FixtureServer::Request &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

QStringList QuizControllerHarness::feedbackOf(const QSignalSpy &spy)
{
    QStringList messages;
    for (const QList<QVariant> &arguments : spy)
        messages.append(arguments.at(0).toString() + QLatin1Char('|') + arguments.at(1).toString());
    return messages;
}

QString QuizControllerHarness::dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString QuizControllerHarness::sessionFile(const QString &userId, const QString &attemptId,
                                           const QString &quizId)
{
    return QuizDomain::sessionPath(dataFolder(), userId, quizId, attemptId);
}

QJsonObject QuizControllerHarness::readSession(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject QuizControllerHarness::pendingInAttemptFile()
{
    return readSession(attemptFile()).value(QStringLiteral("pending")).toObject();
}

bool QuizControllerHarness::saveAttemptFile(const QJsonObject &members)
{
    return QuizDomain::saveSession(attemptFile(), session(QStringLiteral("a1"), members));
}

QJsonArray QuizControllerHarness::questions(int count)
{
    QJsonArray list;
    for (int index = 1; index <= count; ++index) {
        list.append(QJsonObject{
            {QStringLiteral("id"), QStringLiteral("q%1").arg(index)},
            {QStringLiteral("order"), index},
            {QStringLiteral("type"), QStringLiteral("MCQ")},
            {QStringLiteral("text"), QStringLiteral("Question %1").arg(index)},
            {QStringLiteral("options"),
             QJsonArray{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}},
            {QStringLiteral("updatedAt"), QStringLiteral("2024-05-01T10:00:00.000Z")},
        });
    }
    return list;
}

QJsonArray QuizControllerHarness::questionsWithChange(int count, int changed)
{
    QJsonArray list = questions(count);
    QJsonObject question = list.at(changed - 1).toObject();
    question.insert(QStringLiteral("text"),
                    question.value(QStringLiteral("text")).toString() + QStringLiteral(", corrected"));
    question.insert(QStringLiteral("updatedAt"), kChangedStamp);
    list.replace(changed - 1, question);
    return list;
}

QJsonObject QuizControllerHarness::quiz(const QString &type, int questionCount)
{
    return {{QStringLiteral("id"), kQuizId},
            {QStringLiteral("title"), QStringLiteral("Sample quiz")},
            {QStringLiteral("type"), type},
            {QStringLiteral("questions"), questions(questionCount)}};
}

QJsonObject QuizControllerHarness::attempt(const QString &id, const QString &status,
                                           const QJsonArray &answers)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("revision"), 3},
            {QStringLiteral("status"), status},
            {QStringLiteral("answers"), answers},
            {QStringLiteral("startedAt"), QStringLiteral("2024-05-01T10:00:00.000Z")}};
}

QJsonObject QuizControllerHarness::answer(const QString &questionId, const QJsonValue &value)
{
    return {{QStringLiteral("questionId"), questionId}, {QStringLiteral("answer"), value}};
}

QJsonObject QuizControllerHarness::details(const QJsonObject &quiz, const QJsonObject &members)
{
    QJsonObject response = members;
    response.insert(QStringLiteral("quiz"), quiz);
    return response;
}

QJsonObject QuizControllerHarness::session(const QString &attemptId, const QJsonObject &members)
{
    QJsonObject content{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("quizId"), kQuizId},
        {QStringLiteral("attemptId"), attemptId},
        {QStringLiteral("attempt"), attempt(attemptId, QStringLiteral("ACTIVE"))},
        {QStringLiteral("answers"), QJsonObject()},
        {QStringLiteral("pending"), QJsonObject()},
        {QStringLiteral("selfGrades"), QJsonObject()},
        {QStringLiteral("markedQuestionIds"), QJsonArray()},
        {QStringLiteral("eliminatedOptions"), QJsonObject()},
        {QStringLiteral("currentQuestionIndex"), 0},
        {QStringLiteral("reviewQuestionIds"), QJsonArray()},
    };
    for (auto member = members.constBegin(); member != members.constEnd(); ++member)
        content.insert(member.key(), member.value());
    return content;
}

FixtureServer::Response QuizControllerHarness::json(const QJsonValue &value, int status)
{
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return Response::json(document.toJson(QJsonDocument::Compact), status);
}

FixtureServer::Response QuizControllerHarness::held(Response response)
{
    response.held = true;
    return response;
}

FixtureServer::Response QuizControllerHarness::conflict(const QString &code, const QJsonObject &attempt,
                                                        const QString &message)
{
    QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
    if (!attempt.isEmpty())
        body.insert(QStringLiteral("attempt"), attempt);
    return json(body, 409);
}

FixtureServer::Response QuizControllerHarness::dropped()
{
    Response response = json(QJsonObject{{QStringLiteral("message"), QStringLiteral("cut short")}});
    response.dropAfterBodyBytes = 0;
    return response;
}

} // namespace quorin::test
