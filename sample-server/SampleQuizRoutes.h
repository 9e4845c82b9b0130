#pragma once

#include "testsupport/FixtureServer.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>

// The quiz routes of the sample platform: a quiz with what the server adds to it, the account's
// attempts at it, and starting an attempt. The quizzes are the files of the data folder's
// "quizzes"; "quiz-scenarios.json" adds the members of the answer beside the quiz, a start time
// counted from the server's own start, and the attempts the sample account begins with. Attempts
// live in memory until the server stops. Every route answers 401 without a valid access token.
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

private:
    [[nodiscard]] QJsonObject readData(const QString &fileName) const;
    Response route(const Request &request);
    [[nodiscard]] Response details(const QString &quizId, const QString &userId) const;
    [[nodiscard]] Response attempts(const QString &quizId, const QString &userId) const;
    Response start(const QString &quizId, const QString &userId, const QByteArray &body);
    // The quiz as the client receives it: its start time resolved, links on the server's origin.
    [[nodiscard]] QJsonObject quiz(const QString &quizId) const;
    [[nodiscard]] bool isKnown(const QString &quizId) const;
    [[nodiscard]] static QString attemptsKey(const QString &userId, const QString &quizId);
    [[nodiscard]] QDateTime now() const;

    QString m_dataFolder;
    UserOf m_userOf;
    Clock m_clock;
    QDateTime m_serverStart;
    QJsonObject m_scenarios;
    // "<user id>/<quiz id>" -> the user's attempts at the quiz, oldest first.
    QHash<QString, QJsonArray> m_attempts;
    int m_nextAttempt = 1;
    const quorin::test::FixtureServer *m_server = nullptr;
};
