#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

class QIODevice;

namespace quorin {

// The diagnostic bundle a user hands to support: one ZIP file holding "system.txt", a short
// description of the installation and the run, and a copy of each diagnostics log file with
// every line masked again. The failure code it is made for appears only as its fingerprint.
class DiagnosticBundle
{
public:
    // Writes a bundle into the downloads folder (the documents folder when there is none) and
    // returns its path, or an empty text when the folder or the file cannot be written; a failed
    // save leaves no partial file behind. Two bundles made within one second share the name and
    // the later replaces the earlier. animationSpeed is the preference at the time.
    [[nodiscard]] static QString save(const QString &failureCode, float animationSpeed);

    // The archive's bytes: "system.txt", then "logs/quorin.log" and its rotations ".1" to ".4",
    // each that can be opened.
    [[nodiscard]] static QByteArray build(const QString &failureCode, float animationSpeed);
    // The text of "system.txt"; logFiles are the log files that exist, which give the log period.
    [[nodiscard]] static QString systemDescription(const QString &failureCode, float animationSpeed,
                                                   const QStringList &logFiles);
    // A log file's lines, each masked without its line end and given it back, so a line cut for
    // length never runs into the next.
    [[nodiscard]] static QByteArray maskedLog(QIODevice &log);
    // The current log file and its rotations, newest first.
    [[nodiscard]] static QStringList logFiles();
    // "quorin-diagnostics-yyyyMMdd-HHmmss.zip" of the time in UTC.
    [[nodiscard]] static QString fileName(const QDateTime &time);
};

} // namespace quorin
