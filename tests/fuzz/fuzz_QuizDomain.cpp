// Feeds arbitrary bytes to the quiz rules, as UTF-8 text and as JSON, and aborts when a promise
// of their results breaks.
#include "quiz/QuizDomain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

const QStringList ParseErrors{
    QStringLiteral("Missing quiz output"),
    QStringLiteral("Quiz response has no id"),
    QStringLiteral("Quiz response has an invalid type"),
    QStringLiteral("Quiz contains an invalid question"),
    QStringLiteral("Quiz correct option is out of range"),
};

// In the order a QVariantMap lists them.
const QStringList QuestionKeys{
    QStringLiteral("correctOptionIndex"), QStringLiteral("explanation"), QStringLiteral("id"),
    QStringLiteral("imageUrl"),           QStringLiteral("modelAnswer"), QStringLiteral("options"),
    QStringLiteral("optionsDocuments"),   QStringLiteral("order"),       QStringLiteral("text"),
    QStringLiteral("textDocument"),       QStringLiteral("type"),        QStringLiteral("updatedAt"),
};

bool isTrimmedUpperCase(const QString &text)
{
    return text == text.trimmed().toUpper();
}

bool isEmptyOrSecure(const QVariant &link)
{
    const QString text = link.toString();
    return text.isEmpty() || QuizDomain::isSecureLink(text);
}

void checkAttempt(const QVariantMap &attempt)
{
    if (attempt.isEmpty())
        return;
    const QString id = attempt.value(QStringLiteral("id")).toString();
    require(!id.isEmpty() && id == id.trimmed());
    const QString status = attempt.value(QStringLiteral("status")).toString();
    require(status == status.toUpper());
}

void checkQuestion(const QVariantMap &question)
{
    require(question.keys() == QuestionKeys);
    require(!question.value(QStringLiteral("id")).toString().isEmpty());
    const QString type = question.value(QStringLiteral("type")).toString();
    require(type == QLatin1String("MCQ") || type == QLatin1String("WRITTEN"));
    const int correct = question.value(QStringLiteral("correctOptionIndex")).toInt();
    require(correct >= -1 && correct < question.value(QStringLiteral("options")).toStringList().size());
    require(isEmptyOrSecure(question.value(QStringLiteral("imageUrl"))));
    require(question.value(QStringLiteral("text")).toString() ==
            question.value(QStringLiteral("text")).toString().trimmed());
}

void checkQuestionOrder(const QVariantList &questions)
{
    for (qsizetype index = 1; index < questions.size(); ++index) {
        const QVariantMap before = questions.at(index - 1).toMap();
        const QVariantMap after = questions.at(index).toMap();
        const int orderBefore = before.value(QStringLiteral("order")).toInt();
        const int orderAfter = after.value(QStringLiteral("order")).toInt();
        require(orderBefore < orderAfter ||
                (orderBefore == orderAfter && !(after.value(QStringLiteral("id")).toString() <
                                                before.value(QStringLiteral("id")).toString())));
    }
}

// Answers every question with its index and grades some of them.
void checkPayload(const QVariantList &questions)
{
    QVariantMap answers;
    QVariantMap grades;
    for (qsizetype index = 0; index < questions.size(); ++index) {
        const QString id = questions.at(index).toMap().value(QStringLiteral("id")).toString();
        answers.insert(id, int(index));
        if (index % 2)
            grades.insert(id, index % 4 == 1);
    }
    const QJsonObject body = QuizDomain::mutationPayload(7, questions, answers, grades);
    require(body.value(QLatin1String("baseRevision")).toInt() == 7);
    const QJsonArray entries = body.value(QLatin1String("answers")).toArray();
    require(entries.size() <= answers.size());
    QString previous;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const QJsonObject entry = entries.at(index).toObject();
        const QString id = entry.value(QLatin1String("questionId")).toString();
        require(index == 0 || previous < id);
        require(!entry.value(QLatin1String("questionUpdatedAt")).toString().isEmpty());
        require(entry.contains(QLatin1String("answer")));
        previous = id;
    }
}

void checkDetails(const QJsonObject &response)
{
    const QVariantMap sentinel{{QStringLiteral("sentinel"), true}};
    QVariantMap details = sentinel;
    QString error = QStringLiteral("sentinel");
    const bool parsed = QuizDomain::parseDetails(response, &details, &error);
    require(parsed == error.isEmpty());
    if (!parsed) {
        require(ParseErrors.contains(error));
        require(details == sentinel);
        return;
    }

    const QString id = details.value(QStringLiteral("id")).toString();
    require(!id.isEmpty() && id == id.trimmed());
    const QString type = details.value(QStringLiteral("type")).toString();
    require(type == QLatin1String("ORDINARY") || type == QLatin1String("TIMED"));
    const QVariantList questions = details.value(QStringLiteral("questions")).toList();
    for (const QVariant &question : questions)
        checkQuestion(question.toMap());
    checkQuestionOrder(questions);
    require(isEmptyOrSecure(details.value(QStringLiteral("customGptLink"))));
    require(isTrimmedUpperCase(details.value(QStringLiteral("leaderboardStatus")).toString()));
    checkAttempt(details.value(QStringLiteral("activeAttempt")).toMap());
    checkAttempt(details.value(QStringLiteral("attempt")).toMap());
    checkPayload(questions);

    QString missingOutput;
    require(!QuizDomain::parseDetails(response, nullptr, &missingOutput));
    require(missingOutput == ParseErrors.first());
}

void checkSession(const QByteArray &bytes)
{
    const QJsonObject session = QuizDomain::parseSession(bytes);
    if (session.isEmpty())
        return;
    const QJsonValue version = session.value(QLatin1String("schemaVersion"));
    require(version.isDouble() && version.toDouble() == 1.0);
}

void checkText(const QString &text)
{
    require(isTrimmedUpperCase(QuizDomain::conflictCode(text)));
    const QString plain = QuizDomain::richPlainText(QJsonValue(text));
    require(plain == text.trimmed());
    if (QuizDomain::isSecureLink(text))
        require(!text.isEmpty());

    static const QRegularExpression sessionFile(
        QStringLiteral("^/data/quiz-sessions/[0-9a-f]{64}/[0-9a-f]{64}/[0-9a-f]{64}\\.json$"));
    require(
        sessionFile.match(QuizDomain::sessionPath(QStringLiteral("/data"), text, text.left(8), text.mid(8)))
            .hasMatch());

    static const QDateTime now = QDateTime::fromString(QStringLiteral("2025-01-01T00:00:00Z"), Qt::ISODate);
    const QDateTime deadline = QDateTime::fromString(text, Qt::ISODate);
    const qint64 remaining = QuizDomain::remainingSeconds(deadline, now);
    require(deadline.isValid() ? remaining >= 0 : remaining == -1);
}

void checkJson(const QJsonDocument &document)
{
    if (document.isObject()) {
        const QJsonObject object = document.object();
        checkDetails(object);
        // The same object as the quiz of a response, so sample quiz files reach the questions.
        checkDetails({{QStringLiteral("quiz"), object}});
        checkAttempt(QuizDomain::parseAttempt(object));
        const QString plain = QuizDomain::richPlainText(object);
        require(plain == plain.trimmed());
    } else if (document.isArray()) {
        const QJsonArray array = document.array();
        checkDetails(
            {{QStringLiteral("quiz"), QJsonObject{{QStringLiteral("id"), QStringLiteral("fuzz")},
                                                  {QStringLiteral("type"), QStringLiteral("ORDINARY")},
                                                  {QStringLiteral("questions"), array}}}});
        const QString plain = QuizDomain::richPlainText(array);
        require(plain == plain.trimmed());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkText(QString::fromUtf8(bytes));
    checkJson(QJsonDocument::fromJson(bytes));
    checkSession(bytes);
    return 0;
}
