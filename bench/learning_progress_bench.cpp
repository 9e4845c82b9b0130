// Measures what the learning progress store costs the GUI thread on a store shaped like a real
// one: the signed-in user's 50 records, ten course snapshots of 100 resources, and two other
// users' data in the same file.
//
// - recordOpened rewrites the whole settings file; it is set against one direct setValue and
//   sync of the same list into the same file (target: at most 1.5 times, one rewrite per
//   opening) and against a raw save-file write of the file's bytes.
// - courseProgress over a 500-resource snapshot and 50 records, set against a loop over a
//   prebuilt hash applying the same override rule (target: at most 10 times).
// - What one revision bump re-evaluates: 30 courseProgress calls and one recentItems read.

#include "bench/BenchTiming.h"
#include "learning/LearningProgressController.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <utility>
#include <vector>

namespace {

constexpr int kRecords = 50;
constexpr int kCourses = 10;
constexpr int kCourseResources = 100;
constexpr int kLargeCourseResources = 500;
constexpr int kWriteRounds = 200;
constexpr int kReadRounds = 2000;

const QString kUser = QStringLiteral("u1");

QString resourceId(int course, int resource)
{
    return QStringLiteral("course-%1-resource-%2").arg(course).arg(resource);
}

// A record as an opening writes it, with realistic lengths of titles and links.
QVariantMap record(const QString &id, int serial)
{
    return {
        {QStringLiteral("r_id"), id},
        {QStringLiteral("c_id"), QStringLiteral("course-%1").arg(serial % kCourses)},
        {QStringLiteral("sectionId"), QStringLiteral("section-%1").arg(serial % 7)},
        {QStringLiteral("title"),
         QStringLiteral("Lecture %1: an introduction to the topic of the week").arg(serial)},
        {QStringLiteral("course"), QStringLiteral("Mathematics for the secondary certificate, part two")},
        {QStringLiteral("r_type"), serial % 3 == 0 ? QStringLiteral("PDF") : QStringLiteral("VIDEO")},
        {QStringLiteral("img"),
         QStringLiteral("https://media.example.org/courses/%1/cover-1280x720.png").arg(serial)},
        {QStringLiteral("url"),
         QStringLiteral("https://media.example.org/lectures/%1/master.m3u8?token=abcdef0123456789abcdef")
             .arg(serial)},
        {QStringLiteral("positionMs"), qint64(serial) * 61000},
        {QStringLiteral("durationMs"), qint64(3600000)},
        {QStringLiteral("pageIndex"), -1},
        {QStringLiteral("pageCount"), 0},
        {QStringLiteral("prog"), double(serial % 10) / 10.0},
        {QStringLiteral("completed"), serial % 4 == 0},
        {QStringLiteral("watermarkEnabled"), true},
        {QStringLiteral("isShareable"), false},
        {QStringLiteral("hiddenFromRecent"), false},
        {QStringLiteral("timestamp"),
         QStringLiteral("2024-05-01T10:%1:00Z").arg(59 - serial % 60, 2, 10, QLatin1Char('0'))},
    };
}

QVariantList snapshot(int course, int resources)
{
    QVariantList entries;
    for (int resource = 0; resource < resources; ++resource)
        entries.append(QVariantMap{{QStringLiteral("id"), resourceId(course, resource)},
                                   {QStringLiteral("completed"), resource % 3 == 0}});
    return entries;
}

QVariantList userRecords()
{
    QVariantList records;
    for (int serial = 0; serial < kRecords; ++serial)
        records.append(record(resourceId(serial % kCourses, serial), serial));
    return records;
}

void seedUser(QSettings &store, const QString &user)
{
    store.setValue(QStringLiteral("learningActivity/") + user, userRecords());
    store.setValue(QStringLiteral("learningProgressPending/") + user, QVariantList());
    QVariantMap snapshots;
    for (int course = 0; course < kCourses; ++course)
        snapshots.insert(QStringLiteral("course-%1").arg(course), snapshot(course, kCourseResources));
    store.setValue(QStringLiteral("courseProgressSnapshots/") + user, snapshots);
}

QString storeFileName()
{
    return QSettings(QStringLiteral("quorin"), QStringLiteral("desktop")).fileName();
}

void print(QTextStream &out, const QString &what, double milliseconds)
{
    out << what.leftJustified(58) << QString::number(milliseconds * 1000.0, 'f', 1).rightJustified(10)
        << " us" << Qt::endl;
}

void printRatio(QTextStream &out, const QString &what, double ratio, double target)
{
    out << what.leftJustified(58) << QString::number(ratio, 'f', 2).rightJustified(10)
        << " x  (target at most " << target << ", " << (ratio <= target ? "met" : "missed") << ")"
        << Qt::endl;
}

void measureOpenings(QTextStream &out, LearningProgressController &controller)
{
    int serial = 0;
    const double opening = quorin::bench::medianMs(kWriteRounds, [&] {
        ++serial;
        controller.recordOpened(
            QStringLiteral("opened-%1").arg(serial), QStringLiteral("course-1"), QStringLiteral("section-1"),
            QStringLiteral("A lecture opened in the benchmark"), QStringLiteral("Mathematics"),
            QStringLiteral("VIDEO"), QStringLiteral("https://media.example.org/cover.png"),
            QStringLiteral("https://media.example.org/lecture.m3u8"), false, true, false);
    });

    // The same whole list, alternated so that every round changes the stored value.
    const QVariant stored = QSettings(QStringLiteral("quorin"), QStringLiteral("desktop"))
                                .value(QStringLiteral("learningActivity/u1"));
    QVariantList changed = stored.toList();
    changed.swapItemsAt(0, 1);
    const QVariantList alternatives[] = {stored.toList(), changed};
    int round = 0;
    const double direct = quorin::bench::medianMs(kWriteRounds, [&] {
        QSettings store(QStringLiteral("quorin"), QStringLiteral("desktop"));
        store.setValue(QStringLiteral("learningActivity/u1"), alternatives[++round % 2]);
        store.sync();
    });

    QFile file(storeFileName());
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QString copyPath = storeFileName() + QStringLiteral(".bench-copy");
    const double raw = quorin::bench::medianMs(kWriteRounds, [&] {
        QSaveFile copy(copyPath);
        if (copy.open(QIODevice::WriteOnly)) {
            copy.write(bytes);
            copy.commit();
        }
    });
    QFile::remove(copyPath);

    out << "settings file: " << bytes.size() << " bytes" << Qt::endl;
    print(out, QStringLiteral("recordOpened (median)"), opening);
    print(out, QStringLiteral("direct setValue + sync of the same list (median)"), direct);
    print(out, QStringLiteral("raw QSaveFile write of the file's bytes (median)"), raw);
    printRatio(out, QStringLiteral("recordOpened / direct rewrite"), opening / direct, 1.5);
}

// The reference for courseProgress: the snapshot's ids and flags and the local completions
// already in hashes, so only the counting loop is timed.
double prebuiltProgress(const std::vector<std::pair<QString, bool>> &entries,
                        const QHash<QString, bool> &local)
{
    qsizetype completed = 0;
    for (const auto &[id, serverCompleted] : entries) {
        const auto override = local.constFind(id);
        if (override != local.constEnd() ? *override : serverCompleted)
            ++completed;
    }
    return double(completed) / double(entries.size());
}

void measureCourseProgress(QTextStream &out, LearningProgressController &controller)
{
    const QVariantList large = snapshot(1, kLargeCourseResources);
    controller.updateCourseSnapshot(QStringLiteral("course-1"), large);

    std::vector<std::pair<QString, bool>> entries;
    for (const QVariant &entry : large)
        entries.emplace_back(entry.toMap().value(QStringLiteral("id")).toString(),
                             entry.toMap().value(QStringLiteral("completed")).toBool());
    QHash<QString, bool> local;
    for (const QVariant &item : QSettings(QStringLiteral("quorin"), QStringLiteral("desktop"))
                                    .value(QStringLiteral("learningActivity/u1"))
                                    .toList()) {
        const QVariantMap map = item.toMap();
        if (map.contains(QStringLiteral("completed")))
            local.insert(map.value(QStringLiteral("r_id")).toString(),
                         map.value(QStringLiteral("completed")).toBool());
    }

    volatile double sink = 0;
    const double progress = quorin::bench::medianMs(
        kReadRounds, [&] { sink = controller.courseProgress(QStringLiteral("course-1"), 0.0); });
    const double reference =
        quorin::bench::medianMs(kReadRounds, [&] { sink = prebuiltProgress(entries, local); });
    if (controller.courseProgress(QStringLiteral("course-1"), 0.0) != prebuiltProgress(entries, local))
        out << "courseProgress and the reference disagree" << Qt::endl;

    print(out, QStringLiteral("courseProgress, 500 resources, 50 records (median)"), progress);
    print(out, QStringLiteral("prebuilt hash loop, same rule (median)"), reference);
    printRatio(out, QStringLiteral("courseProgress / prebuilt hash loop"), progress / reference, 10.0);
}

void measureRevisionBump(QTextStream &out, LearningProgressController &controller)
{
    volatile double sink = 0;
    const double bump = quorin::bench::medianMs(kReadRounds / 10, [&] {
        for (int call = 0; call < 30; ++call)
            sink = controller.courseProgress(QStringLiteral("course-%1").arg(call % kCourses), 0.0);
        sink = double(controller.recentItems().size());
    });
    print(out, QStringLiteral("one revision bump: 30 courseProgress + recentItems"), bump);
}

} // namespace

int main(int argc, char *argv[])
{
    // The benchmark's store lives in a folder of its own, never in the user's settings.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);

    {
        QSettings store(QStringLiteral("quorin"), QStringLiteral("desktop"));
        for (const char *user : {"u1", "u2", "u3"})
            seedUser(store, QLatin1String(user));
    }
    LearningProgressController controller{LearningProgressController::Configuration()};
    controller.setUserId(kUser);

    measureCourseProgress(out, controller);
    measureRevisionBump(out, controller);
    measureOpenings(out, controller);
    return 0;
}
