#pragma once

#include "net/NetworkManager.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

// The native half of one quiz page; each page creates its own and it dies with the page. It loads
// the quiz and the student's attempts from the backend, starts an attempt, holds everything the
// student does in it (answers, self-grades, marks, struck-out options, questions under review,
// answers the server has not acknowledged) and mirrors that into a session file per attempt, so a
// page opened again, a lost connection or a restart resumes where the student stopped.
//
// Failures of the load live in `state` and `errorMessage`; transient messages go out through
// `feedback`. `changed` is the one change signal of every property but `quizId`. GUI thread only:
// every request callback holds a weak reference and does nothing once the controller is gone.
class QuizController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "QuizController")
    Q_PROPERTY(QString quizId READ quizId WRITE setQuizId NOTIFY quizIdChanged)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString quizType READ quizType NOTIFY changed)
    Q_PROPERTY(State state READ state NOTIFY changed)
    Q_PROPERTY(QVariantList questions READ questions NOTIFY changed)
    Q_PROPERTY(QVariantList attempts READ attempts NOTIFY changed)
    Q_PROPERTY(QVariantList leaderboard READ leaderboard NOTIFY changed)
    Q_PROPERTY(QVariantMap answers READ answers NOTIFY changed)
    Q_PROPERTY(QVariantMap selfGrades READ selfGrades NOTIFY changed)
    Q_PROPERTY(QVariantList markedQuestionIds READ markedQuestionIds NOTIFY changed)
    Q_PROPERTY(QVariantMap eliminatedOptions READ eliminatedOptions NOTIFY changed)
    Q_PROPERTY(QVariantList reviewQuestionIds READ reviewQuestionIds NOTIFY changed)
    Q_PROPERTY(
        int currentQuestionIndex READ currentQuestionIndex WRITE setCurrentQuestionIndex NOTIFY changed)
    Q_PROPERTY(QVariantMap currentQuestion READ currentQuestion NOTIFY changed)
    Q_PROPERTY(int answeredCount READ answeredCount NOTIFY changed)
    Q_PROPERTY(int revision READ revision NOTIFY changed)
    Q_PROPERTY(qint64 remainingSeconds READ remainingSeconds NOTIFY changed)
    Q_PROPERTY(bool canEdit READ canEdit NOTIFY changed)
    Q_PROPERTY(bool online READ online NOTIFY changed)
    Q_PROPERTY(bool syncing READ syncing NOTIFY changed)
    Q_PROPERTY(bool startingAttempt READ startingAttempt NOTIFY changed)
    Q_PROPERTY(bool available READ available NOTIFY changed)
    Q_PROPERTY(QString availabilityMessage READ availabilityMessage NOTIFY changed)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY changed)
    Q_PROPERTY(int pendingAnswersCount READ pendingAnswersCount NOTIFY changed)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY changed)
    Q_PROPERTY(int aiRedirectSeconds READ aiRedirectSeconds NOTIFY changed)
    Q_PROPERTY(QVariantMap writtenDrafts READ writtenDrafts NOTIFY changed)
    Q_PROPERTY(bool attemptSubmitted READ attemptSubmitted NOTIFY changed)
    Q_PROPERTY(int unsentAnswersCount READ unsentAnswersCount NOTIFY changed)
    Q_PROPERTY(bool timeUpSubmissionFailed READ timeUpSubmissionFailed NOTIFY changed)

public:
    enum State {
        Idle = 0,
        Loading = 1,
        Ready = 2,
        Active = 3,
        OfflineReadOnly = 4,
        ReviewRequired = 5,
        Submitting = 6,
        Result = 7,
        Leaderboard = 8,
        Failed = 9,
    };
    Q_ENUM(State)

    struct Intervals
    {
        int syncMs = 750;
        int countdownMs = 1000;
        int reconnectMs = 10000;
        int aiRedirectMs = 1000;
        // The waits before each new try of a submission that failed after the deadline; the last
        // one repeats.
        QList<int> timeUpRetryMs{2000, 5000, 15000, 60000};
    };

    // What a controller is built from. The page's controllers take production(); tests give a
    // client over a fixture server, a fixed user and clock, and short intervals.
    struct Configuration
    {
        // Must outlive the controller's requests; with none the controller sends nothing.
        NetworkManager *network = nullptr;
        // The signed-in user, read afresh whenever a session file path is made.
        std::function<QString()> userId;
        std::function<QDateTime()> currentUtc;
        Intervals intervals;
        // The outside AI chat page a question goes to when its quiz names no page of its own.
        QUrl aiChatUrl;
        // Opens a page in the browser; false when the desktop could not. Empty: the desktop's
        // own handler (QDesktopServices::openUrl).
        std::function<bool(const QUrl &)> openUrl;

        [[nodiscard]] static Configuration production();
    };

    // The four timers, for tests that check what runs.
    enum class Timer { Sync, Countdown, Reconnect, AiRedirect, TimeUpRetry };
    struct TimerReading
    {
        bool active = false;
        int intervalMs = 0;
        // -1 while the timer is stopped.
        int remainingMs = -1;
    };

    // QML's constructor: the configuration of defaultConfiguration().
    explicit QuizController(QObject *parent = nullptr);
    explicit QuizController(Configuration configuration, QObject *parent = nullptr);
    ~QuizController() override;

    // What default-constructed controllers take: production(), unless a test has set a factory.
    [[nodiscard]] static Configuration defaultConfiguration();
    // For tests only: every controller QML creates from now on takes what the factory returns; an
    // empty factory brings production() back.
    static void setDefaultConfigurationForTests(std::function<Configuration()> factory);

    [[nodiscard]] TimerReading timerForTests(Timer timer) const;

    [[nodiscard]] QString quizId() const { return m_quizId; }
    // Stores the id trimmed; loads nothing.
    void setQuizId(const QString &quizId);
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString quizType() const;
    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] QVariantList questions() const { return m_questions; }
    [[nodiscard]] QVariantList attempts() const { return m_attempts; }
    [[nodiscard]] QVariantList leaderboard() const;
    [[nodiscard]] QVariantMap answers() const { return m_answers; }
    [[nodiscard]] QVariantMap selfGrades() const { return m_selfGrades; }
    [[nodiscard]] QVariantList markedQuestionIds() const;
    [[nodiscard]] QVariantMap eliminatedOptions() const { return m_eliminatedOptions; }
    [[nodiscard]] QVariantList reviewQuestionIds() const;
    [[nodiscard]] int currentQuestionIndex() const { return m_currentQuestionIndex; }
    // Clamped into the questions; a change is saved to the session file. Accepted in every state.
    void setCurrentQuestionIndex(int index);
    [[nodiscard]] QVariantMap currentQuestion() const;
    [[nodiscard]] int answeredCount() const;
    [[nodiscard]] int revision() const { return m_revision; }
    [[nodiscard]] qint64 remainingSeconds() const { return m_remainingSeconds; }
    [[nodiscard]] bool canEdit() const;
    [[nodiscard]] bool online() const { return m_online; }
    [[nodiscard]] bool syncing() const { return m_syncing; }
    [[nodiscard]] bool startingAttempt() const { return m_startingAttempt; }
    // Whether a timed quiz may be started now; always true for an ordinary quiz.
    [[nodiscard]] bool available() const;
    [[nodiscard]] QString availabilityMessage() const;
    [[nodiscard]] QString statusMessage() const;
    [[nodiscard]] int pendingAnswersCount() const;
    [[nodiscard]] QString errorMessage() const { return m_errorMessage; }
    [[nodiscard]] int aiRedirectSeconds() const { return m_aiRedirectSeconds; }
    // Question id to written text that could not be stored as the answer when it was handed over
    // (offline, locked, or the question under review); it goes out once editing is possible again.
    [[nodiscard]] QVariantMap writtenDrafts() const;
    // The held attempt was submitted: its "submittedAt" holds a time, or this client's submission
    // of it was accepted.
    [[nodiscard]] bool attemptSubmitted() const;
    // Answers of the held attempt kept on this computer that have not reached the server: pending
    // answers and drafts, one per question.
    [[nodiscard]] int unsentAnswersCount() const;
    // The submission owed since the deadline failed and is tried again on its own.
    [[nodiscard]] bool timeUpSubmissionFailed() const { return m_timeUpSubmissionFailed; }

    // The session file of the attempt held now.
    [[nodiscard]] QString localPath() const;

    // Loads the quiz, unless a load runs or the id cannot be one path segment.
    Q_INVOKABLE void open();
    Q_INVOKABLE void retry();
    Q_INVOKABLE void startAttempt(const QString &nickname);
    Q_INVOKABLE void startAttempt();
    Q_INVOKABLE void setAnswer(const QString &questionId, const QVariant &answer);
    Q_INVOKABLE void clearAnswer(const QString &questionId);
    Q_INVOKABLE void toggleMarked(const QString &questionId);
    Q_INVOKABLE void toggleEliminated(const QString &questionId, int optionIndex);
    Q_INVOKABLE void setSelfGrade(const QString &questionId, bool correct);
    Q_INVOKABLE void keepChangedAnswer(const QString &questionId);
    // The written field's text: stored as the answer when it may be, else kept as a draft.
    Q_INVOKABLE void setWrittenAnswer(const QString &questionId, const QString &text);
    Q_INVOKABLE void syncNow();
    Q_INVOKABLE void submit();
    Q_INVOKABLE void discussCurrentQuestion();

Q_SIGNALS:
    void quizIdChanged();
    void changed();
    // A transient message for the user; severity "info", "warning" or "error".
    void feedback(const QString &message, const QString &severity);
    // Emitted synchronously just before a submission goes out, while answers can still be
    // changed: the page hands over the text of a field that is still being edited.
    void submissionStarting();

private:
    [[nodiscard]] NetworkManager *network() const { return m_network.data(); }
    [[nodiscard]] QDateTime now() const;
    [[nodiscard]] QString attemptId() const;
    // The quiz id as one path segment; empty when it cannot be one.
    [[nodiscard]] QString quizSegment() const;

    // The attempt id as one path segment; empty when it cannot be one.
    [[nodiscard]] QString attemptSegment() const;

    using ReplyHandler = void (QuizController::*)(const QJsonDocument &, const NetworkFailure &);
    using ReplyCallback = std::function<void(const QJsonDocument &, const NetworkFailure &)>;
    // Sends through the client; the handler runs only while this controller exists.
    void send(NetworkManager::HttpMethod method, const QString &path, const QJsonObject &body,
              ReplyHandler handler);
    void send(NetworkManager::HttpMethod method, const QString &path, const QJsonObject &body,
              ReplyCallback callback);
    void setState(State state, const QString &message = QString());
    void handleLoadReply(const QJsonDocument &reply, const NetworkFailure &failure);
    void applyDetails(const QVariantMap &details);
    void acceptAttempt(const QVariantMap &attempt, bool clearPending);
    void handleHistoryReply(const QJsonDocument &reply, const NetworkFailure &failure);
    void handleStartReply(const QJsonDocument &reply, const NetworkFailure &failure);
    void reconnectTick();

    void saveLocal();
    void restoreLocal();

    // The version stamp of the question as loaded now; empty for an unknown question.
    [[nodiscard]] QString questionStamp(const QString &questionId) const;
    void forgetAttemptNotes();
    // Puts under review every answered question whose stamp changed since the answer was given.
    void reviewChangedQuestions();
    void handOverDrafts();
    [[nodiscard]] bool timeIsUp() const;
    void scheduleTimeUpRetry();
    void stopTimeUpRetries();
    void retryTimeUpSubmission();

    // Answering, saving and submitting, the countdown and the AI discussion.
    [[nodiscard]] bool mayChangeAnswer(const QString &questionId) const;
    void finishEdit(bool startSync);
    using SentEntries = QHash<QString, QJsonObject>;
    void handleSyncReply(const SentEntries &sent, const QJsonDocument &reply, const NetworkFailure &failure);
    // Removes the pending answers whose saved entry (answer, self-grade and stamp) is still what
    // would be sent now.
    void dropAcknowledged(const SentEntries &sent);
    // Whether submit() may go ahead now; gives the user the reason when it may not.
    [[nodiscard]] bool maySubmit(bool tellUser);
    void beginSubmission(const QString &message);
    void updateCountdown();
    // False when nothing could be sent: the attempt's id is no path segment, or there is no client.
    [[nodiscard]] bool submitTo(const QString &pathTemplate, bool fallback);
    void handleSubmitReply(bool fallback, const QJsonDocument &reply, const NetworkFailure &failure);
    void handleMutationFailure(const AppFailure &failure, bool submission);
    void adoptConflictAttempt(const QVariantMap &attempt, bool submission, const AppFailure &failure);
    void reportFailure(const AppFailure &failure, bool submission);
    void reloadForChangedQuestions();
    [[nodiscard]] QString questionPrompt() const;
    [[nodiscard]] bool openPage(const QUrl &url, const QString &page);
    void aiRedirectTick();

    QString m_quizId;
    QVariantMap m_details;
    QVariantList m_questions;
    QVariantList m_attempts;
    QVariantMap m_attempt;
    QVariantMap m_answers;
    // A null value stands for a cleared answer.
    QVariantMap m_pendingAnswers;
    QVariantMap m_selfGrades;
    QSet<QString> m_markedIds;
    QVariantMap m_eliminatedOptions;
    QSet<QString> m_reviewIds;
    int m_currentQuestionIndex = 0;
    int m_revision = 0;
    qint64 m_remainingSeconds = -1;
    bool m_online = true;
    bool m_syncing = false;
    bool m_startingAttempt = false;
    bool m_attemptLocked = false;
    State m_state = Idle;
    QString m_errorMessage;
    // Plain members: they stop when the controller is destroyed.
    QTimer m_syncTimer;
    QTimer m_countdownTimer;
    QTimer m_reconnectTimer;
    QTimer m_aiRedirectTimer;
    QUrl m_aiRedirectUrl;
    int m_aiRedirectSeconds = 0;
    // Announces the opening of a timed quiz once its start has passed: the count stops up to a
    // second before it, and nothing else would read `available` again.
    QTimer m_startArrivalTimer;
    // Resubmissions after revision conflicts in the current submission; bounded so that a server
    // that keeps answering with a conflict is not asked again without end.
    int m_conflictResubmissions = 0;
    bool m_announcingSubmission = false;
    // Question id to the version stamp of the question an answer (or a cleared answer) was given
    // against, kept after the server took it: a reload that brings another stamp puts it under
    // review.
    QHash<QString, QString> m_answerStamps;
    // Question id to { "text", "typedAt", "questionUpdatedAt" }.
    QVariantMap m_drafts;
    bool m_submittedHere = false;
    bool m_timeUpSubmissionFailed = false;
    int m_timeUpRetries = 0;
    QList<int> m_timeUpRetryMs;
    QTimer m_timeUpRetryTimer;
    // What a load that fails leaves the page showing.
    State m_stateBeforeLoad = Idle;

    QPointer<NetworkManager> m_network;
    std::function<QString()> m_userId;
    std::function<QDateTime()> m_currentUtc;
    QUrl m_aiChatUrl;
    std::function<bool(const QUrl &)> m_openUrl;
};
