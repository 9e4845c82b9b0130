// Measures what one accepted telemetry record costs the GUI thread with the queue at its
// limits: accept() in full, and apart from it the two halves of the queue-file write (the
// JSON text of the whole queue, both serialised afresh from json() and joined from the
// events' cached texts as persist does, and the save-file write and commit of those bytes).
// The bar is one frame, 16 ms, at the 99th percentile: above it the write would be debounced.

#include "app/TelemetryClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStorageInfo>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr int kFillRecords = 1100;
constexpr int kMeasuredRuns = 400;
constexpr double kFrameMs = 16.0;

// Text that no mask touches: short words, so each attribute keeps its full 128 characters.
QString wordsText(const QString &key, int serial)
{
    QString text = QStringLiteral("%1 %2").arg(key).arg(serial);
    while (text.size() < 128)
        text += QStringLiteral(" word");
    return text.left(128);
}

// Six text attributes of 128 characters and a number: about 1 KiB of compact JSON per event.
QVariantMap kilobyteFields(int serial)
{
    QVariantMap fields;
    const QStringList keys{QStringLiteral("reason"), QStringLiteral("source"),
                           QStringLiteral("stage"),  QStringLiteral("state"),
                           QStringLiteral("result"), QStringLiteral("classification")};
    for (const QString &key : keys)
        fields.insert(key, wordsText(key, serial));
    fields.insert(QStringLiteral("status"), 200);
    return fields;
}

struct Figures
{
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

Figures measure(int runs, const std::function<void(int)> &work)
{
    std::vector<double> samples;
    samples.reserve(runs);
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        timer.start();
        work(run);
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double quantile) {
        return samples.at(std::size_t(quantile * double(samples.size() - 1)));
    };
    return {at(0.50), at(0.99), samples.back()};
}

void print(QTextStream &out, const char *what, const Figures &figures)
{
    out << QStringLiteral("%1  p50 %2 ms  p99 %3 ms  max %4 ms")
               .arg(QString::fromLatin1(what).leftJustified(34))
               .arg(figures.p50, 7, 'f', 3)
               .arg(figures.p99, 7, 'f', 3)
               .arg(figures.max, 7, 'f', 3)
        << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    // The queue file lies under the build folder, on the file system CI builds on.
    const QString dataHome = QStringLiteral(QUORIN_BENCH_OUTPUT_DIR);
    QDir(dataHome).removeRecursively();
    QDir().mkpath(dataHome);
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));

    // No collector: nothing leaves, every accepted record is only queued and written.
    TelemetryClient client(QUrl(QStringLiteral("http://localhost/")));
    client.start();
    for (int serial = 0; serial < kFillRecords; ++serial)
        client.accept(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("fill"),
                      kilobyteFields(serial), false);

    QTextStream out(stdout);
    out << "telemetry_accept_bench" << Qt::endl;
    out << "queue file: " << client.queuePath() << Qt::endl;
    out << "file system: " << QStorageInfo(dataHome).fileSystemType() << Qt::endl;
    out << "queued events: " << client.buffer().count() << ", bytes: " << client.buffer().bytes()
        << ", average event: " << client.buffer().bytes() / qMax<qsizetype>(1, client.buffer().count())
        << " bytes" << Qt::endl;

    const Figures accept = measure(kMeasuredRuns, [&](int run) {
        client.accept(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("measured"),
                      kilobyteFields(kFillRecords + run), false);
    });
    QByteArray bytes;
    const Figures serialise = measure(kMeasuredRuns, [&](int) {
        bytes = QJsonDocument(client.buffer().json()).toJson(QJsonDocument::Compact);
    });
    const Figures join = measure(kMeasuredRuns, [&](int) { bytes = client.buffer().compactJson(); });
    const QString copyPath = dataHome + QStringLiteral("/queue-copy.json");
    const Figures save = measure(kMeasuredRuns, [&](int) {
        QSaveFile file(copyPath);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(bytes);
            (void)file.commit();
        }
    });
    client.stop();

    print(out, "accept() with the queue full", accept);
    print(out, "json() serialised alone", serialise);
    print(out, "compactJson() joined alone", join);
    print(out, "QSaveFile write and commit alone", save);
    out << "file size: " << bytes.size() << " bytes" << Qt::endl;
    out << (accept.p99 > kFrameMs ? "accept() p99 is above one frame (16 ms)"
                                  : "accept() p99 is within one frame (16 ms)")
        << Qt::endl;
    return 0;
}
