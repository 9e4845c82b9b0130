#include "quiz/QuizController.h"

#include "net/NetworkManager.h"
#include "net/RestPath.h"
#include "net/UserIdentityController.h"
#include "quiz/QuizDomain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QStandardPaths>
#include <algorithm>

namespace {

const QString kActive = QStringLiteral("ACTIVE");
const QString kTimed = QStringLiteral("TIMED");
const QString kError = QStringLiteral("error");
const QString kWarning = QStringLiteral("warning");
const QString kId = QStringLiteral("id");

std::function<QuizController::Configuration()> &defaultConfigurationFactory()
{
    static std::function<QuizController::Configuration()> factory;
    return factory;
}

// A whole number within the 32-bit range, else the default: the reading rule of the backend's
// numbers, applied to a value that JSON has already turned into a variant.
int integerOf(const QVariant &value, int defaultValue)
{
    return QJsonValue::fromVariant(value).toInt(defaultValue);
}

QVariantList sortedIds(const QSet<QString> &ids)
{
    QStringList sorted(ids.cbegin(), ids.cend());
    std::sort(sorted.begin(), sorted.end());
    QVariantList list;
    list.reserve(sorted.size());
    for (const QString &id : std::as_const(sorted))
        list.append(id);
    return list;
}

QJsonArray idArray(const QSet<QString> &ids)
{
    QJsonArray array;
    for (const QString &id : ids)
        array.append(id);
    return array;
}

// The non-empty strings of a saved id list; anything else in it is damage and is skipped.
QSet<QString> savedIds(const QJsonValue &value)
{
    QSet<QString> ids;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &entry : array) {
        if (entry.isString() && !entry.toString().isEmpty())
            ids.insert(entry.toString());
    }
    return ids;
}

// The history's order key: when the attempt was submitted, or started when it has no submission
// member at all. ISO 8601 texts of one form sort as the times they name.
QString historyKey(const QVariantMap &attempt)
{
    const QString submittedAt = QStringLiteral("submittedAt");
    if (attempt.contains(submittedAt))
        return attempt.value(submittedAt).toString();
    return attempt.value(QStringLiteral("startedAt")).toString();
}

} // namespace

QuizController::Configuration QuizController::Configuration::production()
{
    Configuration configuration;
    configuration.network = NetworkManager::instance();
    configuration.userId = [] { return UserIdentityController::instance()->userId(); };
    configuration.currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
    return configuration;
}

QuizController::Configuration QuizController::defaultConfiguration()
{
    const std::function<Configuration()> &factory = defaultConfigurationFactory();
    return factory ? factory() : Configuration::production();
}

void QuizController::setDefaultConfigurationForTests(std::function<Configuration()> factory)
{
    defaultConfigurationFactory() = std::move(factory);
}

QuizController::QuizController(QObject *parent)
    : QuizController(defaultConfiguration(), parent)
{
}

QuizController::QuizController(Configuration configuration, QObject *parent)
    : QObject(parent)
    , m_network(configuration.network)
    , m_userId(std::move(configuration.userId))
    , m_currentUtc(std::move(configuration.currentUtc))
{
    const Intervals &intervals = configuration.intervals;
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(intervals.syncMs);
    connect(&m_syncTimer, &QTimer::timeout, this, &QuizController::syncNow);
    m_countdownTimer.setInterval(intervals.countdownMs);
    connect(&m_countdownTimer, &QTimer::timeout, this, &QuizController::updateCountdown);
    m_reconnectTimer.setInterval(intervals.reconnectMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &QuizController::reconnectTick);
    m_aiRedirectTimer.setInterval(intervals.aiRedirectMs);
    connect(&m_aiRedirectTimer, &QTimer::timeout, this, &QuizController::aiRedirectTick);
}

QuizController::~QuizController() = default;

QuizController::TimerReading QuizController::timerForTests(Timer timer) const
{
    const QTimer *const chosen = [this, timer] {
        switch (timer) {
        case Timer::Sync:
            return &m_syncTimer;
        case Timer::Countdown:
            return &m_countdownTimer;
        case Timer::Reconnect:
            return &m_reconnectTimer;
        case Timer::AiRedirect:
            break;
        }
        return &m_aiRedirectTimer;
    }();
    return {chosen->isActive(), chosen->interval(), chosen->remainingTime()};
}

QDateTime QuizController::now() const
{
    return m_currentUtc ? m_currentUtc().toUTC() : QDateTime::currentDateTimeUtc();
}

QString QuizController::attemptId() const
{
    return m_attempt.value(kId).toString();
}

QString QuizController::quizSegment() const
{
    return quorin::RestPath::segment(m_quizId);
}

void QuizController::setQuizId(const QString &quizId)
{
    const QString trimmed = quizId.trimmed();
    if (trimmed == m_quizId)
        return;
    m_quizId = trimmed;
    Q_EMIT quizIdChanged();
}

QString QuizController::title() const
{
    return m_details.value(QStringLiteral("title")).toString();
}

QString QuizController::quizType() const
{
    return m_details.value(QStringLiteral("type")).toString();
}

QVariantList QuizController::leaderboard() const
{
    return m_details.value(QStringLiteral("leaderboard")).toList();
}

QVariantList QuizController::markedQuestionIds() const
{
    return sortedIds(m_markedIds);
}

QVariantList QuizController::reviewQuestionIds() const
{
    return sortedIds(m_reviewIds);
}

void QuizController::setCurrentQuestionIndex(int index)
{
    const int last = std::max(0, int(m_questions.size()) - 1);
    const int clamped = std::clamp(index, 0, last);
    if (clamped == m_currentQuestionIndex)
        return;
    m_currentQuestionIndex = clamped;
    saveLocal();
    Q_EMIT changed();
}

QVariantMap QuizController::currentQuestion() const
{
    if (m_currentQuestionIndex < 0 || m_currentQuestionIndex >= m_questions.size())
        return {};
    return m_questions.at(m_currentQuestionIndex).toMap();
}

int QuizController::answeredCount() const
{
    return int(std::count_if(m_answers.cbegin(), m_answers.cend(), [](const QVariant &answer) {
        if (answer.typeId() == QMetaType::QString)
            return !answer.toString().trimmed().isEmpty();
        // Option index 0 and false are answers; a cleared answer is held as null.
        return answer.isValid() && !answer.isNull();
    }));
}

bool QuizController::canEdit() const
{
    return m_state == Active && m_online && !m_attemptLocked;
}

QString QuizController::statusMessage() const
{
    return m_details.value(QStringLiteral("message")).toString();
}

int QuizController::pendingAnswersCount() const
{
    return integerOf(m_details.value(QStringLiteral("pendingAnswersCount")), 0);
}

namespace {

// Where a timed quiz stands against its window. Invalid start: no window is known.
struct TimedWindow
{
    QDateTime start;
    int durationSeconds = 0;
};

TimedWindow timedWindowOf(const QVariantMap &details)
{
    const QString startsAt = details.value(QStringLiteral("startsAt")).toString();
    return {QDateTime::fromString(startsAt, Qt::ISODateWithMs).toUTC(),
            integerOf(details.value(QStringLiteral("durationSeconds")), 0)};
}

} // namespace

bool QuizController::available() const
{
    if (quizType() != kTimed)
        return true;
    const TimedWindow window = timedWindowOf(m_details);
    if (!window.start.isValid())
        return true;
    const QDateTime current = now();
    if (current < window.start)
        return false;
    return window.durationSeconds <= 0 || current < window.start.addSecs(window.durationSeconds);
}

QString QuizController::availabilityMessage() const
{
    if (quizType() != kTimed)
        return {};
    const TimedWindow window = timedWindowOf(m_details);
    if (!window.start.isValid())
        return {};
    const QDateTime current = now();
    if (current < window.start)
        return tr("This quiz starts at %1.")
            .arg(QLocale().toString(window.start.toLocalTime(), QLocale::ShortFormat));
    if (window.durationSeconds <= 0 || current < window.start.addSecs(window.durationSeconds))
        return tr("The deadline is based on the official quiz start time.");
    return tr("This quiz has expired.");
}

QString QuizController::localPath() const
{
    const QString userId = m_userId ? m_userId() : QString();
    return QuizDomain::sessionPath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation), userId,
                                   m_quizId, attemptId());
}

void QuizController::send(NetworkManager::HttpMethod method, const QString &path, const QJsonObject &body,
                          ReplyHandler handler)
{
    // The page may close before the answer comes; then the answer is dropped.
    network()->sendRequestDetailed(
        method, path, body,
        [controller = QPointer(this), handler](const QJsonDocument &reply, const NetworkFailure &failure) {
            if (controller)
                (controller.data()->*handler)(reply, failure);
        });
}

void QuizController::setState(State state, const QString &message)
{
    m_state = state;
    m_errorMessage = message;
    Q_EMIT changed();
}

void QuizController::open()
{
    // An id that cannot be one path segment would send the bearer token to another endpoint.
    const QString segment = quizSegment();
    if (segment.isEmpty() || m_state == Loading || !network())
        return;
    setState(Loading);
    send(NetworkManager::HttpMethod::Get, QStringLiteral("quizzes/") + segment, QJsonObject(),
         &QuizController::handleLoadReply);
}

void QuizController::retry()
{
    open();
}

void QuizController::handleLoadReply(const QJsonDocument &reply, const NetworkFailure &failure)
{
    if (!failure.failure.code.isEmpty()) {
        m_online = false;
        m_reconnectTimer.start();
        if (!m_attempt.isEmpty())
            setState(OfflineReadOnly,
                     tr("Connection lost. This loaded attempt is read-only until reconnection."));
        else
            setState(Failed, failure.failure.userMessage);
        return;
    }
    QVariantMap details;
    QString error;
    if (!QuizDomain::parseDetails(reply.object(), &details, &error)) {
        // Not a connection problem: the reconnect ticks, if any, go on.
        setState(Failed, error);
        return;
    }
    m_online = true;
    m_reconnectTimer.stop();
    applyDetails(details);
}

void QuizController::applyDetails(const QVariantMap &details)
{
    m_details = details;
    m_questions = details.value(QStringLiteral("questions")).toList();

    QVariantMap taken = details.value(QStringLiteral("activeAttempt")).toMap();
    if (taken.isEmpty())
        taken = details.value(QStringLiteral("attempt")).toMap();
    if (!taken.isEmpty())
        acceptAttempt(taken, false);

    // The state follows the details alone: a leaderboard-only quiz still adopts its attempt.
    if (details.value(QStringLiteral("leaderboardOnly")).toBool())
        setState(Leaderboard);
    else if (taken.value(QStringLiteral("status")).toString() == kActive)
        setState(Active);
    else if (!taken.isEmpty())
        setState(Result);
    else
        setState(Ready);

    restoreLocal();
    updateCountdown();

    const QString segment = quizSegment();
    if (segment.isEmpty() || !network())
        return;
    send(NetworkManager::HttpMethod::Get, QStringLiteral("quizzes/%1/attempts").arg(segment), QJsonObject(),
         &QuizController::handleHistoryReply);
}

void QuizController::acceptAttempt(const QVariantMap &attempt, bool clearPending)
{
    m_attempt = attempt;
    m_attemptLocked = false;
    m_revision = integerOf(attempt.value(QStringLiteral("revision")), 0);
    if (clearPending)
        m_pendingAnswers.clear();

    // Self-grades of questions the attempt does not mention stay.
    m_answers.clear();
    const QVariantList given = attempt.value(QStringLiteral("answers")).toList();
    for (const QVariant &entry : given) {
        const QVariantMap answer = entry.toMap();
        const QString questionId = answer.value(QStringLiteral("questionId")).toString();
        if (questionId.isEmpty())
            continue;
        m_answers.insert(questionId, answer.value(QStringLiteral("answer")));
        const QString selfGraded = QStringLiteral("selfGradedCorrect");
        if (answer.contains(selfGraded))
            m_selfGrades.insert(questionId, answer.value(selfGraded));
    }
    // What the server has not acknowledged yet stays on screen over its copy.
    for (auto pending = m_pendingAnswers.cbegin(); pending != m_pendingAnswers.cend(); ++pending) {
        if (!pending.value().isValid() || pending.value().isNull())
            m_answers.remove(pending.key());
        else
            m_answers.insert(pending.key(), pending.value());
    }
    Q_EMIT changed();
}

void QuizController::handleHistoryReply(const QJsonDocument &reply, const NetworkFailure &failure)
{
    if (!failure.failure.code.isEmpty() || !reply.isArray())
        return;
    QVariantList finished;
    const QJsonArray given = reply.array();
    for (const QJsonValue &entry : given) {
        const QVariantMap attempt = QuizDomain::parseAttempt(entry.toObject());
        if (attempt.isEmpty() || attempt.value(QStringLiteral("status")).toString() == kActive)
            continue;
        finished.append(attempt);
    }
    // Newest first; equal keys keep the server's order and empty keys sort last.
    std::stable_sort(finished.begin(), finished.end(), [](const QVariant &a, const QVariant &b) {
        return historyKey(a.toMap()) > historyKey(b.toMap());
    });
    m_attempts = finished;
    Q_EMIT changed();
}

void QuizController::startAttempt()
{
    startAttempt(QString());
}

void QuizController::startAttempt(const QString &nickname)
{
    if (m_startingAttempt)
        return;
    if (!m_online || m_state != Ready) {
        Q_EMIT feedback(tr("Internet connection is required to start the quiz."), kError);
        return;
    }
    if (!available()) {
        Q_EMIT feedback(availabilityMessage(), kWarning);
        return;
    }
    const bool timed = quizType() == kTimed;
    const QString trimmed = nickname.trimmed();
    if (timed && trimmed.isEmpty()) {
        Q_EMIT feedback(tr("Enter a nickname to start this timed quiz."), kWarning);
        return;
    }
    const QString segment = quizSegment();
    if (segment.isEmpty() || !network())
        return;

    QJsonObject body;
    if (timed)
        body.insert(QStringLiteral("nickname"), trimmed);
    m_startingAttempt = true;
    Q_EMIT changed();
    send(NetworkManager::HttpMethod::Post, QStringLiteral("quizzes/%1/attempts").arg(segment), body,
         &QuizController::handleStartReply);
}

void QuizController::handleStartReply(const QJsonDocument &reply, const NetworkFailure &failure)
{
    m_startingAttempt = false;
    if (!failure.failure.code.isEmpty()) {
        setState(Ready);
        Q_EMIT feedback(failure.failure.userMessage, kError);
        return;
    }
    const QVariantMap attempt = QuizDomain::parseAttempt(reply.object());
    if (attempt.isEmpty()) {
        setState(Ready);
        Q_EMIT feedback(tr("The server returned an invalid quiz attempt."), kError);
        return;
    }
    // What belonged to an earlier attempt must not carry over; the question on screen does.
    m_answers.clear();
    m_pendingAnswers.clear();
    m_selfGrades.clear();
    m_reviewIds.clear();
    m_markedIds.clear();
    m_eliminatedOptions.clear();
    acceptAttempt(attempt, true);
    setState(Active);
    updateCountdown();
    saveLocal();
}

void QuizController::reconnectTick()
{
    if (!m_online && !m_quizId.isEmpty())
        open();
}

void QuizController::saveLocal()
{
    if (m_attempt.isEmpty())
        return;
    const QJsonObject session{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("quizId"), m_quizId},
        {QStringLiteral("attemptId"), attemptId()},
        {QStringLiteral("attempt"), QJsonObject::fromVariantMap(m_attempt)},
        {QStringLiteral("answers"), QJsonObject::fromVariantMap(m_answers)},
        {QStringLiteral("pending"), QJsonObject::fromVariantMap(m_pendingAnswers)},
        {QStringLiteral("selfGrades"), QJsonObject::fromVariantMap(m_selfGrades)},
        {QStringLiteral("markedQuestionIds"), idArray(m_markedIds)},
        {QStringLiteral("eliminatedOptions"), QJsonObject::fromVariantMap(m_eliminatedOptions)},
        {QStringLiteral("currentQuestionIndex"), m_currentQuestionIndex},
        {QStringLiteral("reviewQuestionIds"), idArray(m_reviewIds)},
    };
    // Nothing is retried: the next change writes the whole file again.
    if (!QuizDomain::saveSession(localPath(), session))
        Q_EMIT feedback(tr("Could not save quiz answers locally."), kError);
}

void QuizController::restoreLocal()
{
    if (m_attempt.isEmpty())
        return;
    const QJsonObject saved = QuizDomain::loadSession(localPath());
    // A missing or unreadable file reads as an empty object, whose attempt id matches nothing.
    if (saved.value(QStringLiteral("attemptId")).toString() != attemptId())
        return;

    const QJsonObject answers = saved.value(QStringLiteral("answers")).toObject();
    for (auto answer = answers.constBegin(); answer != answers.constEnd(); ++answer)
        m_answers.insert(answer.key(), answer.value().toVariant());
    m_pendingAnswers = saved.value(QStringLiteral("pending")).toObject().toVariantMap();
    m_selfGrades = saved.value(QStringLiteral("selfGrades")).toObject().toVariantMap();
    m_markedIds = savedIds(saved.value(QStringLiteral("markedQuestionIds")));
    m_eliminatedOptions = saved.value(QStringLiteral("eliminatedOptions")).toObject().toVariantMap();
    const int last = std::max(0, int(m_questions.size()) - 1);
    m_currentQuestionIndex =
        std::clamp(saved.value(QStringLiteral("currentQuestionIndex")).toInt(0), 0, last);
    // Ids already under review stay. Outside an open attempt they change no state: only an open
    // attempt can leave the review again, and the next start empties them.
    m_reviewIds.unite(savedIds(saved.value(QStringLiteral("reviewQuestionIds"))));

    if (!m_reviewIds.isEmpty() && m_state == Active) {
        m_state = ReviewRequired;
        // The notice carries the only way out of the review, so it must not stay empty.
        if (m_errorMessage.isEmpty())
            m_errorMessage = tr("Some questions changed. Review your answers before continuing.");
    }
    if (!m_pendingAnswers.isEmpty() && m_state == Active && m_online && !m_attemptLocked)
        m_syncTimer.start();
    Q_EMIT changed();
}

// The bodies below are the answering, saving and submitting half of the controller, the
// countdown and the AI discussion; they come with that work.

void QuizController::setAnswer(const QString &questionId, const QVariant &answer)
{
    Q_UNUSED(questionId)
    Q_UNUSED(answer)
}

void QuizController::clearAnswer(const QString &questionId)
{
    Q_UNUSED(questionId)
}

void QuizController::toggleMarked(const QString &questionId)
{
    Q_UNUSED(questionId)
}

void QuizController::toggleEliminated(const QString &questionId, int optionIndex)
{
    Q_UNUSED(questionId)
    Q_UNUSED(optionIndex)
}

void QuizController::setSelfGrade(const QString &questionId, bool correct)
{
    Q_UNUSED(questionId)
    Q_UNUSED(correct)
}

void QuizController::keepChangedAnswer(const QString &questionId)
{
    Q_UNUSED(questionId)
}

void QuizController::syncNow() {}

void QuizController::submit() {}

void QuizController::discussCurrentQuestion() {}

void QuizController::updateCountdown() {}

void QuizController::submitTo(const QString &path, bool fallback)
{
    Q_UNUSED(path)
    Q_UNUSED(fallback)
}

void QuizController::handleMutationFailure(const AppFailure &failure, bool submission)
{
    Q_UNUSED(failure)
    Q_UNUSED(submission)
}

QString QuizController::questionPrompt() const
{
    return {};
}

void QuizController::aiRedirectTick() {}
