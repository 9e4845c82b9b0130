#include "app/DiagnosticBundle.h"

#include "app/BuildVersion.h"
#include "app/DiagnosticLogger.h"
#include "app/StoredZipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QQuickWindow>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <algorithm>

namespace quorin {
namespace {

constexpr int kLogRotations = 4;
constexpr QFileDevice::Permissions kOwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString utcSeconds(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

QString bundleFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return downloads.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                               : downloads;
}

// The line end of a line as read, "\r\n", "\n" or none (the last line of a file still written).
qsizetype lineEndLength(const QByteArray &line)
{
    if (line.endsWith("\r\n"))
        return 2;
    return line.endsWith('\n') ? 1 : 0;
}

} // namespace

QStringList DiagnosticBundle::logFiles()
{
    const QString current = DiagnosticLogger::logFilePath();
    QStringList files{current};
    for (int rotation = 1; rotation <= kLogRotations; ++rotation)
        files.append(current + QLatin1Char('.') + QString::number(rotation));
    return files;
}

QString DiagnosticBundle::fileName(const QDateTime &time)
{
    return QStringLiteral("quorin-diagnostics-%1.zip")
        .arg(time.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QString DiagnosticBundle::systemDescription(const QString &failureCode, float animationSpeed,
                                            const QStringList &logFiles)
{
    QDateTime logStart;
    QDateTime logEnd;
    for (const QString &path : logFiles) {
        const QFileInfo file(path);
        if (!file.exists())
            continue;
        const QDateTime modified = file.lastModified().toUTC();
        if (!logStart.isValid() || modified < logStart)
            logStart = modified;
        if (!logEnd.isValid() || modified > logEnd)
            logEnd = modified;
    }
    const QList<QPair<const char *, QString>> items = {
        {"app_version", QCoreApplication::applicationVersion()},
        {"build_number", QString::fromLatin1(quorin::BuildVersion::buildNumber)},
        {"source_commit", QStringLiteral(QUORIN_SOURCE_COMMIT)},
        {"qt_version", QString::fromLatin1(qVersion())},
        {"media_backend", qEnvironmentVariableIsSet("QT_MEDIA_BACKEND")
                              ? qEnvironmentVariable("QT_MEDIA_BACKEND")
                              : QStringLiteral("default")},
        {"render_backend", QString::number(int(QQuickWindow::graphicsApi()))},
        {"platform_plugin", QGuiApplication::platformName()},
        {"os", QSysInfo::prettyProductName()},
        {"architecture", QSysInfo::currentCpuArchitecture()},
        {"locale", QLocale().name()},
        {"layout_direction", QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                                   : QStringLiteral("ltr")},
        {"animation_speed", QString::number(double(animationSpeed), 'g', 6)},
        {"detailed_diagnostics", DiagnosticLogger::detailed() ? QStringLiteral("1") : QStringLiteral("0")},
        {"detailed_expiry_utc", utcSeconds(DiagnosticLogger::detailedUntil())},
        {"log_time_start_utc", logStart.isValid() ? utcSeconds(logStart) : QString()},
        {"log_time_end_utc", logEnd.isValid() ? utcSeconds(logEnd) : QString()},
        {"dropped_events", QString::number(DiagnosticLogger::droppedCount())},
        // Only the fingerprint: the code itself may name what the user was doing.
        {"failure_code",
         failureCode.isEmpty() ? QStringLiteral("none") : DiagnosticLogger::fingerprint(failureCode)},
    };
    QString text = QStringLiteral("Quorin desktop diagnostic bundle\n");
    for (const auto &[key, value] : items)
        text += QLatin1String(key) + QLatin1Char('=') + value + QLatin1Char('\n');
    return text;
}

QByteArray DiagnosticBundle::maskedLog(QIODevice &log)
{
    QByteArray masked;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine();
        const qsizetype endLength = lineEndLength(line);
        const QString text = QString::fromUtf8(line.left(line.size() - endLength));
        masked += DiagnosticLogger::redact(text, QString()).toUtf8();
        masked += line.right(endLength);
    }
    return masked;
}

QByteArray DiagnosticBundle::build(const QString &failureCode, float animationSpeed)
{
    const QStringList files = logFiles();
    StoredZipWriter archive;
    archive.addEntry("system.txt", systemDescription(failureCode, animationSpeed, files).toUtf8());
    for (const QString &path : files) {
        QFile log(path);
        // A file that is missing or cannot be read is left out without notice.
        if (!log.open(QIODevice::ReadOnly))
            continue;
        archive.addEntry("logs/" + QFileInfo(path).fileName().toUtf8(), maskedLog(log));
    }
    return archive.archive();
}

QString DiagnosticBundle::save(const QString &failureCode, float animationSpeed)
{
    const QByteArray archive = build(failureCode, animationSpeed);
    const QString folder = bundleFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return {};
    const QString path = QDir(folder).filePath(fileName(QDateTime::currentDateTimeUtc()));
    // Written through a temporary file that replaces the bundle only when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    // It holds the log's contents, which only the owner may read.
    file.setPermissions(kOwnerFile);
    if (file.write(archive) != archive.size() || !file.commit())
        return {};
    return path;
}

} // namespace quorin
