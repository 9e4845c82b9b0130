#include "sample-server/SampleQuizRoutes.h"

#include "sample-server/SampleAnswers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>

namespace {

using Response = SampleQuizRoutes::Response;

const QString kQuizzes = QStringLiteral("/api/v1/quizzes/");
const QString kActive = QStringLiteral("ACTIVE");
const QString kStatus = QStringLiteral("status");
// The origin the data files are written for; answers carry the server's own.
const QString kDataOrigin = QStringLiteral("https://localhost:8443/");

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// When an attempt ended, or began when it has not ended; ISO texts of one form sort as times.
QString finishedAt(const QJsonObject &attempt)
{
    const QString submittedAt = attempt.value(QStringLiteral("submittedAt")).toString();
    return submittedAt.isEmpty() ? attempt.value(QStringLiteral("startedAt")).toString() : submittedAt;
}

} // namespace

SampleQuizRoutes::SampleQuizRoutes(QString dataFolder, UserOf userOf, Clock clock)
    : m_dataFolder(std::move(dataFolder))
    , m_userOf(std::move(userOf))
    , m_clock(std::move(clock))
{
    m_serverStart = now();
    m_scenarios = readData(QStringLiteral("quiz-scenarios.json"));
    const QString sampleAccount =
        readData(QStringLiteral("account.json")).value(QStringLiteral("userId")).toString();
    for (auto scenario = m_scenarios.constBegin(); scenario != m_scenarios.constEnd(); ++scenario) {
        const QJsonArray seeded =
            scenario.value().toObject().value(QStringLiteral("sampleAccountAttempts")).toArray();
        if (!seeded.isEmpty())
            m_attempts.insert(attemptsKey(sampleAccount, scenario.key()), seeded);
    }
}

void SampleQuizRoutes::addTo(quorin::test::FixtureServer &server)
{
    m_server = &server;
    server.setPrefixHandler(kQuizzes, [this](const Request &request) { return route(request); });
}

QJsonObject SampleQuizRoutes::readData(const QString &fileName) const
{
    QFile file(QDir(m_dataFolder).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QDateTime SampleQuizRoutes::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

QString SampleQuizRoutes::attemptsKey(const QString &userId, const QString &quizId)
{
    return userId + QLatin1Char('/') + quizId;
}

bool SampleQuizRoutes::isKnown(const QString &quizId) const
{
    // Only the names of the folder's files, so no id ever names a file of its own choosing.
    const QStringList files = QDir(QDir(m_dataFolder).filePath(QStringLiteral("quizzes")))
                                  .entryList({QStringLiteral("*.json")}, QDir::Files);
    return !quizId.isEmpty() && files.contains(quizId + QStringLiteral(".json"));
}

SampleQuizRoutes::Response SampleQuizRoutes::route(const Request &request)
{
    const QString userId = m_userOf(request);
    if (userId.isEmpty())
        return SampleAnswers::unauthorized();
    // "<id>" or "<id>/attempts", the id one percent-encoded segment.
    const QStringList segments = QString::fromUtf8(request.path).mid(kQuizzes.size()).split(QLatin1Char('/'));
    const QString quizId = QUrl::fromPercentEncoding(segments.first().toUtf8());
    const bool attemptsPath = segments.size() == 2 && segments.at(1) == QLatin1String("attempts");
    if ((segments.size() != 1 && !attemptsPath) || !isKnown(quizId))
        return SampleAnswers::error(404, QStringLiteral("not-found"), QStringLiteral("Quiz not found"));
    if (!attemptsPath)
        return request.method == "GET" ? details(quizId, userId) : Response(405);
    if (request.method == "GET")
        return attempts(quizId, userId);
    if (request.method == "POST")
        return start(quizId, userId, request.body);
    return Response(405);
}

QJsonObject SampleQuizRoutes::quiz(const QString &quizId) const
{
    QJsonObject quiz = readData(QStringLiteral("quizzes/%1.json").arg(quizId));
    const QJsonValue startsAfter =
        m_scenarios.value(quizId).toObject().value(QStringLiteral("startsAtSecondsAfterServerStart"));
    if (startsAfter.isDouble())
        quiz.insert(QStringLiteral("startsAt"), timeText(m_serverStart.addSecs(startsAfter.toInteger())));
    QByteArray text = QJsonDocument(quiz).toJson(QJsonDocument::Compact);
    if (m_server)
        text.replace(kDataOrigin.toUtf8(), m_server->url().toString().toUtf8());
    return QJsonDocument::fromJson(text).object();
}

SampleQuizRoutes::Response SampleQuizRoutes::details(const QString &quizId, const QString &userId) const
{
    const QJsonObject added =
        m_scenarios.value(quizId).toObject().value(QStringLiteral("response")).toObject();
    QJsonValue open = QJsonValue::Null;
    QJsonValue newestFinished = QJsonValue::Null;
    const QJsonArray own = m_attempts.value(attemptsKey(userId, quizId));
    for (const QJsonValue &entry : own) {
        const QJsonObject attempt = entry.toObject();
        if (attempt.value(kStatus).toString() == kActive)
            open = attempt;
        else if (newestFinished.isNull() || finishedAt(attempt) >= finishedAt(newestFinished.toObject()))
            newestFinished = attempt;
    }
    return SampleAnswers::json(QJsonObject{
        {QStringLiteral("quiz"), quiz(quizId)},
        {QStringLiteral("customGptLink"), added.value(QStringLiteral("customGptLink")).toString()},
        {QStringLiteral("leaderboardOnly"), added.value(QStringLiteral("leaderboardOnly")).toBool()},
        {QStringLiteral("leaderboardStatus"), added.value(QStringLiteral("leaderboardStatus")).toString()},
        {QStringLiteral("message"), added.value(QStringLiteral("message")).toString()},
        {QStringLiteral("leaderboard"), added.value(QStringLiteral("leaderboard")).toArray()},
        {QStringLiteral("rank"), added.value(QStringLiteral("rank")).toInt()},
        {QStringLiteral("pendingAnswersCount"), added.value(QStringLiteral("pendingAnswersCount")).toInt()},
        {QStringLiteral("activeAttempt"), open},
        {QStringLiteral("attempt"), newestFinished},
    });
}

SampleQuizRoutes::Response SampleQuizRoutes::attempts(const QString &quizId, const QString &userId) const
{
    return SampleAnswers::json(m_attempts.value(attemptsKey(userId, quizId)));
}

SampleQuizRoutes::Response SampleQuizRoutes::start(const QString &quizId, const QString &userId,
                                                   const QByteArray &body)
{
    const QJsonObject quiz = this->quiz(quizId);
    const bool timed = quiz.value(QStringLiteral("type")).toString() == QLatin1String("TIMED");
    const QString nickname =
        QJsonDocument::fromJson(body).object().value(QStringLiteral("nickname")).toString().trimmed();
    const QDateTime current = now();
    QDateTime expiresAt;
    if (timed) {
        if (nickname.isEmpty())
            return SampleAnswers::error(400, QStringLiteral("nickname-required"),
                                        QStringLiteral("A nickname is required for this quiz."));
        const QDateTime startsAt =
            QDateTime::fromString(quiz.value(QStringLiteral("startsAt")).toString(), Qt::ISODateWithMs);
        const qint64 duration = quiz.value(QStringLiteral("durationSeconds")).toInteger();
        if (startsAt.isValid() && current < startsAt)
            return SampleAnswers::error(403, QStringLiteral("not-open"),
                                        QStringLiteral("This quiz has not started yet."));
        if (startsAt.isValid() && duration > 0 && current >= startsAt.addSecs(duration))
            return SampleAnswers::error(403, QStringLiteral("not-open"),
                                        QStringLiteral("This quiz has ended."));
        // Every participant's deadline follows the official start, not the moment they began; a
        // quiz without a duration has none.
        if (duration > 0)
            expiresAt = (startsAt.isValid() ? startsAt : current).addSecs(duration);
    }

    QJsonArray &own = m_attempts[attemptsKey(userId, quizId)];
    for (const QJsonValue &entry : std::as_const(own)) {
        if (entry.toObject().value(kStatus).toString() == kActive)
            return SampleAnswers::json(entry);
    }
    QJsonObject attempt{
        {QStringLiteral("id"), QStringLiteral("%1-att-new-%2").arg(quizId).arg(m_nextAttempt++)},
        {QStringLiteral("revision"), 1},
        {kStatus, kActive},
        {QStringLiteral("answers"), QJsonArray()},
        {QStringLiteral("startedAt"), timeText(current)}};
    if (timed) {
        attempt.insert(QStringLiteral("nickname"), nickname);
        if (expiresAt.isValid())
            attempt.insert(QStringLiteral("expiresAt"), timeText(expiresAt));
    }
    own.append(attempt);
    return SampleAnswers::json(attempt, 201);
}
