// Producer-side cost of the diagnostics log against the synchronous alternative.
//
// A record shaped like "request_complete" (category "api", six fields, one of them a URL to
// mask) goes into a real log file under the build folder. Printed per case: records a second
// over all producers, the p50 and p99 of one call in microseconds, and the dropped count.
#include "app/DiagnosticLogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRecordsPerProducer = 20000;
constexpr int kPacedRecordsPerProducer = 2000;
constexpr std::chrono::microseconds kPacedInterval{1000}; // 1,000 records a second

struct Figures
{
    double recordsPerSecond = 0;
    double p50Microseconds = 0;
    double p99Microseconds = 0;
};

const QVariantMap &requestCompleteFields()
{
    static const QVariantMap fields = {
        {QStringLiteral("method"), QStringLiteral("GET")},
        {QStringLiteral("endpoint"),
         QStringLiteral("https://api.quorin.example/api/v1/courses/8812/sections?include=resources")},
        {QStringLiteral("status"), 200},
        {QStringLiteral("duration_ms"), 143},
        {QStringLiteral("attempt"), 1},
        {QStringLiteral("request_fp"), DiagnosticLogger::fingerprint(QStringLiteral("request-8812"))},
    };
    return fields;
}

QString formatOne()
{
    return DiagnosticLogger::formatRecord(QStringLiteral("api"), QStringLiteral("info"),
                                          QStringLiteral("request_complete"), requestCompleteFields());
}

void logOne()
{
    DiagnosticLogger::log(QStringLiteral("api"), QStringLiteral("info"), QStringLiteral("request_complete"),
                          requestCompleteFields());
}

// What a producer would do without the writer thread: format, then open, append and close.
void appendSynchronously(const QString &path)
{
    const QByteArray line = formatOne().toUtf8() + '\n';
    QFile file(path);
    if (file.open(QIODevice::Append))
        file.write(line);
}

double percentile(std::vector<double> &samples, double fraction)
{
    if (samples.empty())
        return 0;
    const auto index = std::min(samples.size() - 1, size_t(fraction * double(samples.size())));
    std::nth_element(samples.begin(), samples.begin() + std::ptrdiff_t(index), samples.end());
    return samples[index];
}

Figures runProducers(int producers, int recordsEach, const std::function<void()> &operation,
                     std::chrono::microseconds interval = {})
{
    std::vector<std::vector<double>> latencies(static_cast<size_t>(producers));
    std::vector<std::thread> threads;
    const auto started = Clock::now();
    for (int producer = 0; producer < producers; ++producer) {
        threads.emplace_back([&, producer] {
            auto &samples = latencies[size_t(producer)];
            samples.reserve(size_t(recordsEach));
            // Paced producers start out of step, as independent threads would; in lock-step they
            // would all hand over at the same instant and contend for the hand-over every time.
            auto next = Clock::now() + interval * producer / producers;
            for (int record = 0; record < recordsEach; ++record) {
                if (interval.count() > 0) {
                    next += interval;
                    std::this_thread::sleep_until(next);
                }
                const auto before = Clock::now();
                operation();
                samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    std::vector<double> all;
    for (const auto &samples : latencies)
        all.insert(all.end(), samples.begin(), samples.end());
    Figures figures;
    figures.recordsPerSecond = double(all.size()) / seconds;
    figures.p50Microseconds = percentile(all, 0.50);
    figures.p99Microseconds = percentile(all, 0.99);
    return figures;
}

void print(const char *name, int producers, const Figures &figures, const char *dropped)
{
    std::printf("%-22s producers=%d  records/s=%10.0f  p50=%8.2f us  p99=%8.2f us  dropped=%s\n", name,
                producers, figures.recordsPerSecond, figures.p50Microseconds, figures.p99Microseconds,
                dropped);
}

void runLogCase(const char *name, int producers, int recordsEach, std::chrono::microseconds interval = {})
{
    DiagnosticLogger::initialize();
    const Figures figures = runProducers(producers, recordsEach, logOne, interval);
    const QByteArray dropped = QByteArray::number(DiagnosticLogger::droppedCount());
    DiagnosticLogger::shutdown();
    print(name, producers, figures, dropped.constData());
}

} // namespace

int main(int argc, char *argv[])
{
    // Every file of the run stays under the build folder, never in the user's own folders.
    const QByteArray root = QUORIN_BENCH_OUTPUT_DIR;
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CONFIG_HOME", root + "/config");
    QCoreApplication application(argc, argv);
    QDir(QString::fromUtf8(root)).removeRecursively();
    QDir().mkpath(QString::fromUtf8(root));
    const QString synchronousPath = QString::fromUtf8(root) + QStringLiteral("/synchronous.log");

    std::printf("diagnostic_log_bench: %d records per producer, log file %s\n", kRecordsPerProducer,
                qPrintable(DiagnosticLogger::logFilePath()));
    for (const int producers : {1, 4}) {
        print("formatRecord", producers,
              runProducers(producers, kRecordsPerProducer, [] { (void)formatOne(); }), "-");
        runLogCase("log", producers, kRecordsPerProducer);
        QFile::remove(synchronousPath);
        print("synchronous QFile", producers,
              runProducers(producers, kRecordsPerProducer, [&] { appendSynchronously(synchronousPath); }),
              "-");
    }
    for (const int producers : {1, 4})
        runLogCase("log paced 1000/s", producers, kPacedRecordsPerProducer, kPacedInterval);
    return 0;
}
