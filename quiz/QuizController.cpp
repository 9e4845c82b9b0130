#include "quiz/QuizController.h"

#include "app/DiagnosticLogger.h"
#include "app/Endpoints.h"
#include "net/NetworkManager.h"
#include "net/RestPath.h"
#include "net/UserIdentityController.h"
#include "quiz/QuizDomain.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QStandardPaths>
#include <QUrlQuery>
#include <algorithm>
#include <optional>
#include <utility>

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

QJsonObject stampObject(const QHash<QString, QString> &stamps)
{
    QJsonObject object;
    for (auto stamp = stamps.cbegin(); stamp != stamps.cend(); ++stamp)
        object.insert(stamp.key(), stamp.value());
    return object;
}

// The saved stamps that are texts; a damaged entry is as if the answer had none.
QHash<QString, QString> savedStamps(const QJsonValue &value)
{
    QHash<QString, QString> stamps;
    const QJsonObject object = value.toObject();
    for (auto stamp = object.constBegin(); stamp != object.constEnd(); ++stamp) {
        if (stamp.value().isString() && !stamp.key().isEmpty())
            stamps.insert(stamp.key(), stamp.value().toString());
    }
    return stamps;
}

// The saved drafts whose text is a text; anything else in the member is damage and is skipped.
QVariantMap savedDrafts(const QJsonValue &value)
{
    QVariantMap drafts;
    const QJsonObject object = value.toObject();
    for (auto draft = object.constBegin(); draft != object.constEnd(); ++draft) {
        const QJsonObject entry = draft.value().toObject();
        if (draft.key().isEmpty() || !entry.value(QStringLiteral("text")).isString())
            continue;
        drafts.insert(
            draft.key(),
            QVariantMap{{QStringLiteral("text"), entry.value(QStringLiteral("text")).toString()},
                        {QStringLiteral("typedAt"), entry.value(QStringLiteral("typedAt")).toString()},
                        {QStringLiteral("questionUpdatedAt"),
                         entry.value(QStringLiteral("questionUpdatedAt")).toString()}});
    }
    return drafts;
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
    configuration.aiChatUrl = quorin::Endpoints::instance().aiChatUrl();
    configuration.openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
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
    , m_aiChatUrl(std::move(configuration.aiChatUrl))
    , m_openUrl(std::move(configuration.openUrl))
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
    m_timeUpRetryMs = intervals.timeUpRetryMs;
    m_timeUpRetryTimer.setSingleShot(true);
    connect(&m_timeUpRetryTimer, &QTimer::timeout, this, &QuizController::retryTimeUpSubmission);
    // A coarse timer may fire early and find the start still ahead, only to wait once more.
    m_startArrivalTimer.setSingleShot(true);
    m_startArrivalTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_startArrivalTimer, &QTimer::timeout, this, &QuizController::updateCountdown);
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
        case Timer::TimeUpRetry:
            return &m_timeUpRetryTimer;
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

QString QuizController::attemptSegment() const
{
    return quorin::RestPath::segment(attemptId());
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

namespace {

bool isAnswer(const QVariant &answer)
{
    if (answer.typeId() == QMetaType::QString)
        return !answer.toString().trimmed().isEmpty();
    // Option index 0 and false are answers; a cleared answer is held as null.
    return answer.isValid() && !answer.isNull();
}

} // namespace

int QuizController::answeredCount() const
{
    return int(std::count_if(m_answers.cbegin(), m_answers.cend(), isAnswer));
}

bool QuizController::canEdit() const
{
    return m_state == Active && m_online && !m_attemptLocked;
}

QVariantMap QuizController::writtenDrafts() const
{
    QVariantMap texts;
    for (auto draft = m_drafts.cbegin(); draft != m_drafts.cend(); ++draft)
        texts.insert(draft.key(), draft.value().toMap().value(QStringLiteral("text")));
    return texts;
}

bool QuizController::attemptSubmitted() const
{
    if (m_attempt.isEmpty())
        return false;
    const QString submittedAt = m_attempt.value(QStringLiteral("submittedAt")).toString();
    return m_submittedHere || QDateTime::fromString(submittedAt, Qt::ISODateWithMs).isValid();
}

int QuizController::unsentAnswersCount() const
{
    QSet<QString> unsent;
    for (auto pending = m_pendingAnswers.cbegin(); pending != m_pendingAnswers.cend(); ++pending) {
        if (isAnswer(pending.value()))
            unsent.insert(pending.key());
    }
    for (auto draft = m_drafts.cbegin(); draft != m_drafts.cend(); ++draft) {
        if (isAnswer(draft.value().toMap().value(QStringLiteral("text"))))
            unsent.insert(draft.key());
    }
    return int(unsent.size());
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
    send(method, path, body, [this, handler](const QJsonDocument &reply, const NetworkFailure &failure) {
        (this->*handler)(reply, failure);
    });
}

void QuizController::send(NetworkManager::HttpMethod method, const QString &path, const QJsonObject &body,
                          ReplyCallback callback)
{
    // The page may close before the answer comes; then the answer is dropped.
    network()->sendRequestDetailed(method, path, body,
                                   [controller = QPointer(this), callback = std::move(callback)](
                                       const QJsonDocument &reply, const NetworkFailure &failure) {
                                       if (controller)
                                           callback(reply, failure);
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
    m_stateBeforeLoad = m_state;
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
        // A finished attempt's results stay: there is nothing to work on offline, and "Refresh
        // status" asks again, so no reconnect ticks take the results off the page meanwhile.
        if (m_stateBeforeLoad == Result || m_stateBeforeLoad == Leaderboard) {
            setState(m_stateBeforeLoad, failure.failure.category == QLatin1String("network")
                                            ? tr("Connection lost. The status could not be refreshed.")
                                            : failure.failure.userMessage);
            return;
        }
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

    // A new try at the deadline's submission follows from the countdown below, if still owed.
    stopTimeUpRetries();
    restoreLocal();
    reviewChangedQuestions();
    handOverDrafts();
    updateCountdown();

    const QString segment = quizSegment();
    if (segment.isEmpty() || !network())
        return;
    send(NetworkManager::HttpMethod::Get, QStringLiteral("quizzes/%1/attempts").arg(segment), QJsonObject(),
         &QuizController::handleHistoryReply);
}

void QuizController::acceptAttempt(const QVariantMap &attempt, bool clearPending)
{
    if (attempt.value(kId).toString() != attemptId())
        forgetAttemptNotes();
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
        // A grade given since the answer was last sent is newer than the server's copy of it.
        const QString selfGraded = QStringLiteral("selfGradedCorrect");
        if (answer.contains(selfGraded) && !m_pendingAnswers.contains(questionId))
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
    forgetAttemptNotes();
    stopTimeUpRetries();
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
        // Members this release adds; a file without them reads as before.
        {QStringLiteral("answerStamps"), stampObject(m_answerStamps)},
        {QStringLiteral("drafts"), QJsonObject::fromVariantMap(m_drafts)},
        {QStringLiteral("submissionAccepted"), m_submittedHere},
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
    m_answerStamps = savedStamps(saved.value(QStringLiteral("answerStamps")));
    m_drafts = savedDrafts(saved.value(QStringLiteral("drafts")));
    m_submittedHere = m_submittedHere || saved.value(QStringLiteral("submissionAccepted")).toBool();

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

namespace {

const QString kSubmitPath = QStringLiteral("attempts/%1/submit");
const QString kFallbackSubmitPath = QStringLiteral("attempt/%1/submit");

// An answer or an option index read as a number; answers that are no number match no option.
std::optional<qint64> numberOf(const QVariant &value)
{
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

// A question's struck-out options; entries of a damaged file that are no number are dropped.
QList<qint64> struckOptions(const QVariantMap &eliminated, const QString &questionId)
{
    QList<qint64> options;
    const QVariantList stored = eliminated.value(questionId).toList();
    for (const QVariant &entry : stored) {
        if (const std::optional<qint64> option = numberOf(entry))
            options.append(*option);
    }
    return options;
}

// Stored ascending and without repeats; no empty list is ever stored: a question without
// struck-out options has no entry.
void storeStruckOptions(QVariantMap &eliminated, const QString &questionId, QList<qint64> options)
{
    std::sort(options.begin(), options.end());
    options.erase(std::unique(options.begin(), options.end()), options.end());
    if (options.isEmpty()) {
        eliminated.remove(questionId);
        return;
    }
    QVariantList list;
    list.reserve(options.size());
    for (const qint64 option : std::as_const(options))
        list.append(option);
    eliminated.insert(questionId, list);
}

// The reply body of a failed request. A body with several messages has them appended to its
// compact JSON after line feeds, which compact JSON itself never holds.
QString replyBodyOf(const AppFailure &failure)
{
    return failure.technicalDetails.section(QLatin1Char('\n'), 0, 0);
}

// The server's copy of the attempt in a conflict body: its "attempt", else "details"."attempt".
QVariantMap conflictAttemptOf(const QString &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body.toUtf8()).object();
    QJsonObject attempt = object.value(QStringLiteral("attempt")).toObject();
    if (attempt.isEmpty())
        attempt =
            object.value(QStringLiteral("details")).toObject().value(QStringLiteral("attempt")).toObject();
    return QuizDomain::parseAttempt(attempt);
}

// The entries of a body by question id.
QHash<QString, QJsonObject> entriesOf(const QJsonObject &body)
{
    QHash<QString, QJsonObject> entries;
    const QJsonArray list = body.value(QStringLiteral("answers")).toArray();
    for (const QJsonValue &entry : list)
        entries.insert(entry.toObject().value(QStringLiteral("questionId")).toString(), entry.toObject());
    return entries;
}

QDateTime timeOf(const QVariant &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

} // namespace

bool QuizController::mayChangeAnswer(const QString &questionId) const
{
    return canEdit() && !questionId.isEmpty() && !m_reviewIds.contains(questionId);
}

void QuizController::finishEdit(bool startSync)
{
    // The file first: an answer must survive a crash even before the server has it.
    saveLocal();
    if (startSync)
        m_syncTimer.start();
    Q_EMIT changed();
}

void QuizController::setAnswer(const QString &questionId, const QVariant &answer)
{
    if (!mayChangeAnswer(questionId))
        return;
    // Choosing an option un-strikes it.
    if (const std::optional<qint64> chosen = numberOf(answer)) {
        QList<qint64> options = struckOptions(m_eliminatedOptions, questionId);
        options.removeAll(*chosen);
        storeStruckOptions(m_eliminatedOptions, questionId, options);
    }
    m_answers.insert(questionId, answer);
    m_pendingAnswers.insert(questionId, answer);
    m_answerStamps.insert(questionId, questionStamp(questionId));
    // The answer now stored is newer than any text kept for the question.
    m_drafts.remove(questionId);
    finishEdit(true);
}

void QuizController::clearAnswer(const QString &questionId)
{
    if (!mayChangeAnswer(questionId))
        return;
    m_answers.remove(questionId);
    // A null pending value travels as JSON null, which clears the server's copy.
    m_pendingAnswers.insert(questionId, QVariant());
    m_answerStamps.insert(questionId, questionStamp(questionId));
    m_drafts.remove(questionId);
    finishEdit(true);
}

void QuizController::toggleMarked(const QString &questionId)
{
    // Marks are local notes: they work offline, locked and under review, while the attempt is open.
    if (m_attempt.isEmpty() || questionId.isEmpty() ||
        m_attempt.value(QStringLiteral("status")).toString() != kActive)
        return;
    if (!m_markedIds.remove(questionId))
        m_markedIds.insert(questionId);
    finishEdit(false);
}

void QuizController::toggleEliminated(const QString &questionId, int optionIndex)
{
    if (!mayChangeAnswer(questionId) || optionIndex < 0)
        return;
    QList<qint64> options = struckOptions(m_eliminatedOptions, questionId);
    if (options.contains(optionIndex))
        options.removeAll(optionIndex);
    else
        options.append(optionIndex);
    storeStruckOptions(m_eliminatedOptions, questionId, options);

    // Striking out the chosen option, or restoring it, leaves the question unanswered.
    const auto answer = m_answers.constFind(questionId);
    const bool clearsAnswer = answer != m_answers.cend() && numberOf(*answer) == qint64(optionIndex);
    if (clearsAnswer) {
        m_answers.remove(questionId);
        m_pendingAnswers.insert(questionId, QVariant());
        m_answerStamps.insert(questionId, questionStamp(questionId));
    }
    finishEdit(clearsAnswer);
}

void QuizController::setSelfGrade(const QString &questionId, bool correct)
{
    if (!canEdit() || questionId.isEmpty())
        return;
    m_selfGrades.insert(questionId, correct);
    // The grade travels with the answer; an unanswered question keeps it until it has one.
    const auto answer = m_answers.constFind(questionId);
    if (answer != m_answers.cend()) {
        m_pendingAnswers.insert(questionId, *answer);
        // The answer keeps the question it was given against; one never stamped takes today's.
        if (m_answerStamps.value(questionId).isEmpty())
            m_answerStamps.insert(questionId, questionStamp(questionId));
    }
    finishEdit(true);
}

void QuizController::keepChangedAnswer(const QString &questionId)
{
    m_reviewIds.remove(questionId);
    // Kept now, against the question as it stands: that is what the server must judge it by.
    const QString stamp = questionStamp(questionId);
    const auto answer = m_answers.constFind(questionId);
    if (answer != m_answers.cend())
        m_pendingAnswers.insert(questionId, *answer);
    if (answer != m_answers.cend() || m_answerStamps.contains(questionId))
        m_answerStamps.insert(questionId, stamp);
    if (m_drafts.contains(questionId)) {
        QVariantMap draft = m_drafts.value(questionId).toMap();
        draft.insert(QStringLiteral("questionUpdatedAt"), stamp);
        m_drafts.insert(questionId, draft);
    }
    // Only a review ends in an open attempt: a finished attempt never becomes editable again.
    if (m_reviewIds.isEmpty() && m_state == ReviewRequired) {
        m_state = Active;
        m_errorMessage.clear();
    }
    // The kept answers go out with the next save or with the submission.
    finishEdit(false);
    // Text typed while the question was under review replaces what was kept.
    handOverDrafts();
}

void QuizController::setWrittenAnswer(const QString &questionId, const QString &text)
{
    if (questionId.isEmpty())
        return;
    if (mayChangeAnswer(questionId)) {
        setAnswer(questionId, text);
        return;
    }
    // Text is kept for an open attempt only: nothing else could ever send it. A load or a
    // submission under way does not end the attempt, and what it brings decides what the text
    // becomes.
    if (m_attempt.value(QStringLiteral("status")).toString() != kActive)
        return;
    const auto stored = m_answers.constFind(questionId);
    const QString storedText =
        stored == m_answers.cend() || stored->isNull() ? QString() : stored->toString();
    if (text == storedText) {
        // Nothing new to keep; a draft that came back to the stored answer is done with.
        if (m_drafts.remove(questionId) > 0)
            finishEdit(false);
        return;
    }
    m_drafts.insert(questionId,
                    QVariantMap{{QStringLiteral("text"), text},
                                {QStringLiteral("typedAt"), now().toString(Qt::ISODateWithMs)},
                                {QStringLiteral("questionUpdatedAt"), questionStamp(questionId)}});
    finishEdit(false);
}

void QuizController::handOverDrafts()
{
    const QStringList waiting = m_drafts.keys();
    for (const QString &questionId : waiting) {
        // Each goes the way typed text goes when it is handed over: stored, saved, sent.
        if (mayChangeAnswer(questionId))
            setAnswer(questionId,
                      m_drafts.value(questionId).toMap().value(QStringLiteral("text")).toString());
    }
}

void QuizController::syncNow()
{
    if (m_state != Active || !m_online || m_attemptLocked || m_pendingAnswers.isEmpty() || m_syncing ||
        m_attempt.isEmpty())
        return;
    const QString segment = attemptSegment();
    if (segment.isEmpty() || !network())
        return;
    // An answer under review waits for the student's decision.
    QVariantMap sending = m_pendingAnswers;
    for (const QString &questionId : std::as_const(m_reviewIds))
        sending.remove(questionId);
    const QJsonObject body =
        QuizDomain::mutationPayload(m_revision, m_questions, sending, m_selfGrades, m_answerStamps);
    // Answers of questions without a version stamp cannot go out; they stay pending rather than
    // count as saved, and a body without answers is not worth a request.
    const SentEntries sent = entriesOf(body);
    if (sent.isEmpty())
        return;

    m_syncing = true;
    Q_EMIT changed();
    send(NetworkManager::HttpMethod::Put, QStringLiteral("attempts/%1/answers").arg(segment), body,
         [this, sent](const QJsonDocument &reply, const NetworkFailure &failure) {
             handleSyncReply(sent, reply, failure);
         });
}

void QuizController::dropAcknowledged(const SentEntries &sent)
{
    // Answers, grades or stamps changed again while the save was on its way still have to go out.
    const SentEntries now = entriesOf(
        QuizDomain::mutationPayload(m_revision, m_questions, m_pendingAnswers, m_selfGrades, m_answerStamps));
    for (auto entry = sent.cbegin(); entry != sent.cend(); ++entry) {
        if (now.value(entry.key()) == entry.value())
            m_pendingAnswers.remove(entry.key());
    }
}

void QuizController::handleSyncReply(const SentEntries &sent, const QJsonDocument &reply,
                                     const NetworkFailure &failure)
{
    m_syncing = false;
    const bool succeeded = failure.failure.code.isEmpty();
    // A submission does not wait for a save in flight. Once it is under way or done, the save's
    // late answer must not bring back the open attempt, an older revision or a lock.
    if (m_state == Submitting || m_state == Result) {
        if (succeeded) {
            dropAcknowledged(sent);
            saveLocal();
        }
        Q_EMIT changed();
        return;
    }
    if (!succeeded) {
        handleMutationFailure(failure.failure, false);
        return;
    }
    dropAcknowledged(sent);
    const QVariantMap attempt = QuizDomain::parseAttempt(reply.object());
    // A reply without a usable attempt keeps the one held, with its revision.
    if (!attempt.isEmpty())
        acceptAttempt(attempt, false);
    else
        Q_EMIT changed();
    saveLocal();
    if (!m_pendingAnswers.isEmpty())
        m_syncTimer.start();
}

bool QuizController::maySubmit(bool tellUser)
{
    const auto refuse = [this, tellUser](const QString &message, const QString &severity) {
        if (tellUser && !message.isEmpty())
            Q_EMIT feedback(message, severity);
        return false;
    };
    if (!m_online)
        return refuse(tr("Internet connection is required to submit the quiz."), kError);
    // Online and read-only means the server closed the attempt; other states stay silent.
    if (m_state == OfflineReadOnly)
        return refuse(tr("This attempt is closed and cannot be submitted."), kWarning);
    if (m_state != Active && m_state != ReviewRequired)
        return refuse(QString(), QString());
    if (!m_reviewIds.isEmpty())
        return refuse(tr("Review changed questions before submitting."), kWarning);
    return !attemptSegment().isEmpty() && network();
}

void QuizController::submit()
{
    // A handler of submissionStarting that submits again joins the submission under way.
    if (m_announcingSubmission || !maySubmit(true))
        return;
    m_announcingSubmission = true;
    Q_EMIT submissionStarting();
    m_announcingSubmission = false;
    if (!maySubmit(false))
        return;
    beginSubmission(QString());
}

void QuizController::beginSubmission(const QString &message)
{
    m_conflictResubmissions = 0;
    m_timeUpRetryTimer.stop();
    m_timeUpSubmissionFailed = false;
    setState(Submitting, message);
    // Its callers checked that the attempt's id makes a path, so the request goes out.
    (void)submitTo(kSubmitPath, false);
}

bool QuizController::submitTo(const QString &pathTemplate, bool fallback)
{
    const QString segment = attemptSegment();
    if (segment.isEmpty() || !network())
        return false;
    // Every answer goes, not only the pending ones: the submission is the attempt's final word.
    const QJsonObject body =
        QuizDomain::mutationPayload(m_revision, m_questions, m_answers, m_selfGrades, m_answerStamps);
    send(NetworkManager::HttpMethod::Post, pathTemplate.arg(segment), body,
         [this, fallback](const QJsonDocument &reply, const NetworkFailure &failure) {
             handleSubmitReply(fallback, reply, failure);
         });
    return true;
}

void QuizController::handleSubmitReply(bool fallback, const QJsonDocument &reply,
                                       const NetworkFailure &failure)
{
    if (!failure.failure.code.isEmpty()) {
        if (failure.failure.httpStatus == 404 && !fallback && submitTo(kFallbackSubmitPath, true))
            return;
        handleMutationFailure(failure.failure, true);
        return;
    }
    stopTimeUpRetries();
    const QVariantMap attempt = QuizDomain::parseAttempt(reply.object());
    if (attempt.isEmpty()) {
        // The submission was taken, but its record did not come back: ask for the quiz again.
        m_submittedHere = true;
        m_pendingAnswers.clear();
        setState(Result);
        saveLocal();
        open();
        return;
    }
    acceptAttempt(attempt, true);
    m_submittedHere = true;
    setState(Result);
    saveLocal();
}

void QuizController::handleMutationFailure(const AppFailure &failure, bool submission)
{
    const QString body = replyBodyOf(failure);
    const QString code = QuizDomain::conflictCode(body);
    if (code == QLatin1String("ATTEMPT_CLOSED") || code == QLatin1String("ATTEMPT_EXPIRED")) {
        stopTimeUpRetries();
        m_attemptLocked = true;
        setState(OfflineReadOnly, failure.userMessage);
        saveLocal();
        return;
    }
    if (code == QLatin1String("QUESTION_VERSION_CONFLICT")) {
        stopTimeUpRetries();
        for (auto pending = m_pendingAnswers.cbegin(); pending != m_pendingAnswers.cend(); ++pending)
            m_reviewIds.insert(pending.key());
        setState(ReviewRequired, tr("Some questions changed. Review your answers before continuing."));
        saveLocal();
        reloadForChangedQuestions();
        return;
    }
    if (code == QLatin1String("ATTEMPT_REVISION_CONFLICT")) {
        const QVariantMap attempt = conflictAttemptOf(body);
        if (!attempt.isEmpty()) {
            adoptConflictAttempt(attempt, submission, failure);
            return;
        }
    }
    if (failure.category == QLatin1String("network")) {
        // The reload after reconnecting submits again when the deadline has passed.
        stopTimeUpRetries();
        m_online = false;
        m_reconnectTimer.start();
        setState(OfflineReadOnly,
                 tr("Connection lost. This loaded attempt is read-only until reconnection."));
        saveLocal();
        return;
    }
    reportFailure(failure, submission);
}

void QuizController::reportFailure(const AppFailure &failure, bool submission)
{
    if (submission && timeIsUp()) {
        // Nothing can be changed any more, and the answers are not in: say so until they are.
        scheduleTimeUpRetry();
        saveLocal();
        return;
    }
    // A failed submission leaves the attempt open to be submitted again; a failed save changes no
    // state. Its answers stay pending either way.
    if (submission)
        m_state = Active;
    m_errorMessage.clear();
    Q_EMIT changed();
    Q_EMIT feedback(failure.userMessage, kError);
    saveLocal();
}

void QuizController::adoptConflictAttempt(const QVariantMap &attempt, bool submission,
                                          const AppFailure &failure)
{
    acceptAttempt(attempt, false);
    if (!submission) {
        // The save goes again with the adopted revision. Only an open attempt returns to Active:
        // a review or a reload under way keeps its state.
        if (m_state == Active)
            setState(Active);
        m_syncTimer.start();
        return;
    }
    constexpr int maximumResubmissions = 3;
    // An adopted attempt whose id cannot be a path segment ends the chain like any other failure.
    if (m_conflictResubmissions < maximumResubmissions && submitTo(kSubmitPath, false)) {
        ++m_conflictResubmissions;
        return;
    }
    reportFailure(failure, true);
}

void QuizController::reloadForChangedQuestions()
{
    // The student must review the questions as they are now, and answers must go out with the
    // new stamps, or the server refuses them again for ever. The load compares the stamps.
    open();
}

QString QuizController::questionStamp(const QString &questionId) const
{
    QString stamp;
    // A later question with the same id replaces an earlier one, as in the answer body.
    for (const QVariant &entry : m_questions) {
        const QVariantMap question = entry.toMap();
        if (question.value(kId).toString() == questionId)
            stamp = question.value(QStringLiteral("updatedAt")).toString();
    }
    return stamp;
}

void QuizController::forgetAttemptNotes()
{
    m_answerStamps.clear();
    m_drafts.clear();
    m_submittedHere = false;
}

void QuizController::reviewChangedQuestions()
{
    // Only an open attempt can be reviewed and left again.
    if (m_state != Active && m_state != ReviewRequired)
        return;
    QHash<QString, QString> current;
    for (const QVariant &entry : std::as_const(m_questions)) {
        const QVariantMap question = entry.toMap();
        current.insert(question.value(kId).toString(),
                       question.value(QStringLiteral("updatedAt")).toString());
    }
    bool added = false;
    bool noted = false;
    for (auto question = current.cbegin(); question != current.cend(); ++question) {
        const QString &questionId = question.key();
        const QString &stamp = question.value();
        const bool answered = isAnswer(m_answers.value(questionId));
        const auto given = m_answerStamps.constFind(questionId);
        bool changed = false;
        if (given == m_answerStamps.cend()) {
            // Answers from before stamps were kept, or given elsewhere: today's stamp, as sent so far.
            if (answered) {
                m_answerStamps.insert(questionId, stamp);
                noted = true;
            }
        } else if (*given != stamp) {
            if (answered) {
                changed = true;
            } else {
                // A cleared answer means the same whatever the question now says.
                m_answerStamps.insert(questionId, stamp);
                noted = true;
            }
        }
        if (m_drafts.contains(questionId)) {
            QVariantMap draft = m_drafts.value(questionId).toMap();
            const QString typedFor = draft.value(QStringLiteral("questionUpdatedAt")).toString();
            if (typedFor.isEmpty()) {
                draft.insert(QStringLiteral("questionUpdatedAt"), stamp);
                m_drafts.insert(questionId, draft);
                noted = true;
            } else if (typedFor != stamp) {
                changed = true;
            }
        }
        if (changed && !m_reviewIds.contains(questionId)) {
            m_reviewIds.insert(questionId);
            added = true;
        }
    }
    if (added && m_state == Active)
        setState(ReviewRequired, tr("Some questions changed. Review your answers before continuing."));
    else if (added)
        Q_EMIT changed();
    if (added || noted)
        saveLocal();
}

void QuizController::updateCountdown()
{
    QDateTime deadline = timeOf(m_attempt.value(QStringLiteral("expiresAt")));
    const QDateTime current = now();
    if (!deadline.isValid() && m_attempt.isEmpty() && quizType() == kTimed) {
        const QDateTime start = timeOf(m_details.value(QStringLiteral("startsAt")));
        if (start.isValid() && current < start)
            deadline = start;
    }
    m_remainingSeconds = QuizDomain::remainingSeconds(deadline, current);

    if (deadline.isValid() && m_remainingSeconds == 0 && m_attempt.isEmpty()) {
        // The start is less than a second away: look again when it has come.
        m_attemptLocked = false;
        m_countdownTimer.stop();
        m_startArrivalTimer.start(int(std::clamp<qint64>(current.msecsTo(deadline), 1, 1000)));
        Q_EMIT changed();
        return;
    }
    if (deadline.isValid() && m_remainingSeconds == 0) {
        const bool submits = m_state == Active && m_online && !attemptSegment().isEmpty() && network();
        // Text still being typed reaches the answers before they lock.
        if (submits && !m_announcingSubmission) {
            m_announcingSubmission = true;
            Q_EMIT submissionStarting();
            m_announcingSubmission = false;
            handOverDrafts();
        }
        m_attemptLocked = true;
        if (submits && m_state == Active)
            beginSubmission(tr("Time is up. Submitting saved answers…"));
        else if (m_state == Active && !m_online)
            setState(OfflineReadOnly, tr("Time is up. Answers are now locked."));
        m_countdownTimer.stop();
        Q_EMIT changed();
        return;
    }
    if (deadline.isValid() && !m_countdownTimer.isActive())
        m_countdownTimer.start();
    Q_EMIT changed();
}

bool QuizController::timeIsUp() const
{
    const QDateTime deadline = timeOf(m_attempt.value(QStringLiteral("expiresAt")));
    return !m_attempt.isEmpty() && deadline.isValid() && now() >= deadline;
}

void QuizController::scheduleTimeUpRetry()
{
    const int step = std::min(m_timeUpRetries, int(m_timeUpRetryMs.size()) - 1);
    ++m_timeUpRetries;
    if (step >= 0)
        m_timeUpRetryTimer.start(m_timeUpRetryMs.at(step));
    m_timeUpSubmissionFailed = true;
    setState(Active, tr("Time is up, and your answers could not be submitted yet."));
}

void QuizController::stopTimeUpRetries()
{
    m_timeUpRetryTimer.stop();
    m_timeUpRetries = 0;
    m_timeUpSubmissionFailed = false;
}

void QuizController::retryTimeUpSubmission()
{
    // Another way out may have been taken meanwhile: a reload, a review, a lost connection.
    if (!m_timeUpSubmissionFailed || m_state != Active || !m_online || !m_reviewIds.isEmpty() ||
        attemptSegment().isEmpty() || !network())
        return;
    beginSubmission(tr("Time is up. Submitting saved answers…"));
}

QString QuizController::questionPrompt() const
{
    const QVariantMap question = currentQuestion();
    QStringList lines{QStringLiteral("Q. %1").arg(question.value(QStringLiteral("text")).toString())};
    const QVariantList options = question.value(QStringLiteral("options")).toList();
    for (qsizetype index = 0; index < options.size(); ++index) {
        // Both filled in one pass, so a "%" in an option stays as it is.
        lines.append(QStringLiteral("%1. %2").arg(QString(QChar(char16_t(u'a' + index))),
                                                  options.at(index).toString()));
    }
    return lines.join(QLatin1Char('\n'));
}

bool QuizController::openPage(const QUrl &url, const QString &page)
{
    const bool opened = m_openUrl ? m_openUrl(url) : QDesktopServices::openUrl(url);
    // Which page, by its origin's fingerprint only: the address carries the question.
    const QString origin =
        url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
            .toString();
    DiagnosticLogger::log(QStringLiteral("quiz"), opened ? QStringLiteral("info") : QStringLiteral("warning"),
                          QStringLiteral("ai_discussion_opened"),
                          {{QStringLiteral("page"), page},
                           {QStringLiteral("origin_fp"), DiagnosticLogger::fingerprint(origin)},
                           {QStringLiteral("opened"), opened}});
    if (!opened)
        Q_EMIT feedback(tr("Could not open the AI discussion."), kError);
    return opened;
}

void QuizController::discussCurrentQuestion()
{
    const QString prompt = questionPrompt().trimmed();
    const QUrl link(m_details.value(QStringLiteral("customGptLink")).toString(), QUrl::TolerantMode);
    if (link.isValid() && link.scheme() == QLatin1String("https") &&
        !link.host(QUrl::FullyDecoded).isEmpty()) {
        // The quiz's own page cannot take the question in its address: it goes to the clipboard,
        // and the page opens once the student has read that it is there.
        if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            application->clipboard()->setText(prompt);
        m_aiRedirectUrl = link;
        m_aiRedirectSeconds = 5;
        m_aiRedirectTimer.start();
        Q_EMIT feedback(tr("Question copied. Opening AI in %1…").arg(m_aiRedirectSeconds),
                        QStringLiteral("info"));
        Q_EMIT changed();
        return;
    }
    if (m_aiChatUrl.scheme() != QLatin1String("https") || m_aiChatUrl.host().isEmpty()) {
        Q_EMIT feedback(tr("Could not open the AI discussion."), kError);
        return;
    }
    QUrl page;
    page.setScheme(m_aiChatUrl.scheme());
    page.setHost(m_aiChatUrl.host());
    page.setPort(m_aiChatUrl.port());
    page.setPath(QStringLiteral("/"));
    // Every reserved character of the prompt is encoded here: left to QUrlQuery, a "+" would stay
    // bare and read as a space, and a "%" followed by two hex digits would decode.
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("model"), QStringLiteral("auto"));
    query.addQueryItem(QStringLiteral("q"), QString::fromLatin1(QUrl::toPercentEncoding(prompt)));
    page.setQuery(query);
    (void)openPage(page, QStringLiteral("fallback"));
}

void QuizController::aiRedirectTick()
{
    --m_aiRedirectSeconds;
    if (m_aiRedirectSeconds > 0) {
        Q_EMIT feedback(tr("Question copied. Opening AI in %1…").arg(m_aiRedirectSeconds),
                        QStringLiteral("info"));
    } else {
        m_aiRedirectTimer.stop();
        (void)openPage(m_aiRedirectUrl, QStringLiteral("quiz_link"));
    }
    Q_EMIT changed();
}
