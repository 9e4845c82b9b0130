#pragma once

#include "quiz/QuizController.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

namespace quorin::test {

// What the quiz controller tests share: a fresh HTTPS fixture server for every test, a fresh
// NetworkManager signed in as "u1" (a JwtMaker token in the in-memory keychain), a clock and a
// user id the test sets, and controllers built over them. The quiz routes answer from scripts:
// "quizzes/<id>" with the details, "quizzes/<id>/attempts" with the history to a GET and the
// started attempt to a POST, and an attempt's save and submission routes with what a test gives.
class QuizControllerHarness
{
public:
    using Response = FixtureServer::Response;

    static inline const QString kQuizId = QStringLiteral("q");
    // The controller's texts that several tests compare with.
    static inline const QString kConnectionLost =
        QStringLiteral("Connection lost. This loaded attempt is read-only until reconnection.");
    static inline const QString kQuestionsChanged =
        QStringLiteral("Some questions changed. Review your answers before continuing.");
    // The version stamp of a question the teacher changed; the sample questions carry another.
    static inline const QString kChangedStamp = QStringLiteral("2024-05-02T08:00:00.000Z");

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
    // The outside chat page, and how pages open: empty, the desktop's handler, which tests catch
    // with QDesktopServices::setUrlHandler.
    QUrl aiChatUrl = QUrl(QStringLiteral("https://chat.test.example/"));
    std::function<bool(const QUrl &)> openUrl;

    // Routes, relative to the API root. The id is written into the path as the client must send it.
    [[nodiscard]] static QString detailsRoute(const QString &encodedId = kQuizId);
    [[nodiscard]] static QString attemptsRoute(const QString &encodedId = kQuizId);
    void answerDetails(const QList<Response> &responses, const QString &encodedId = kQuizId);
    void answerDetails(const QJsonObject &details, const QString &encodedId = kQuizId);
    void answerHistory(const QList<Response> &responses, const QString &encodedId = kQuizId);
    void answerStart(const QList<Response> &responses, const QString &encodedId = kQuizId);
    // The attempt's routes: "attempts/<id>/answers", "attempts/<id>/submit" and the singular
    // "attempt/<id>/submit".
    [[nodiscard]] static QString saveRoute(const QString &encodedAttemptId = QStringLiteral("a1"));
    [[nodiscard]] static QString submitRoute(const QString &encodedAttemptId = QStringLiteral("a1"));
    [[nodiscard]] static QString fallbackSubmitRoute(const QString &encodedAttemptId = QStringLiteral("a1"));
    void answerSave(const QList<Response> &responses, const QString &encodedAttemptId = QStringLiteral("a1"));
    void answerSubmit(const QList<Response> &responses,
                      const QString &encodedAttemptId = QStringLiteral("a1"));
    void answerFallbackSubmit(const QList<Response> &responses,
                              const QString &encodedAttemptId = QStringLiteral("a1"));

    // A controller of quiz "q" that has loaded these details and an empty history; null when the
    // load did not finish.
    [[nodiscard]] std::unique_ptr<QuizController> loaded(const QJsonObject &details);
    [[nodiscard]] std::unique_ptr<QuizController> loaded(const QJsonObject &details,
                                                         const QuizController::Intervals &intervals);
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
    // The requests to a route (a path of the server, as the route functions give them).
    [[nodiscard]] QList<FixtureServer::Request> requestsTo(const QString &route)
    {
        return m_network.server().requests(route);
    }
    [[nodiscard]] static QJsonObject bodyOf(const FixtureServer::Request &request);
    // Each feedback the spy caught, as "message|severity".
    [[nodiscard]] static QStringList feedbackOf(const QSignalSpy &spy);
    // Log records of this event written since the test began.
    [[nodiscard]] QList<LogLineParser::Record> logRecords(const QString &event) const
    {
        return m_network.logRecords(event);
    }

    // The session file of an attempt at quiz "q" under the user's folder, and its folders.
    [[nodiscard]] static QString dataFolder();
    [[nodiscard]] static QString sessionFile(const QString &userId, const QString &attemptId,
                                             const QString &quizId = kQuizId);
    [[nodiscard]] static QJsonObject readSession(const QString &path);
    // The file of attempt "a1" by "u1", where most tests keep their attempt.
    [[nodiscard]] static QString attemptFile()
    {
        return sessionFile(QStringLiteral("u1"), QStringLiteral("a1"));
    }
    // The answers the file of attempt "a1" holds as not yet acknowledged.
    [[nodiscard]] static QJsonObject pendingInAttemptFile();
    // Writes a session file for attempt "a1" by "u1" with these members over the defaults.
    [[nodiscard]] static bool saveAttemptFile(const QJsonObject &members);

    // Sample records. The questions are "q1" … "qN", multiple choice with three options.
    [[nodiscard]] static QJsonArray questions(int count);
    // The same with question "q<changed>" as the teacher changed it: ", corrected" added to its
    // text and kChangedStamp.
    [[nodiscard]] static QJsonArray questionsWithChange(int count, int changed);
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
    // A conflict answer: HTTP 409 with this code, a message and, when given, the server's attempt.
    [[nodiscard]] static Response conflict(const QString &code, const QJsonObject &attempt = {},
                                           const QString &message = QStringLiteral("Conflict"));
    // An answer whose connection closes before its body: a network failure.
    [[nodiscard]] static Response dropped();

private:
    NetworkManagerHarness m_network;
    std::unique_ptr<NetworkManager> m_manager;
    QHash<QString, QList<Response>> m_historyAnswers;
    QHash<QString, QList<Response>> m_startAnswers;

    void routeAttempts(const QString &encodedId);
};

} // namespace quorin::test
