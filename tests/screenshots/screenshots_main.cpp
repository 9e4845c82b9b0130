// The screenshot program: runs the client's own start-up against the sample platform the
// calling script started (QUORIN_API_BASE_URL, QUORIN_CA_FILE), signs in with the sample account
// and writes the window's scenes and the control galleries as PNG files into the folder given as
// the first argument. It exits with 0 when every picture was written, and with 1 when a part
// could not be found or loaded, a grab came back empty or the interface printed a QML warning.
#include "app/DiagnosticLogger.h"
#include "app/startup/StartupSequence.h"
#include "tests/screenshots/ScreenshotRun.h"
#include "testsupport/LogLineParser.h"
#include "testsupport/QtMessageRecorder.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

bool fromTheInterface(const QString &category, const QString &message)
{
    // The engine prints its warnings with the document's address; console output has its own
    // categories.
    return category == QLatin1String("qml") || category == QLatin1String("js") ||
           message.contains(QLatin1String("qrc:")) || message.contains(QLatin1String(".qml"));
}

// The interface's warnings written before the program took over the message handler: they are
// in the client's diagnostics log, as "qt" records.
QStringList warningsLoggedDuringStartUp()
{
    QStringList warnings;
    if (!DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)))
        return {QStringLiteral("the diagnostics log could not be read back")};
    const auto records = quorin::test::LogLineParser::parseFile(DiagnosticLogger::logFilePath());
    for (const auto &record : records) {
        const QString level = record.value(QStringLiteral("level"));
        if (record.value(QStringLiteral("category")) != QLatin1String("qt") ||
            level == QLatin1String("debug") || level == QLatin1String("info"))
            continue;
        const QString message = record.value(QStringLiteral("message"));
        if (fromTheInterface(record.value(QStringLiteral("qt_category")), message))
            warnings.append(message);
    }
    return warnings;
}

QStringList warningsRecorded(const quorin::test::QtMessageRecorder &recorder)
{
    QStringList warnings;
    for (const QString &message : recorder.messages(QtWarningMsg)) {
        const qsizetype separator = message.indexOf(QLatin1String(": "));
        if (fromTheInterface(message.left(separator), message.mid(separator + 2)))
            warnings.append(message);
    }
    return warnings;
}

void report(const QStringList &lines, const char *heading)
{
    if (lines.isEmpty())
        return;
    std::fprintf(stderr, "quorin-screenshots: %s\n", heading);
    for (const QString &line : lines)
        std::fprintf(stderr, "  %s\n", qPrintable(line));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorin-screenshots <output folder>\n");
        return 2;
    }
    const QString outputFolder = QString::fromLocal8Bit(argv[1]);
    std::unique_ptr<quorin::test::QtMessageRecorder> recorder;
    std::unique_ptr<quorin::test::ScreenshotRun> run;

    const int result = quorin::runApplication(
        argc, argv, QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml")),
        [&](QQmlApplicationEngine &engine) {
            const QStringList startUpWarnings = warningsLoggedDuringStartUp();
            recorder = std::make_unique<quorin::test::QtMessageRecorder>();
            if (engine.rootObjects().isEmpty())
                return; // the start-up ends the run with -1
            quorin::test::ScreenshotRun::Options options;
            options.outputFolder = QDir(outputFolder);
            options.galleryFolder = QStringLiteral(QUORIN_CONTROL_GALLERY_DIR);
            options.galleries = QStringLiteral(QUORIN_CONTROL_GALLERIES).split(QLatin1Char(','));
            // While working on one screen, QUORIN_SCREENSHOT_GALLERIES="QuizReviewGallery,…" shoots
            // only those galleries.
            const QString chosen = qEnvironmentVariable("QUORIN_SCREENSHOT_GALLERIES");
            if (!chosen.isEmpty())
                options.galleries = chosen.split(QLatin1Char(','), Qt::SkipEmptyParts);
            options.mobileNumber = QStringLiteral("+201012345678");
            options.password = QStringLiteral("quorin-demo");
            run = std::make_unique<quorin::test::ScreenshotRun>(engine, options);
            QTimer::singleShot(0, qApp, [&, startUpWarnings] {
                const bool succeeded = run->run();
                const QStringList warnings = startUpWarnings + warningsRecorded(*recorder);
                // The diagnostics log takes the messages back for the shutdown.
                recorder.reset();
                report(run->errors(), "failed:");
                report(warnings, "QML warnings:");
                std::printf("quorin-screenshots: wrote %lld pictures to %s\n",
                            static_cast<long long>(run->written().size()), qPrintable(outputFolder));
                QCoreApplication::exit(succeeded && warnings.isEmpty() ? 0 : 1);
            });
        });
    return result;
}
