#include "sample-server/SampleQuizRoutes.h"

#include "sample-server/SampleAnswers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

namespace {

using Response = SampleQuizRoutes::Response;

const QString kQuizzes = QStringLiteral("/api/v1/quizzes/");
const QString kAttempts = QStringLiteral("/api/v1/attempts/");
const QString kAttempt = QStringLiteral("/api/v1/attempt/");
// An attempt may still be saved and submitted this long after its deadline: the client's time-up
// submission leaves at the deadline and needs a moment to arrive.
constexpr qint64 kExpiryGraceSeconds = 30;
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

SampleQuizRoutes::Response conflict(const QString &code, const QString &message, const QJsonObject &attempt)
{
    return SampleAnswers::json(QJsonObject{{QStringLiteral("code"), code},
                                           {QStringLiteral("message"), message},
                                           {QStringLiteral("attempt"), attempt}},
                               409);
}

// The questions of a quiz by id.
QHash<QString, QJsonObject> questionsOf(const QJsonObject &quiz)
{
    QHash<QString, QJsonObject> questions;
    const QJsonArray list = quiz.value(QStringLiteral("questions")).toArray();
    for (const QJsonValue &entry : list)
        questions.insert(entry.toObject().value(QStringLiteral("id")).toString(), entry.toObject());
    return questions;
}

QString htmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
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
    server.setPrefixHandler(kAttempts,
                            [this](const Request &request) { return attemptRoute(request, kAttempts); });
    server.setPrefixHandler(kAttempt,
                            [this](const Request &request) { return attemptRoute(request, kAttempt); });
    server.setHandler(QStringLiteral("/"), [](const Request &request) { return chatPage(request); });
    server.setPrefixHandler(QStringLiteral("/ai/"), [](const Request &request) { return chatPage(request); });
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

QString SampleQuizRoutes::quizOfKey(const QString &key)
{
    return key.section(QLatin1Char('/'), 1);
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
    if (m_replacedQuestions.contains(quizId)) {
        const QJsonObject replacement = m_scenarios.value(quizId)
                                            .toObject()
                                            .value(QStringLiteral("afterFirstAcceptedSave"))
                                            .toObject()
                                            .value(QStringLiteral("replaceQuestion"))
                                            .toObject();
        QJsonArray questions = quiz.value(QStringLiteral("questions")).toArray();
        for (qsizetype index = 0; index < questions.size(); ++index) {
            if (questions.at(index).toObject().value(QStringLiteral("id")) ==
                replacement.value(QStringLiteral("id")))
                questions.replace(index, replacement);
        }
        quiz.insert(QStringLiteral("questions"), questions);
    }
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
    const QJsonArray leaderboard = leaderboardFor(quizId, userId);
    int rank = added.value(QStringLiteral("rank")).toInt();
    for (const QJsonValue &entry : leaderboard) {
        if (entry.toObject().value(QStringLiteral("isCurrentUser")).toBool() &&
            m_leaderboards.contains(quizId))
            rank = entry.toObject().value(QStringLiteral("rank")).toInt();
    }
    return SampleAnswers::json(QJsonObject{
        {QStringLiteral("quiz"), quiz(quizId)},
        {QStringLiteral("customGptLink"), added.value(QStringLiteral("customGptLink")).toString()},
        {QStringLiteral("leaderboardOnly"), added.value(QStringLiteral("leaderboardOnly")).toBool()},
        {QStringLiteral("leaderboardStatus"), added.value(QStringLiteral("leaderboardStatus")).toString()},
        {QStringLiteral("message"), added.value(QStringLiteral("message")).toString()},
        {QStringLiteral("leaderboard"), leaderboard},
        {QStringLiteral("rank"), rank},
        {QStringLiteral("pendingAnswersCount"), added.value(QStringLiteral("pendingAnswersCount")).toInt() +
                                                    m_ungradedAnswers.value(attemptsKey(userId, quizId))},
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
    if (!m_heldStartQuiz.isEmpty() && quizId == m_heldStartQuiz) {
        Response busy = SampleAnswers::error(
            503, QStringLiteral("busy"), QStringLiteral("The quiz service is busy. Try again in a moment."));
        busy.delayMs = m_startHoldMs;
        return busy;
    }
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

SampleQuizRoutes::Response SampleQuizRoutes::attemptRoute(const Request &request, const QString &prefix)
{
    const QString userId = m_userOf(request);
    if (userId.isEmpty())
        return SampleAnswers::unauthorized();
    // "<id>/answers" or "<id>/submit", the id one percent-encoded segment; the singular path
    // only submits.
    const QStringList segments = QString::fromUtf8(request.path).mid(prefix.size()).split(QLatin1Char('/'));
    const bool answers =
        segments.size() == 2 && segments.at(1) == QLatin1String("answers") && prefix == kAttempts;
    const bool submission = segments.size() == 2 && segments.at(1) == QLatin1String("submit");
    if (!answers && !submission)
        return SampleAnswers::error(404, QStringLiteral("not-found"), QStringLiteral("Not found"));
    if (request.method != (answers ? "PUT" : "POST"))
        return Response(405);
    const QString attemptId = QUrl::fromPercentEncoding(segments.first().toUtf8());
    const QString own = userId + QLatin1Char('/');
    for (auto entry = m_attempts.cbegin(); entry != m_attempts.cend(); ++entry) {
        if (!entry.key().startsWith(own))
            continue;
        for (qsizetype index = 0; index < entry.value().size(); ++index) {
            if (entry.value().at(index).toObject().value(QStringLiteral("id")).toString() == attemptId)
                return mutate(entry.key(), index, request.body, submission);
        }
    }
    return SampleAnswers::error(404, QStringLiteral("not-found"), QStringLiteral("Attempt not found"));
}

std::optional<SampleQuizRoutes::Response>
SampleQuizRoutes::refusal(const QJsonObject &attempt, const QJsonObject &quiz, const QJsonObject &body) const
{
    if (attempt.value(kStatus).toString() != kActive)
        return conflict(QStringLiteral("ATTEMPT_CLOSED"),
                        QStringLiteral("This attempt has already been submitted."), attempt);
    const QDateTime expiresAt =
        QDateTime::fromString(attempt.value(QStringLiteral("expiresAt")).toString(), Qt::ISODateWithMs);
    if (expiresAt.isValid() && now() >= expiresAt.addSecs(kExpiryGraceSeconds))
        return conflict(QStringLiteral("ATTEMPT_EXPIRED"),
                        QStringLiteral("The time for this attempt has run out."), attempt);
    const QJsonValue base = body.value(QStringLiteral("baseRevision"));
    const QJsonValue answers = body.value(QStringLiteral("answers"));
    if (!base.isDouble() || !answers.isArray())
        return SampleAnswers::error(400, QStringLiteral("invalid-answers"),
                                    QStringLiteral("A revision and a list of answers are required."));
    if (base.toInteger() != attempt.value(QStringLiteral("revision")).toInteger())
        return conflict(
            QStringLiteral("ATTEMPT_REVISION_CONFLICT"),
            QStringLiteral("The attempt was changed elsewhere. Your answers are being sent again."), attempt);
    const QHash<QString, QJsonObject> questions = questionsOf(quiz);
    const QJsonArray entries = answers.toArray();
    for (const QJsonValue &entry : entries) {
        const QString questionId = entry.toObject().value(QStringLiteral("questionId")).toString();
        const auto question = questions.constFind(questionId);
        if (question == questions.cend())
            return SampleAnswers::error(
                400, QStringLiteral("unknown-question"),
                QStringLiteral("An answer names a question this quiz does not have."));
        if (entry.toObject().value(QStringLiteral("questionUpdatedAt")) !=
            question->value(QStringLiteral("updatedAt")))
            return conflict(
                QStringLiteral("QUESTION_VERSION_CONFLICT"),
                QStringLiteral("A question was changed by your teacher. Review it before continuing."),
                attempt);
    }
    return std::nullopt;
}

SampleQuizRoutes::Response SampleQuizRoutes::mutate(const QString &key, qsizetype index,
                                                    const QByteArray &body, bool submission)
{
    const QString quizId = quizOfKey(key);
    const QJsonObject quiz = this->quiz(quizId);
    QJsonObject attempt = m_attempts.value(key).at(index).toObject();
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    if (const std::optional<Response> refused = refusal(attempt, quiz, request))
        return *refused;

    // Answers by question id; null clears one, and a grade travels with its answer.
    QMap<QString, QJsonObject> answers;
    const QJsonArray held = attempt.value(QStringLiteral("answers")).toArray();
    for (const QJsonValue &entry : held)
        answers.insert(entry.toObject().value(QStringLiteral("questionId")).toString(), entry.toObject());
    const QJsonArray given = request.value(QStringLiteral("answers")).toArray();
    for (const QJsonValue &entry : given) {
        const QJsonObject answer = entry.toObject();
        const QString questionId = answer.value(QStringLiteral("questionId")).toString();
        if (answer.value(QStringLiteral("answer")).isNull()) {
            answers.remove(questionId);
            continue;
        }
        QJsonObject stored{{QStringLiteral("questionId"), questionId},
                           {QStringLiteral("answer"), answer.value(QStringLiteral("answer"))}};
        if (answer.contains(QStringLiteral("selfGradedCorrect")))
            stored.insert(QStringLiteral("selfGradedCorrect"),
                          answer.value(QStringLiteral("selfGradedCorrect")));
        answers.insert(questionId, stored);
    }
    QJsonArray list;
    for (const QJsonObject &answer : std::as_const(answers))
        list.append(answer);
    attempt.insert(QStringLiteral("answers"), list);
    attempt.insert(QStringLiteral("revision"), attempt.value(QStringLiteral("revision")).toInteger() + 1);

    if (submission) {
        submit(attempt, key, quiz);
    } else if (!m_replacedQuestions.contains(quizId) && m_scenarios.value(quizId)
                                                            .toObject()
                                                            .value(QStringLiteral("afterFirstAcceptedSave"))
                                                            .toObject()
                                                            .contains(QStringLiteral("replaceQuestion"))) {
        // The teacher edits a question while the first student is at it.
        m_replacedQuestions.insert(quizId);
    }
    QJsonArray &own = m_attempts[key];
    own.replace(index, attempt);
    return SampleAnswers::json(attempt);
}

void SampleQuizRoutes::submit(QJsonObject &attempt, const QString &key, const QJsonObject &quiz)
{
    attempt.insert(kStatus, QStringLiteral("SUBMITTED"));
    attempt.insert(QStringLiteral("submittedAt"), timeText(now()));
    // Multiple-choice answers are scored at once; written ones wait for the teacher.
    const QHash<QString, QJsonObject> questions = questionsOf(quiz);
    int score = 0;
    int maxScore = 0;
    int ungraded = 0;
    QHash<QString, QJsonValue> given;
    const QJsonArray answers = attempt.value(QStringLiteral("answers")).toArray();
    for (const QJsonValue &entry : answers)
        given.insert(entry.toObject().value(QStringLiteral("questionId")).toString(),
                     entry.toObject().value(QStringLiteral("answer")));
    for (const QJsonObject &question : questions) {
        const QJsonValue answer = given.value(question.value(QStringLiteral("id")).toString());
        if (question.value(QStringLiteral("type")).toString() == QLatin1String("WRITTEN")) {
            if (!answer.toString().trimmed().isEmpty())
                ++ungraded;
            continue;
        }
        const QJsonValue correct = question.value(QStringLiteral("correctOptionIndex"));
        if (!correct.isDouble() || correct.toInteger() < 0)
            continue;
        ++maxScore;
        if (answer.isDouble() && answer.toInteger() == correct.toInteger())
            ++score;
    }
    attempt.insert(QStringLiteral("score"), score);
    attempt.insert(QStringLiteral("maxScore"), maxScore);
    attempt.insert(QStringLiteral("pendingAnswersCount"), ungraded);
    m_ungradedAnswers[key] += ungraded;
    if (quiz.value(QStringLiteral("type")).toString() == QLatin1String("TIMED"))
        rank(quizOfKey(key), key.section(QLatin1Char('/'), 0, 0), attempt);
}

void SampleQuizRoutes::rank(const QString &quizId, const QString &userId, const QJsonObject &attempt)
{
    if (!m_leaderboards.contains(quizId))
        m_leaderboards.insert(quizId, m_scenarios.value(quizId)
                                          .toObject()
                                          .value(QStringLiteral("response"))
                                          .toObject()
                                          .value(QStringLiteral("leaderboard"))
                                          .toArray());
    QList<QJsonObject> entries;
    const QJsonArray board = m_leaderboards.value(quizId);
    for (const QJsonValue &entry : board) {
        // One line a user: a later attempt replaces the earlier one.
        if (entry.toObject().value(QStringLiteral("userId")).toString() != userId)
            entries.append(entry.toObject());
    }
    entries.append({{QStringLiteral("userId"), userId},
                    {QStringLiteral("nickname"), attempt.value(QStringLiteral("nickname"))},
                    {QStringLiteral("score"), attempt.value(QStringLiteral("score"))},
                    {QStringLiteral("maxScore"), attempt.value(QStringLiteral("maxScore"))}});
    std::stable_sort(entries.begin(), entries.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a.value(QStringLiteral("score")).toInt() > b.value(QStringLiteral("score")).toInt();
    });
    // Equal scores share a rank, and the next rank counts everyone above ("1, 2, 2, 4").
    QJsonArray ranked;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        QJsonObject entry = entries.at(index);
        const bool tied = index > 0 && entries.at(index - 1).value(QStringLiteral("score")).toInt() ==
                                           entry.value(QStringLiteral("score")).toInt();
        entry.insert(QStringLiteral("rank"),
                     tied ? ranked.at(index - 1).toObject().value(QStringLiteral("rank")).toInt()
                          : int(index) + 1);
        ranked.append(entry);
    }
    m_leaderboards.insert(quizId, ranked);
}

QJsonArray SampleQuizRoutes::leaderboardFor(const QString &quizId, const QString &userId) const
{
    const auto joined = m_leaderboards.constFind(quizId);
    if (joined == m_leaderboards.cend())
        return m_scenarios.value(quizId)
            .toObject()
            .value(QStringLiteral("response"))
            .toObject()
            .value(QStringLiteral("leaderboard"))
            .toArray();
    QJsonArray board;
    for (const QJsonValue &value : *joined) {
        QJsonObject entry = value.toObject();
        if (entry.contains(QStringLiteral("userId")))
            entry.insert(QStringLiteral("isCurrentUser"),
                         entry.take(QStringLiteral("userId")).toString() == userId);
        board.append(entry);
    }
    return board;
}

SampleQuizRoutes::Response SampleQuizRoutes::chatPage(const Request &request)
{
    if (request.method != "GET")
        return Response(405);
    // Stands in for an outside chat page: it shows what it was asked, as such a page would take it.
    const QUrlQuery query(QString::fromUtf8(request.query));
    QString html =
        QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>Sample AI chat</title>"
                       "</head><body><h1>Sample AI chat</h1>");
    if (request.path == "/") {
        html += QStringLiteral("<p>Model: %1</p><p>Question:</p><p id=\"question\">%2</p>")
                    .arg(htmlEscaped(query.queryItemValue(QStringLiteral("model"), QUrl::FullyDecoded)),
                         htmlEscaped(query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded)));
    } else {
        html += QStringLiteral("<p>This is the quiz's own tutor page. Paste the question you copied.</p>");
    }
    html += QStringLiteral("</body></html>");
    return Response(200, html.toUtf8(), QByteArrayLiteral("text/html; charset=utf-8"));
}
