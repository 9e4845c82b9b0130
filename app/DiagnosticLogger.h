#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <functional>

// The structured diagnostics log of the process: one UTF-8 line per record in a size-rotated
// file, written by DiagnosticSink's thread. Every value is escaped and masked before it is
// written; identifiers reach the log only as fingerprints under keys ending in "_fp".
// Static members only: the formatting functions are pure and callable from any thread, the
// running log is started and ended once, on the GUI thread.
class DiagnosticLogger
{
public:
    // Receives every record that passes the detailed-mode test, on the thread that logs.
    using RemoteSink = std::function<void(const QString &category, const QString &level, const QString &event,
                                          const QVariantMap &fields, bool detailedOnly)>;

    DiagnosticLogger() = delete;

    // Records
    [[nodiscard]] static QString formatRecord(const QString &category, const QString &level,
                                              const QString &event, const QVariantMap &fields);
    [[nodiscard]] static QString formatValue(const QString &text);
    [[nodiscard]] static QString sanitizeEventName(const QString &event);
    [[nodiscard]] static QString redact(const QString &value, const QString &key = QString());
    [[nodiscard]] static QString fingerprint(const QString &text);

    // The running log
    static void initialize();
    static void shutdown();
    // Never waits for the disk: a record the writer cannot take at once is dropped and counted.
    static void log(const QString &category, const QString &level, const QString &event,
                    const QVariantMap &fields = {}, bool detailedOnly = false);
    [[nodiscard]] static bool detailed();
    [[nodiscard]] static QDateTime detailedUntil();
    // An invalid time ends the detailed window; the value survives a restart.
    static void setDetailedUntil(const QDateTime &time);
    [[nodiscard]] static quint64 droppedCount();
    // An empty callable removes the sink.
    static void setRemoteSink(RemoteSink sink);
    // Waits, at most for the timeout, until every record handed over so far is in the file.
    // True also when the log is not running. Never call it on the writer's own thread.
    static bool waitUntilWritten(std::chrono::milliseconds timeout);

    // The current log file; its rotations carry the suffixes ".1" (newest) to ".4".
    [[nodiscard]] static QString logFilePath();
};
