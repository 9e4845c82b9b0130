#include "quiz/QuizDomain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUrl>
#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr auto MissingOutput = "Missing quiz output";
constexpr auto MissingQuizId = "Quiz response has no id";
constexpr auto InvalidQuizType = "Quiz response has an invalid type";
constexpr auto InvalidQuestion = "Quiz contains an invalid question";
constexpr auto CorrectOptionOutOfRange = "Quiz correct option is out of range";
constexpr auto CouldNotCreateStorage = "Could not create quiz storage";
constexpr auto InvalidSession = "Invalid saved quiz session";

// The keys the quiz record sets itself; a quiz member of the same name is replaced, so it is not
// converted in the first place.
const std::array<QLatin1String, 12> DetailsKeys = {
    QLatin1String("id"),
    QLatin1String("type"),
    QLatin1String("questions"),
    QLatin1String("customGptLink"),
    QLatin1String("leaderboardOnly"),
    QLatin1String("leaderboardStatus"),
    QLatin1String("message"),
    QLatin1String("leaderboard"),
    QLatin1String("rank"),
    QLatin1String("pendingAnswersCount"),
    QLatin1String("activeAttempt"),
    QLatin1String("attempt"),
};

constexpr QFile::Permissions OwnerOnlyFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions OwnerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool fail(QString *error, const char *text)
{
    return fail(error, QString::fromLatin1(text));
}

void clearError(QString *error)
{
    if (error)
        error->clear();
}

// The temporary file goes with the save file; the target is not touched.
bool abandon(QSaveFile &file, QString *error, const QString &text)
{
    file.cancelWriting();
    return fail(error, text);
}

// Identifiers must be strings; a number counts as missing.
QString identifier(const QJsonValue &value)
{
    return value.toString().trimmed();
}

QString upperCaseWord(const QJsonValue &value)
{
    return value.toString().trimmed().toUpper();
}

QString secureLinkOrEmpty(const QString &link)
{
    return QuizDomain::isSecureLink(link) ? link : QString();
}

QVariantMap copiedMembersExcept(const QJsonObject &object, const std::array<QLatin1String, 12> &replaced)
{
    QVariantMap copy;
    for (auto member = object.constBegin(); member != object.constEnd(); ++member) {
        const QString key = member.key();
        if (std::find(replaced.cbegin(), replaced.cend(), key) == replaced.cend())
            copy.insert(key, member.value().toVariant());
    }
    return copy;
}

struct OrderedQuestion
{
    int order = 0;
    QString id;
    QVariantMap record;
};

// Ids compare as text code unit by code unit, so "10" sorts before "9" and "A" before "a".
bool comesBefore(const OrderedQuestion &left, const OrderedQuestion &right)
{
    if (left.order != right.order)
        return left.order < right.order;
    return left.id < right.id;
}

// Returns the failure text, or nullptr when the question was read.
const char *readQuestion(const QJsonValue &entry, int position, OrderedQuestion *question)
{
    const QJsonObject object = entry.toObject();
    const QString id = identifier(object.value(QLatin1String("id")));
    const QString type = upperCaseWord(object.value(QLatin1String("type")));
    if (id.isEmpty() || (type != QLatin1String("MCQ") && type != QLatin1String("WRITTEN")))
        return InvalidQuestion;

    const QJsonValue optionsValue = object.value(QLatin1String("options"));
    const QJsonArray optionValues = optionsValue.toArray();
    QStringList options;
    options.reserve(optionValues.size());
    for (const QJsonValue &option : optionValues)
        options.append(QuizDomain::richPlainText(option));

    const int correctOptionIndex = object.value(QLatin1String("correctOptionIndex")).toInt(-1);
    if (correctOptionIndex < -1 || correctOptionIndex >= options.size())
        return CorrectOptionOutOfRange;

    const QJsonValue text = object.value(QLatin1String("text"));
    question->order = object.value(QLatin1String("order")).toInt(position);
    question->id = id;
    question->record = {
        {QStringLiteral("id"), id},
        {QStringLiteral("order"), question->order},
        {QStringLiteral("type"), type},
        {QStringLiteral("text"), QuizDomain::richPlainText(text)},
        // An absent member stays an empty variant, a JSON null a null one.
        {QStringLiteral("textDocument"), text.toVariant()},
        {QStringLiteral("options"), options},
        {QStringLiteral("optionsDocuments"), optionsValue.toVariant()},
        {QStringLiteral("correctOptionIndex"), correctOptionIndex},
        {QStringLiteral("explanation"),
         QuizDomain::richPlainText(object.value(QLatin1String("explanation")))},
        {QStringLiteral("modelAnswer"),
         QuizDomain::richPlainText(object.value(QLatin1String("modelAnswer")))},
        {QStringLiteral("imageUrl"),
         secureLinkOrEmpty(object.value(QLatin1String("imageUrl")).toString().trimmed())},
        {QStringLiteral("updatedAt"), object.value(QLatin1String("updatedAt")).toString()},
    };
    return nullptr;
}

// Reads every question in arrival order, then puts them in question order. One bad question
// fails them all.
const char *readQuestions(const QJsonArray &entries, QVariantList *questions)
{
    std::vector<OrderedQuestion> ordered(std::size_t(entries.size()));
    for (qsizetype position = 0; position < entries.size(); ++position) {
        if (const char *failure = readQuestion(entries.at(position), int(position), &ordered[position]))
            return failure;
    }
    std::stable_sort(ordered.begin(), ordered.end(), comesBefore);
    questions->reserve(qsizetype(ordered.size()));
    for (OrderedQuestion &question : ordered)
        questions->append(std::move(question.record));
    return nullptr;
}

// The descent only follows objects, and the JSON parser refuses documents nested past its limit,
// so the depth is bounded by what the parser accepts.
QString codeIn(const QJsonObject &body)
{
    const QString code = upperCaseWord(body.value(QLatin1String("code")));
    if (!code.isEmpty())
        return code;
    const QString errorCode = upperCaseWord(body.value(QLatin1String("errorCode")));
    if (!errorCode.isEmpty())
        return errorCode;
    const QJsonValue error = body.value(QLatin1String("error"));
    if (error.isString())
        return upperCaseWord(error);
    const QJsonValue details = body.value(QLatin1String("details"));
    if (details.isObject()) {
        const QString detailsCode = codeIn(details.toObject());
        if (!detailsCode.isEmpty())
            return detailsCode;
    }
    if (error.isObject())
        return codeIn(error.toObject());
    return {};
}

QString digestOf(const QString &id)
{
    return QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace

bool QuizDomain::parseDetails(const QJsonObject &response, QVariantMap *details, QString *error)
{
    if (!details)
        return fail(error, MissingOutput);
    const QJsonObject quiz = response.value(QLatin1String("quiz")).toObject();
    const QString id = identifier(quiz.value(QLatin1String("id")));
    if (id.isEmpty())
        return fail(error, MissingQuizId);
    const QString type = upperCaseWord(quiz.value(QLatin1String("type")));
    if (type != QLatin1String("TIMED") && type != QLatin1String("ORDINARY"))
        return fail(error, InvalidQuizType);
    QVariantList questions;
    if (const char *failure = readQuestions(quiz.value(QLatin1String("questions")).toArray(), &questions))
        return fail(error, failure);

    QString link = response.value(QLatin1String("customGptLink")).toString().trimmed();
    if (link.isEmpty())
        link = quiz.value(QLatin1String("customGptLink")).toString().trimmed();

    QVariantMap record = copiedMembersExcept(quiz, DetailsKeys);
    record.insert(QStringLiteral("id"), id);
    record.insert(QStringLiteral("type"), type);
    record.insert(QStringLiteral("questions"), questions);
    record.insert(QStringLiteral("customGptLink"), secureLinkOrEmpty(link));
    record.insert(QStringLiteral("leaderboardOnly"),
                  response.value(QLatin1String("leaderboardOnly")) == QJsonValue(true));
    record.insert(QStringLiteral("leaderboardStatus"),
                  upperCaseWord(response.value(QLatin1String("leaderboardStatus"))));
    record.insert(QStringLiteral("message"), response.value(QLatin1String("message")).toString());
    record.insert(QStringLiteral("leaderboard"),
                  response.value(QLatin1String("leaderboard")).toArray().toVariantList());
    record.insert(QStringLiteral("rank"), response.value(QLatin1String("rank")).toInt(0));
    record.insert(QStringLiteral("pendingAnswersCount"),
                  response.value(QLatin1String("pendingAnswersCount")).toInt(0));
    record.insert(QStringLiteral("activeAttempt"),
                  parseAttempt(response.value(QLatin1String("activeAttempt")).toObject()));
    record.insert(QStringLiteral("attempt"),
                  parseAttempt(response.value(QLatin1String("attempt")).toObject()));
    *details = std::move(record);
    clearError(error);
    return true;
}

QVariantMap QuizDomain::parseAttempt(const QJsonObject &attempt)
{
    const QString id = identifier(attempt.value(QLatin1String("id")));
    if (id.isEmpty())
        return {};
    QVariantMap record = attempt.toVariantMap();
    record.insert(QStringLiteral("id"), id);
    record.insert(QStringLiteral("revision"), attempt.value(QLatin1String("revision")).toInt(0));
    record.insert(QStringLiteral("status"), upperCaseWord(attempt.value(QLatin1String("status"))));
    return record;
}

QString QuizDomain::richPlainText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString().trimmed();
    QJsonArray operations;
    if (value.isArray())
        operations = value.toArray();
    else if (value.isObject())
        operations = value.toObject().value(QLatin1String("ops")).toArray();
    QString text;
    for (const QJsonValue &operation : std::as_const(operations)) {
        // Embedded images, formulas and formatting carry no text.
        const QJsonValue insert = operation.toObject().value(QLatin1String("insert"));
        if (insert.isString())
            text += insert.toString();
    }
    return text.trimmed();
}

bool QuizDomain::isSecureLink(const QString &text)
{
    const QUrl url(text, QUrl::TolerantMode);
    // "https:///x" parses as valid with an empty host, so the host is tested on its own.
    return url.isValid() && url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
           !url.host(QUrl::FullyDecoded).isEmpty() && url.userName().isEmpty() && url.password().isEmpty();
}

QJsonObject QuizDomain::mutationPayload(int baseRevision, const QVariantList &questions,
                                        const QVariantMap &answers, const QVariantMap &selfGrades,
                                        const QHash<QString, QString> &answerStamps)
{
    // A later question with the same id replaces the stamp of an earlier one.
    QHash<QString, QString> stamps;
    for (const QVariant &question : questions) {
        const QVariantMap record = question.toMap();
        stamps.insert(record.value(QStringLiteral("id")).toString(),
                      record.value(QStringLiteral("updatedAt")).toString());
    }
    // A QVariantMap iterates its keys in QString order, which compares code units: the order
    // the backend expects.
    QJsonArray entries;
    for (auto answer = answers.cbegin(); answer != answers.cend(); ++answer) {
        const auto questionStamp = stamps.constFind(answer.key());
        if (questionStamp == stamps.cend())
            continue;
        // The server must judge an answer against the question it was given for, which a reload
        // may have replaced since.
        QString stamp = answerStamps.value(answer.key());
        if (stamp.isEmpty())
            stamp = *questionStamp;
        if (stamp.isEmpty())
            continue;
        QJsonObject entry{
            {QStringLiteral("questionId"), answer.key()},
            {QStringLiteral("questionUpdatedAt"), stamp},
            {QStringLiteral("answer"), QJsonValue::fromVariant(answer.value())},
        };
        const auto grade = selfGrades.constFind(answer.key());
        if (grade != selfGrades.cend())
            entry.insert(QStringLiteral("selfGradedCorrect"), grade->toBool());
        entries.append(entry);
    }
    return {{QStringLiteral("baseRevision"), baseRevision}, {QStringLiteral("answers"), entries}};
}

QString QuizDomain::conflictCode(const QString &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8());
    if (!document.isObject())
        return {};
    return codeIn(document.object());
}

qint64 QuizDomain::remainingSeconds(const QDateTime &deadline, const QDateTime &now)
{
    if (!deadline.isValid())
        return -1;
    // Integer division drops the fraction toward zero.
    const qint64 seconds = now.toUTC().msecsTo(deadline.toUTC()) / 1000;
    return std::max<qint64>(0, seconds);
}

QString QuizDomain::sessionPath(const QString &dataFolder, const QString &userId, const QString &quizId,
                                const QString &attemptId)
{
    const QString relative = QStringLiteral("quiz-sessions/%1/%2/%3.json")
                                 .arg(digestOf(userId), digestOf(quizId), digestOf(attemptId));
    return QDir(dataFolder).filePath(relative);
}

bool QuizDomain::saveSession(const QString &path, const QJsonObject &session, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(error, CouldNotCreateStorage);
    // Only the quiz's own folder is narrowed; the folders above keep the modes they were made with.
    QFile::setPermissions(folder, OwnerOnlyFolder);

    QSaveFile file(path);
    // Writing the target in place would leave a half-written file behind a failure.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, file.errorString());
    // A new temporary file is made with the umask's mode, and one replacing an earlier file takes
    // that file's mode: narrow it before the first byte reaches the disk.
    file.setPermissions(OwnerOnlyFile);

    // QSaveFile::commit() on Qt 6.4 renames the temporary file even when a write was cut short or
    // flushing its buffer failed: both are checked here first, so a short file never replaces a
    // good one. The commit syncs the file before the rename.
    const QByteArray bytes = QJsonDocument(session).toJson(QJsonDocument::Compact);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return abandon(file, error, file.errorString());
    if (!file.commit())
        return fail(error, file.errorString());
    QFile::setPermissions(path, OwnerOnlyFile);
    clearError(error);
    return true;
}

QJsonObject QuizDomain::loadSession(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, file.errorString());
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        fail(error, file.errorString());
        return {};
    }
    return parseSession(bytes, error);
}

QJsonObject QuizDomain::parseSession(const QByteArray &bytes, QString *error)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonObject session = document.object();
    if (!document.isObject() || session.value(QLatin1String("schemaVersion")).toInt(0) != 1) {
        fail(error, InvalidSession);
        return {};
    }
    clearError(error);
    return session;
}
