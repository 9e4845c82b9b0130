#include "app/DiagnosticLogger.h"

#include "app/DiagnosticSink.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace {

constexpr qint64 kSizeLimitBytes = 8 * 1024 * 1024;
constexpr int kRotations = 4;
constexpr qint64 kQueueCapacity = 2048;
constexpr qsizetype kMaximumValueLength = 2048;
// A fatal message waits this long for its record to reach the disk before the process aborts.
constexpr std::chrono::milliseconds kFatalDrainTimeout{1000};

const QString kDetailedUntilKey = QStringLiteral("diagnostics/detailedUntilUtcMs");

struct Mask
{
    QRegularExpression pattern;
    QString replacement;
    // A cheap test that every match needs; most values fail it, and the expression is skipped.
    bool (*mayMatch)(const QString &text);
};

struct LoggerState
{
    // Swapped atomically, so a producer on another thread either finishes its hand-over while it
    // still holds the writer, or sees none; it can never reach a destroyed writer.
    std::atomic<std::shared_ptr<DiagnosticSink>> writer;
    std::atomic<bool> verbose{false};
    std::atomic<bool> console{false};
    std::atomic<qint64> detailedUntilMs{0};
    // Nanoseconds of the steady clock when the log started; 0 while it never ran.
    std::atomic<qint64> clockStartNs{0};

    std::mutex remoteSinkMutex;
    DiagnosticLogger::RemoteSink remoteSink; // guarded by remoteSinkMutex; never called under it

    QtMessageHandler previousHandler = nullptr;
    bool handlerInstalled = false;

    ~LoggerState()
    {
        // A log that was never shut down must not leave Qt calling into a destroyed state.
        if (handlerInstalled)
            qInstallMessageHandler(previousHandler);
    }
};

LoggerState &state()
{
    static LoggerState loggerState;
    return loggerState;
}

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 logClockMs()
{
    const qint64 start = state().clockStartNs.load(std::memory_order_relaxed);
    return start == 0 ? 0 : (steadyNowNs() - start) / 1'000'000;
}

const QRegularExpression &nameRule()
{
    // Anchored at the very end: a plain "$" would also accept a name ending in a line break,
    // which written as a key would split the record.
    static const QRegularExpression rule(
        QRegularExpression::anchoredPattern(QStringLiteral("[a-z][a-z0-9_]{0,63}")));
    return rule;
}

bool isWellFormedName(const QString &name)
{
    return nameRule().match(name).hasMatch();
}

Mask makeMask(const char *pattern, const char *replacement, bool caseInsensitive,
              bool (*mayMatch)(const QString &))
{
    QRegularExpression expression(QString::fromLatin1(pattern),
                                  caseInsensitive ? QRegularExpression::CaseInsensitiveOption
                                                  : QRegularExpression::NoPatternOption);
    expression.optimize();
    return {expression, QString::fromLatin1(replacement), mayMatch};
}

bool hasScheme(const QString &text)
{
    return text.contains(QLatin1String("://"));
}

bool hasSlash(const QString &text)
{
    return text.contains(QLatin1Char('/'));
}

const std::array<Mask, 8> &masks()
{
    static const std::array<Mask, 8> list = {
        makeMask(R"(https?://[^\s"]+)", "[redacted-url]", true, hasScheme),
        makeMask(R"(\b(courses|contents|resources|lectures|sections)/[^/\s?]+)", R"(\1/[redacted-id])", true,
                 hasSlash),
        makeMask(R"(([?&](?:token|session|signature|key|auth|credential)=[^&#\s]*))", "[redacted-param]",
                 true, [](const QString &text) { return text.contains(QLatin1Char('=')); }),
        makeMask(R"((https?://[^?\s]+)\?[^\s"]+)", R"(\1?[redacted])", true, hasScheme),
        makeMask(R"(\b(?:Bearer\s+)?[A-Za-z0-9_-]{24,}(?:\.[A-Za-z0-9_-]+){0,2}\b)", "[redacted-secret]",
                 true, [](const QString &text) { return text.size() >= 24; }),
        makeMask(R"((?<!\d)(?!\d{4}-\d{2}-\d{2}T)\+?\d[\d ()-]{7,}\d(?!\d))", "[redacted-phone]", false,
                 [](const QString &text) { return text.size() >= 9; }),
        makeMask(R"(\b[A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,}\b)", "[redacted-email]", true,
                 [](const QString &text) { return text.contains(QLatin1Char('@')); }),
        makeMask(R"((?:[A-Za-z]:\\|/)(?:[^\s"'<>|]+[/\\])+[^\s"'<>|]*)", "[redacted-path]", false,
                 [](const QString &text) { return hasSlash(text) || text.contains(QLatin1Char('\\')); }),
    };
    return list;
}

bool isFingerprintText(const QString &value)
{
    if (value == QLatin1String("none"))
        return true;
    if (value.size() != 12)
        return false;
    return std::all_of(value.cbegin(), value.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

bool isSensitiveKey(const QString &lowerKey)
{
    static const std::array contained = {"authorization", "password",  "credential", "phone",
                                         "title",         "plaintext", "email"};
    static const std::array equal = {"token",     "session",    "session_id", "key",         "url", "path",
                                     "course_id", "lecture_id", "section_id", "resource_id", "iv"};
    static const std::array endings = {"_token", "_url", "_path", "_iv"};
    const auto matches = [&lowerKey](const auto &words, auto test) {
        return std::any_of(words.cbegin(), words.cend(),
                           [&](const char *word) { return test(lowerKey, QLatin1String(word)); });
    };
    return matches(contained, [](const QString &key, QLatin1String word) { return key.contains(word); }) ||
           matches(equal, [](const QString &key, QLatin1String word) { return key == word; }) ||
           matches(endings, [](const QString &key, QLatin1String word) { return key.endsWith(word); });
}

QString threadLabel()
{
    const QThread *thread = QThread::currentThread();
    if (thread && !thread->objectName().isEmpty())
        return thread->objectName();
    return QString::number(quintptr(QThread::currentThreadId()), 16);
}

QString levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("debug");
    case QtInfoMsg:
        return QStringLiteral("info");
    case QtWarningMsg:
        return QStringLiteral("warning");
    case QtCriticalMsg:
        return QStringLiteral("critical");
    case QtFatalMsg:
        return QStringLiteral("fatal");
    }
    return QStringLiteral("unknown");
}

void echoToConsole(const QString &message)
{
    QByteArray text = DiagnosticLogger::redact(message).toLocal8Bit();
    text.append('\n');
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

// The record that explains a crash is worthless if it is still queued when the process dies:
// give the writer a bounded moment, unless this is the writer itself, which would wait forever.
void drainBeforeAbort()
{
    const std::shared_ptr<DiagnosticSink> writer = state().writer.load();
    if (writer && !writer->isWriterThread())
        (void)writer->waitUntilIdle(kFatalDrainTimeout);
}

void handleQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QVariantMap fields;
    if (context.category && *context.category)
        fields.insert(QStringLiteral("qt_category"), QString::fromUtf8(context.category));
    fields.insert(QStringLiteral("message"), message);
    DiagnosticLogger::log(QStringLiteral("qt"), levelName(type), QStringLiteral("message"), fields,
                          type == QtDebugMsg);
    if (state().console.load(std::memory_order_relaxed))
        echoToConsole(message);
    if (type == QtFatalMsg) {
        drainBeforeAbort();
        std::abort();
    }
}

QString isoSeconds(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

} // namespace

QString DiagnosticLogger::formatRecord(const QString &category, const QString &level, const QString &event,
                                       const QVariantMap &fields)
{
    const QString timestamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QString quotedLevel = formatValue(redact(level));
    QString line;
    line.reserve(256 + fields.size() * 48);
    line += QLatin1String("schema_version=1 event_id=");
    line += formatValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
    line += QLatin1String(" timestamp_utc=") + timestamp + QLatin1String(" utc=") + timestamp;
    line += QLatin1String(" mono_ms=") + QString::number(logClockMs());
    line += QLatin1String(" category=") + formatValue(redact(category));
    line += QLatin1String(" severity=") + quotedLevel + QLatin1String(" level=") + quotedLevel;
    line += QLatin1String(" thread=") + formatValue(redact(threadLabel()));
    line += QLatin1String(" event=") + formatValue(sanitizeEventName(event));
    for (auto field = fields.cbegin(); field != fields.cend(); ++field) {
        const QString &key = field.key();
        line += QLatin1Char(' ');
        line += isWellFormedName(key) ? key : QLatin1String("field_") + fingerprint(key);
        line += QLatin1Char('=');
        line += formatValue(redact(field.value().toString(), key));
    }
    return line;
}

QString DiagnosticLogger::formatValue(const QString &text)
{
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == u'\n')
            quoted += QLatin1String("\\n");
        else if (unit == u'\r')
            quoted += QLatin1String("\\r");
        else if (unit == u'"')
            quoted += QLatin1String("\\\"");
        else if (unit == u'\\')
            quoted += QLatin1String("\\\\");
        else if (unit < 32 || unit == 127)
            quoted += QLatin1String("\\u") + QString::number(unit, 16).rightJustified(4, QLatin1Char('0'));
        else
            quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QString DiagnosticLogger::sanitizeEventName(const QString &event)
{
    return isWellFormedName(event) ? event : redact(event);
}

QString DiagnosticLogger::redact(const QString &value, const QString &key)
{
    const QString lowerKey = key.toLower();
    // First, so that a fingerprint survives even under a key that is otherwise sensitive.
    if (lowerKey.endsWith(QLatin1String("_fp")) && isFingerprintText(value))
        return value;
    if (isSensitiveKey(lowerKey))
        return QStringLiteral("[redacted]");
    QString masked = value;
    for (const Mask &mask : masks()) {
        if (mask.mayMatch(masked))
            masked.replace(mask.pattern, mask.replacement);
    }
    if (masked.size() > kMaximumValueLength) {
        masked.truncate(kMaximumValueLength);
        masked += QLatin1String("[truncated]");
    }
    return masked;
}

QString DiagnosticLogger::fingerprint(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("none");
    const QByteArray digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(12));
}

void DiagnosticLogger::initialize()
{
    LoggerState &logger = state();
    if (logger.writer.load())
        return;
    logger.verbose =
        qEnvironmentVariable("QUORIN_DIAGNOSTICS").compare(QLatin1String("verbose"), Qt::CaseInsensitive) ==
        0;
    logger.detailedUntilMs = QSettings().value(kDetailedUntilKey, 0).toLongLong();
    logger.console = qEnvironmentVariableIntValue("QUORIN_LOG_CONSOLE") == 1;
    logger.clockStartNs = steadyNowNs();
    logger.writer.store(
        std::make_shared<DiagnosticSink>(logFilePath(), kSizeLimitBytes, kRotations, kQueueCapacity));
    logger.previousHandler = qInstallMessageHandler(handleQtMessage);
    logger.handlerInstalled = true;
    log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("diagnostics_started"),
        {{QStringLiteral("verbose"), detailed()},
         {QStringLiteral("detailed_until_utc"), isoSeconds(detailedUntil())}});
}

void DiagnosticLogger::shutdown()
{
    LoggerState &logger = state();
    const std::shared_ptr<DiagnosticSink> writer = logger.writer.load();
    if (!writer)
        return;
    log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("diagnostics_stopping"),
        {{QStringLiteral("dropped"), writer->droppedCount()}});
    qInstallMessageHandler(logger.previousHandler);
    logger.handlerInstalled = false;
    // No new producer reaches the writer from here on. Waiting for an empty queue before this
    // could last for ever while other threads keep logging; stopping drains what is queued.
    logger.writer.store(nullptr);
    // Producers that still hold the writer find it stopping and drop their line; the object
    // itself goes when the last of them lets go.
    writer->stop();
}

void DiagnosticLogger::log(const QString &category, const QString &level, const QString &event,
                           const QVariantMap &fields, bool detailedOnly)
{
    LoggerState &logger = state();
    {
        const std::shared_ptr<DiagnosticSink> writer = logger.writer.load();
        if (!writer || (detailedOnly && !detailed()))
            return;
        writer->enqueue(formatRecord(category, level, event, fields));
    }
    RemoteSink remoteSink;
    {
        const std::lock_guard lock(logger.remoteSinkMutex);
        remoteSink = logger.remoteSink;
    }
    if (remoteSink)
        remoteSink(category, level, sanitizeEventName(event), fields, detailedOnly);
}

bool DiagnosticLogger::detailed()
{
    const LoggerState &logger = state();
    return logger.verbose.load(std::memory_order_relaxed) ||
           QDateTime::currentMSecsSinceEpoch() < logger.detailedUntilMs.load(std::memory_order_relaxed);
}

QDateTime DiagnosticLogger::detailedUntil()
{
    return QDateTime::fromMSecsSinceEpoch(state().detailedUntilMs.load(), Qt::UTC);
}

void DiagnosticLogger::setDetailedUntil(const QDateTime &time)
{
    const qint64 until = time.isValid() ? time.toMSecsSinceEpoch() : 0;
    state().detailedUntilMs = until;
    QSettings().setValue(kDetailedUntilKey, until);
}

quint64 DiagnosticLogger::droppedCount()
{
    const std::shared_ptr<DiagnosticSink> writer = state().writer.load();
    return writer ? writer->droppedCount() : 0;
}

void DiagnosticLogger::setRemoteSink(RemoteSink sink)
{
    LoggerState &logger = state();
    const std::lock_guard lock(logger.remoteSinkMutex);
    std::swap(logger.remoteSink, sink);
    // The previous sink is destroyed after the lock is released, outside any caller's path.
}

bool DiagnosticLogger::waitUntilWritten(std::chrono::milliseconds timeout)
{
    const std::shared_ptr<DiagnosticSink> writer = state().writer.load();
    return !writer || writer->waitUntilIdle(timeout);
}

QString DiagnosticLogger::logFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QLatin1String("/diagnostics/quorin.log");
}
