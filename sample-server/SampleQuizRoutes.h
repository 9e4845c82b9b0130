#pragma once

#include "testsupport/FixtureServer.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// The quiz routes of the sample platform: a quiz with what the server adds to it, the account's
// attempts at it, starting an attempt, saving its answers and submitting it, and two small AI chat
// pages. The quizzes are the files of the data folder's "quizzes"; "quiz-scenarios.json" adds the
// members of the answer beside the quiz, a start time counted from the server's own start, a
// question replaced after the first accepted save, and the attempts the sample account begins
// with. Attempts, leaderboards and replaced questions live in memory until the server stops.
//
// A save or submission is refused with 409 and {"code", "message", "attempt"}: ATTEMPT_CLOSED for
// a submitted attempt, ATTEMPT_EXPIRED from 30 s after its "expiresAt", ATTEMPT_REVISION_CONFLICT
// for a "baseRevision" other than the attempt's, QUESTION_VERSION_CONFLICT for an answer whose
// "questionUpdatedAt" is not the question's. Every REST route answers 401 without a valid access
// token; the chat pages ("/" and below "/ai/") need none.
class SampleQuizRoutes
{
public:
    using Request = quorin::test::FixtureServer::Request;
    using Response = quorin::test::FixtureServer::Response;
    // The signed-in user of a request; empty when its access token is missing, unknown or expired.
    using UserOf = std::function<QString(const Request &)>;
    using Clock = std::function<QDateTime()>;

    // The sample account (the user id of "account.json") starts with the scenarios' attempts.
    SampleQuizRoutes(QString dataFolder, UserOf userOf, Clock clock = {});

    // The routes answer on this server, which must outlive them.
    void addTo(quorin::test::FixtureServer &server);
    // Starts of this quiz wait this long and are then refused with 503, beginning nothing: the
    // client's start placeholder shows all that time, every time the quiz is started.
    void setHeldStart(const QString &quizId, int holdMs)
    {
        m_heldStartQuiz = quizId;
        m_startHoldMs = holdMs;
    }

private:
    [[nodiscard]] QJsonObject readData(const QString &fileName) const;
    Response route(const Request &request);
    [[nodiscard]] Response details(const QString &quizId, const QString &userId) const;
    [[nodiscard]] Response attempts(const QString &quizId, const QString &userId) const;
    Response start(const QString &quizId, const QString &userId, const QByteArray &body);
    // "attempts/<id>/answers", "attempts/<id>/submit" and the singular "attempt/<id>/submit".
    Response attemptRoute(const Request &request, const QString &prefix);
    Response mutate(const QString &key, qsizetype index, const QByteArray &body, bool submission);
    // Why the server refuses these answers for this attempt; an empty response when it takes them.
    [[nodiscard]] std::optional<Response> refusal(const QJsonObject &attempt, const QJsonObject &quiz,
                                                  const QJsonObject &body) const;
    void submit(QJsonObject &attempt, const QString &key, const QJsonObject &quiz);
    // The current user's standing joins the quiz's leaderboard.
    void rank(const QString &quizId, const QString &userId, const QJsonObject &attempt);
    [[nodiscard]] QJsonArray leaderboardFor(const QString &quizId, const QString &userId) const;
    [[nodiscard]] static Response chatPage(const Request &request);
    // The quiz as the client receives it: its start time resolved, links on the server's origin.
    [[nodiscard]] QJsonObject quiz(const QString &quizId) const;
    [[nodiscard]] bool isKnown(const QString &quizId) const;
    [[nodiscard]] static QString attemptsKey(const QString &userId, const QString &quizId);
    [[nodiscard]] static QString quizOfKey(const QString &key);
    [[nodiscard]] QDateTime now() const;

    QString m_dataFolder;
    UserOf m_userOf;
    Clock m_clock;
    QDateTime m_serverStart;
    QJsonObject m_scenarios;
    // "<user id>/<quiz id>" -> the user's attempts at the quiz, oldest first.
    QHash<QString, QJsonArray> m_attempts;
    // Quiz id -> the leaderboard as it now stands, once someone has joined it; entries of users
    // carry their "userId", which is never sent.
    QHash<QString, QJsonArray> m_leaderboards;
    // "<user id>/<quiz id>" -> written answers submitted and not graded yet.
    QHash<QString, int> m_ungradedAnswers;
    // Quizzes whose scenario question has replaced the original.
    QSet<QString> m_replacedQuestions;
    int m_nextAttempt = 1;
    QString m_heldStartQuiz;
    int m_startHoldMs = 0;
    const quorin::test::FixtureServer *m_server = nullptr;
};
