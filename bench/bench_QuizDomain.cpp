// Times the quiz rules where the quiz page waits on them: reading a large quiz, against the JSON
// parse of the same bytes alone, and saving an attempt's session file, which happens on the GUI
// thread after every accepted edit, against a bare write, sync and rename of the same bytes in the
// same folder. Prints figures; never fails.
#include "bench/BenchTiming.h"
#include "quiz/QuizDomain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using quorin::bench::elapsedMs;
using quorin::bench::median;
using quorin::bench::medianMs;

namespace {

QJsonObject insert(const QString &text, const QJsonObject &attributes = {})
{
    QJsonObject operation{{QStringLiteral("insert"), text}};
    if (!attributes.isEmpty())
        operation.insert(QStringLiteral("attributes"), attributes);
    return operation;
}

QJsonObject document(const QJsonArray &operations)
{
    return {{QStringLiteral("ops"), operations}};
}

QJsonObject question(int index)
{
    const QJsonObject bold{{QStringLiteral("bold"), true}};
    QJsonArray options;
    for (int option = 0; option < 4; ++option)
        options.append(document({insert(QStringLiteral("Option %1 of question %2").arg(option).arg(index)),
                                 insert(QStringLiteral(" (m/s)"), bold), insert(QStringLiteral("\n"))}));
    return {
        {QStringLiteral("id"), QStringLiteral("question-%1").arg(index, 4, 10, QLatin1Char('0'))},
        {QStringLiteral("order"), 500 - index},
        {QStringLiteral("type"), index % 5 == 0 ? QStringLiteral("WRITTEN") : QStringLiteral("MCQ")},
        {QStringLiteral("text"),
         document({insert(QStringLiteral("A body of mass %1 kg is pushed by a force. ").arg(index)),
                   insert(QStringLiteral("What is its acceleration"), bold),
                   QJsonObject{{QStringLiteral("insert"),
                                QJsonObject{{QStringLiteral("image"),
                                             QStringLiteral("https://media.example/q/%1.png").arg(index)}}}},
                   insert(QStringLiteral("?\n"))})},
        {QStringLiteral("options"), index % 5 == 0 ? QJsonArray() : options},
        {QStringLiteral("correctOptionIndex"), index % 5 == 0 ? -1 : index % 4},
        {QStringLiteral("explanation"),
         document({insert(QStringLiteral("Divide the force by the mass.\n"))})},
        {QStringLiteral("modelAnswer"), index % 5 == 0 ? QJsonValue(QStringLiteral("F / m")) : QJsonValue()},
        {QStringLiteral("imageUrl"), QStringLiteral("https://media.example/q/%1.png").arg(index)},
        {QStringLiteral("updatedAt"), QStringLiteral("2025-01-10T09:00:00.000Z")},
    };
}

QByteArray quizResponse(int questions)
{
    QJsonArray list;
    for (int index = 0; index < questions; ++index)
        list.append(question(index));
    const QJsonObject quiz{{QStringLiteral("id"), QStringLiteral("quiz-large")},
                           {QStringLiteral("title"), QStringLiteral("Large quiz")},
                           {QStringLiteral("type"), QStringLiteral("ORDINARY")},
                           {QStringLiteral("questions"), list}};
    return QJsonDocument(QJsonObject{{QStringLiteral("quiz"), quiz}}).toJson(QJsonDocument::Compact);
}

QJsonObject session(int answers)
{
    QJsonObject answered;
    QJsonObject pending;
    QJsonObject grades;
    QJsonObject eliminated;
    QJsonArray marked;
    for (int index = 0; index < answers; ++index) {
        const QString id = QStringLiteral("question-%1").arg(index, 4, 10, QLatin1Char('0'));
        if (index % 3 == 0) {
            answered.insert(id,
                            QStringLiteral("A written answer of a few words for question %1.").arg(index));
            grades.insert(id, index % 2 == 0);
        } else {
            answered.insert(id, index % 4);
            eliminated.insert(id, QJsonArray{(index + 1) % 4});
        }
        if (index % 10 == 0)
            pending.insert(id, answered.value(id));
        if (index % 25 == 0)
            marked.append(id);
    }
    return {
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("quizId"), QStringLiteral("quiz-large")},
        {QStringLiteral("attemptId"), QStringLiteral("attempt-1")},
        {QStringLiteral("attempt"), QJsonObject{{QStringLiteral("id"), QStringLiteral("attempt-1")},
                                                {QStringLiteral("revision"), 12},
                                                {QStringLiteral("status"), QStringLiteral("ACTIVE")}}},
        {QStringLiteral("answers"), answered},
        {QStringLiteral("pending"), pending},
        {QStringLiteral("selfGrades"), grades},
        {QStringLiteral("markedQuestionIds"), marked},
        {QStringLiteral("eliminatedOptions"), eliminated},
        {QStringLiteral("currentQuestionIndex"), answers - 1},
        {QStringLiteral("reviewQuestionIds"), QJsonArray()},
    };
}

// The least any atomic save must do: write a temporary file, sync it and rename it over the target.
bool rawSave(const QString &path, const QByteArray &bytes)
{
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".raw"));
    const int descriptor = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return false;
    const bool written = ::write(descriptor, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
                         ::fsync(descriptor) == 0;
    ::close(descriptor);
    return written && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0;
}

QString figure(double milliseconds)
{
    return QString::number(milliseconds, 'f', 3) + QStringLiteral(" ms");
}

void reportParse(QTextStream &out)
{
    const QByteArray bytes = quizResponse(500);
    const QJsonObject response = QJsonDocument::fromJson(bytes).object();
    QVariantMap details;
    const bool parsed = QuizDomain::parseDetails(response, &details);
    qsizetype sink = 0;
    const double jsonMs = medianMs(50, [&] { sink += QJsonDocument::fromJson(bytes).object().size(); });
    const double rulesMs = medianMs(50, [&] {
        QVariantMap record;
        sink += QuizDomain::parseDetails(response, &record) ? record.size() : 0;
    });
    out << "parseDetails, 500 questions with rich text and four options: " << bytes.size()
        << " bytes, parsed " << (parsed ? "yes" : "no") << ", "
        << details.value(QStringLiteral("questions")).toList().size() << " questions\n"
        << "  QJsonDocument::fromJson alone " << figure(jsonMs) << "\n"
        << "  parseDetails                  " << figure(rulesMs) << "\n"
        << "  parseDetails / fromJson " << QString::number(rulesMs / jsonMs, 'f', 2)
        << "x (target: within 4x)" << (sink < 0 ? "!" : "") << "\n";
}

void reportSave(QTextStream &out, const QString &folder)
{
    const QJsonObject saved = session(300);
    const QByteArray bytes = QJsonDocument(saved).toJson(QJsonDocument::Compact);
    const QString path = QuizDomain::sessionPath(folder, QStringLiteral("user"), QStringLiteral("quiz-large"),
                                                 QStringLiteral("attempt-1"));
    QString error;
    if (!QuizDomain::saveSession(path, saved, &error)) {
        out << "saveSession failed: " << error << "\n";
        return;
    }
    const QString rawPath = QFileInfo(path).absolutePath() + QStringLiteral("/raw.json");
    // The two alternate round by round, so that both see the same state of the disk and its cache.
    int failures = 0;
    std::vector<double> saveSamples;
    std::vector<double> rawSamples;
    for (int round = 0; round < 400; ++round) {
        saveSamples.push_back(elapsedMs([&] { failures += QuizDomain::saveSession(path, saved) ? 0 : 1; }));
        rawSamples.push_back(elapsedMs([&] { failures += rawSave(rawPath, bytes) ? 0 : 1; }));
    }
    const double saveMs = median(saveSamples);
    const double rawMs = median(rawSamples);
    out << "saveSession, 300 answers: " << bytes.size() << " bytes below " << folder << ", failures "
        << failures << "\n"
        << "  write, fsync and rename " << figure(rawMs) << "\n"
        << "  saveSession             " << figure(saveMs) << "\n"
        << "  saveSession / floor " << QString::number(saveMs / rawMs, 'f', 2) << "x (target: within 1.5x)\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const QString folder = QStringLiteral(QUORIN_BENCH_OUTPUT_DIR);
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder)) {
        out << "cannot make " << folder << "\n";
        return 1;
    }
    reportParse(out);
    out.flush();
    reportSave(out, folder);
    return 0;
}
