#pragma once

#include "quiz/QuizController.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <memory>

namespace quorin::test {

// What the quiz controller tests share: a fresh HTTPS fixture server for every test, a fresh
// NetworkManager signed in as "u1" (a JwtMaker token in the in-memory keychain), a clock and a
// user id the test sets, and controllers built over them. The quiz routes answer from scripts:
// "quizzes/<id>" with the details, and "quizzes/<id>/attempts" with the history to a GET and the
// started attempt to a POST.
class QuizControllerHarness
{
public:
    using Response = FixtureServer::Response;

    static inline const QString kQuizId = QStringLiteral("q");

    void initTestCase();
    void init();
    void cleanup();

    [[nodiscard]] FixtureServer &server() { return m_network.server(); }
    [[nodiscard]] NetworkManager &network() { return *m_manager; }

    // Timers that never fire within a test unless it asks for shorter ones.
    [[nodiscard]] static QuizController::Intervals quietIntervals();
    [[nodiscard]] std::unique_ptr<QuizController> makeController(const QuizController::Intervals &intervals);
    [[nodiscard]] std::unique_ptr<QuizController> makeController()
    {
        return makeController(quietIntervals());
    }

    // What the controllers read as the current time and the signed-in user.
    QDateTime now = QDateTime::currentDateTimeUtc();
    QString userId = QStringLiteral("u1");

    // Routes, relative to the API root. The id is written into the path as the client must send it.
    [[nodiscard]] static QString detailsRoute(const QString &encodedId = kQuizId);
    [[nodiscard]] static QString attemptsRoute(const QString &encodedId = kQuizId);
    void answerDetails(const QList<Response> &responses, const QString &encodedId = kQuizId);
    void answerDetails(const QJsonObject &details, const QString &encodedId = kQuizId);
    void answerHistory(const QList<Response> &responses, const QString &encodedId = kQuizId);
    void answerStart(const QList<Response> &responses, const QString &encodedId = kQuizId);

    // A controller of quiz "q" that has loaded these details and an empty history; null when the
    // load did not finish.
    [[nodiscard]] std::unique_ptr<QuizController> loaded(const QJsonObject &details);
    // Opens the quiz and waits until its reply is handled and, after a usable reply, until the
    // history request has reached the server too.
    [[nodiscard]] bool load(QuizController &controller);
    // Waits until the server has received this many requests since the test began and the client
    // has handled the answer to each.
    [[nodiscard]] bool waitForRequests(int count);
    [[nodiscard]] bool settle() { return m_network.settle(*m_manager); }
    // Each request the code under test sent, as "GET /api/v1/quizzes/q".
    [[nodiscard]] QStringList sent() const { return m_network.sentByCodeUnderTest(); }
    [[nodiscard]] QList<FixtureServer::Request> posts();

    // The session file of an attempt at quiz "q" under the user's folder, and its folders.
    [[nodiscard]] static QString dataFolder();
    [[nodiscard]] static QString sessionFile(const QString &userId, const QString &attemptId,
                                             const QString &quizId = kQuizId);
    [[nodiscard]] static QJsonObject readSession(const QString &path);

    // Sample records. The questions are "q1" … "qN", multiple choice with three options.
    [[nodiscard]] static QJsonArray questions(int count);
    [[nodiscard]] static QJsonObject quiz(const QString &type = QStringLiteral("ORDINARY"),
                                          int questionCount = 5);
    [[nodiscard]] static QJsonObject attempt(const QString &id, const QString &status,
                                             const QJsonArray &answers = {});
    [[nodiscard]] static QJsonObject answer(const QString &questionId, const QJsonValue &value);
    // The details of quiz "q" with these members beside it.
    [[nodiscard]] static QJsonObject details(const QJsonObject &quiz, const QJsonObject &members = {});
    // A session file's content for the attempt; the members given replace the defaults.
    [[nodiscard]] static QJsonObject session(const QString &attemptId, const QJsonObject &members = {});
    [[nodiscard]] static Response json(const QJsonValue &value, int status = 200);
    [[nodiscard]] static Response held(Response response);

private:
    NetworkManagerHarness m_network;
    std::unique_ptr<NetworkManager> m_manager;
    QHash<QString, QList<Response>> m_historyAnswers;
    QHash<QString, QList<Response>> m_startAnswers;

    void routeAttempts(const QString &encodedId);
};

} // namespace quorin::test
