#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The quiz feature's rules, kept apart from the network, timers and the interface: reading the
// backend's quiz and attempt JSON into the records the quiz page binds to, plain text from
// rich-text documents, which links may be loaded or opened, the body that carries answers back,
// the code of a refused save, the countdown, and the per-attempt session file on disk.
//
// Every operation is static and keeps no state. The parse failures are fixed English texts, not
// translated: the controller shows them as they are. Only the session file functions touch the
// disk; everything else is pure and safe to call from any thread.
class QuizDomain
{
public:
    QuizDomain() = delete;

    // Reads the answer to "quizzes/<id>" into the quiz record. On failure the record keeps what
    // it held and the error holds one of the fixed texts below; on success the error is cleared.
    [[nodiscard]] static bool parseDetails(const QJsonObject &response, QVariantMap *details,
                                           QString *error = nullptr);
    // An attempt record, or an empty map when the attempt has no usable id.
    [[nodiscard]] static QVariantMap parseAttempt(const QJsonObject &attempt);
    // The text of a plain string or of a document of insert operations, trimmed.
    [[nodiscard]] static QString richPlainText(const QJsonValue &value);
    // True only for an https URL with a host and without user name or password.
    [[nodiscard]] static bool isSecureLink(const QString &text);
    // The body of a save or a submission: one entry per answer to a question of the quiz, by
    // ascending id. Each carries the version stamp the answer was given against (answerStamps),
    // else the question's stamp as loaded; an answer with neither stays out.
    [[nodiscard]] static QJsonObject mutationPayload(int baseRevision, const QVariantList &questions,
                                                     const QVariantMap &answers,
                                                     const QVariantMap &selfGrades,
                                                     const QHash<QString, QString> &answerStamps = {});
    // The upper-case code carried by the body of a refused request, or empty text.
    [[nodiscard]] static QString conflictCode(const QString &body);
    // Whole seconds from now to the deadline, never negative; -1 for an invalid deadline.
    [[nodiscard]] static qint64 remainingSeconds(const QDateTime &deadline, const QDateTime &now);

    // The session file of one user's attempt at one quiz, under the application-data folder. The
    // path is made of digests of the ids, so it names no id.
    [[nodiscard]] static QString sessionPath(const QString &dataFolder, const QString &userId,
                                             const QString &quizId, const QString &attemptId);
    // Replaces the file whole and atomically, owner-only; the earlier file stays on any failure.
    [[nodiscard]] static bool saveSession(const QString &path, const QJsonObject &session,
                                          QString *error = nullptr);
    // The saved object, or an empty object. A missing file is not an error and leaves the error
    // text as it was.
    [[nodiscard]] static QJsonObject loadSession(const QString &path, QString *error = nullptr);
    // The parse step of loadSession, apart from the file.
    [[nodiscard]] static QJsonObject parseSession(const QByteArray &bytes, QString *error = nullptr);
};
