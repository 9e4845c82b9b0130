#include "app/DiagnosticLogger.h"
#include "testsupport/LogLineParser.h"
#include "testsupport/StalledPipe.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

using quorin::test::LogLineParser;
using quorin::test::StalledPipe;

Q_LOGGING_CATEGORY(probeCategory, "quorin.probe")

namespace {

const QString kDetailedUntilKey = QStringLiteral("diagnostics/detailedUntilUtcMs");
constexpr std::chrono::seconds kWriteTimeout{10};

struct ForwardedRecord
{
    QString category;
    QString level;
    QString event;
    QVariantMap fields;
    bool detailedOnly = false;
};

QList<LogLineParser::Record> writtenRecords()
{
    return LogLineParser::parseFile(DiagnosticLogger::logFilePath());
}

// Every record of the current file and its rotations, oldest first.
QList<LogLineParser::Record> recordsOfAllFiles()
{
    QList<LogLineParser::Record> records;
    for (int number = 4; number >= 1; --number)
        records += LogLineParser::parseFile(DiagnosticLogger::logFilePath() + QLatin1Char('.') +
                                            QString::number(number));
    return records + writtenRecords();
}

QStringList events(const QList<LogLineParser::Record> &records)
{
    QStringList names;
    for (const auto &record : records)
        names.append(record.event());
    return names;
}

void logRecord(const QString &level, const QString &event, const QVariantMap &fields = {},
               bool detailedOnly = false)
{
    DiagnosticLogger::log(QStringLiteral("app"), level, event, fields, detailedOnly);
}

} // namespace

class tst_DiagnosticLogRuntime : public QObject
{
    Q_OBJECT

private:
    QList<ForwardedRecord> m_forwarded;

    void forwardToList()
    {
        DiagnosticLogger::setRemoteSink([this](const QString &category, const QString &level,
                                               const QString &event, const QVariantMap &fields,
                                               bool detailedOnly) {
            m_forwarded.append({category, level, event, fields, detailedOnly});
        });
    }

    [[nodiscard]] QStringList forwardedEvents() const
    {
        QStringList names;
        for (const auto &record : m_forwarded)
            names.append(record.event);
        return names;
    }

private Q_SLOTS:
    void init()
    {
        DiagnosticLogger::shutdown();
        DiagnosticLogger::setRemoteSink({});
        DiagnosticLogger::setDetailedUntil(QDateTime());
        qunsetenv("QUORIN_DIAGNOSTICS");
        qunsetenv("QUORIN_LOG_CONSOLE");
        m_forwarded.clear();
        QVERIFY(QDir(QFileInfo(DiagnosticLogger::logFilePath()).absolutePath()).removeRecursively());
    }

    void cleanup()
    {
        DiagnosticLogger::shutdown();
        DiagnosticLogger::setRemoteSink({});
        qunsetenv("QUORIN_DIAGNOSTICS");
    }

    void logOutsideTheRunningLogIsIgnored()
    {
        forwardToList();
        DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("before_start"));
        QVERIFY(!QFileInfo::exists(DiagnosticLogger::logFilePath()));
        QVERIFY(m_forwarded.isEmpty());

        DiagnosticLogger::initialize();
        logRecord(QStringLiteral("info"), QStringLiteral("while_running"));
        DiagnosticLogger::shutdown();
        DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("after_stop"));

        QCOMPARE(events(writtenRecords()),
                 QStringList({QStringLiteral("diagnostics_started"), QStringLiteral("while_running"),
                              QStringLiteral("diagnostics_stopping")}));
        QCOMPARE(forwardedEvents(),
                 QStringList({QStringLiteral("diagnostics_started"), QStringLiteral("while_running"),
                              QStringLiteral("diagnostics_stopping")}));
        QCOMPARE(DiagnosticLogger::droppedCount(), quint64(0));
    }

    void secondInitializeKeepsTheFirstWriter()
    {
        DiagnosticLogger::initialize();
        DiagnosticLogger::initialize();
        DiagnosticLogger::shutdown();

        const auto records = writtenRecords();
        const auto started = LogLineParser::withEvent(records, QStringLiteral("diagnostics_started"));
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().value(QStringLiteral("category")), QStringLiteral("app"));
        QCOMPARE(started.first().value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(started.first().value(QStringLiteral("verbose")), QStringLiteral("false"));
        QCOMPARE(started.first().value(QStringLiteral("detailed_until_utc")),
                 QStringLiteral("1970-01-01T00:00:00Z"));
        QCOMPARE(records.last().event(), QStringLiteral("diagnostics_stopping"));
        QCOMPARE(records.last().value(QStringLiteral("dropped")), QStringLiteral("0"));
    }

    void detailedOnlyRecords_data()
    {
        QTest::addColumn<QByteArray>("diagnosticsVariable");
        QTest::addColumn<int>("windowSeconds");
        QTest::addColumn<bool>("written");
        QTest::newRow("detailed mode off") << QByteArray() << 0 << false;
        QTest::newRow("verbose variable") << QByteArray("VERBOSE") << 0 << true;
        QTest::newRow("other variable value") << QByteArray("on") << 0 << false;
        QTest::newRow("window open") << QByteArray() << 3600 << true;
        QTest::newRow("window over") << QByteArray() << -3600 << false;
    }

    void detailedOnlyRecords()
    {
        QFETCH(QByteArray, diagnosticsVariable);
        QFETCH(int, windowSeconds);
        QFETCH(bool, written);

        if (!diagnosticsVariable.isEmpty())
            qputenv("QUORIN_DIAGNOSTICS", diagnosticsVariable);
        forwardToList();
        DiagnosticLogger::initialize();
        if (windowSeconds != 0)
            DiagnosticLogger::setDetailedUntil(QDateTime::currentDateTimeUtc().addSecs(windowSeconds));
        QCOMPARE(DiagnosticLogger::detailed(), written);
        logRecord(QStringLiteral("debug"), QStringLiteral("detail_probe"), {{QStringLiteral("step"), 1}},
                  true);
        logRecord(QStringLiteral("info"), QStringLiteral("plain_probe"));
        DiagnosticLogger::shutdown();

        const auto records = writtenRecords();
        QCOMPARE(LogLineParser::withEvent(records, QStringLiteral("detail_probe")).size(), written ? 1 : 0);
        QCOMPARE(LogLineParser::withEvent(records, QStringLiteral("plain_probe")).size(), 1);
        QCOMPARE(forwardedEvents().contains(QStringLiteral("detail_probe")), written);
        for (const auto &record : std::as_const(m_forwarded))
            QCOMPARE(record.detailedOnly, record.event == QLatin1String("detail_probe"));
        const auto started = LogLineParser::withEvent(records, QStringLiteral("diagnostics_started"));
        QCOMPARE(started.first().value(QStringLiteral("verbose")),
                 diagnosticsVariable == "VERBOSE" ? QStringLiteral("true") : QStringLiteral("false"));
    }

    void detailedWindowIsStored()
    {
        const QDateTime until = QDateTime::currentDateTimeUtc().addSecs(3600);
        DiagnosticLogger::setDetailedUntil(until);
        QCOMPARE(QSettings().value(kDetailedUntilKey).toLongLong(), until.toMSecsSinceEpoch());
        QCOMPARE(DiagnosticLogger::detailedUntil(), until);
        QVERIFY(DiagnosticLogger::detailed());

        DiagnosticLogger::initialize();
        DiagnosticLogger::shutdown();
        const auto started =
            LogLineParser::withEvent(writtenRecords(), QStringLiteral("diagnostics_started"));
        QCOMPARE(started.first().value(QStringLiteral("detailed_until_utc")), until.toString(Qt::ISODate));
        QCOMPARE(started.first().value(QStringLiteral("verbose")), QStringLiteral("true"));

        DiagnosticLogger::setDetailedUntil(QDateTime());
        QVERIFY(QSettings().contains(kDetailedUntilKey));
        QCOMPARE(QSettings().value(kDetailedUntilKey).toLongLong(), qint64(0));
        QCOMPARE(DiagnosticLogger::detailedUntil(), QDateTime::fromMSecsSinceEpoch(0, Qt::UTC));
        QVERIFY(!DiagnosticLogger::detailed());
    }

    void qtMessagesAreRecorded_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("level");
        QTest::newRow("debug is detailed-only") << int(QtDebugMsg) << QString();
        QTest::newRow("info") << int(QtInfoMsg) << QStringLiteral("info");
        QTest::newRow("warning") << int(QtWarningMsg) << QStringLiteral("warning");
        QTest::newRow("critical") << int(QtCriticalMsg) << QStringLiteral("critical");
    }

    void qtMessagesAreRecorded()
    {
        QFETCH(int, type);
        QFETCH(QString, level);

        DiagnosticLogger::initialize();
        QVERIFY(DiagnosticLogger::waitUntilWritten(kWriteTimeout));
        switch (QtMsgType(type)) {
        case QtDebugMsg:
            qCDebug(probeCategory, "open /home/u/x.txt failed");
            break;
        case QtInfoMsg:
            qCInfo(probeCategory, "open /home/u/x.txt failed");
            break;
        case QtWarningMsg:
            qCWarning(probeCategory, "open /home/u/x.txt failed");
            break;
        default:
            qCCritical(probeCategory, "open /home/u/x.txt failed");
            break;
        }
        QVERIFY(DiagnosticLogger::waitUntilWritten(kWriteTimeout));
        DiagnosticLogger::shutdown();
        qCWarning(probeCategory, "after the log stopped");

        const auto messages = LogLineParser::withEvent(writtenRecords(), QStringLiteral("message"));
        QCOMPARE(messages.size(), level.isEmpty() ? 0 : 1);
        if (level.isEmpty())
            return;
        const auto &message = messages.first();
        QCOMPARE(message.value(QStringLiteral("category")), QStringLiteral("qt"));
        QCOMPARE(message.value(QStringLiteral("level")), level);
        QCOMPARE(message.value(QStringLiteral("qt_category")), QStringLiteral("quorin.probe"));
        QCOMPARE(message.value(QStringLiteral("message")), QStringLiteral("open [redacted-path] failed"));
    }

    void fullQueueDropsAndReportsTheCount()
    {
        QVERIFY(QDir().mkpath(QFileInfo(DiagnosticLogger::logFilePath()).absolutePath()));
        StalledPipe pipe(DiagnosticLogger::logFilePath());
        QVERIFY(pipe.isValid());
        const auto release = qScopeGuard([&pipe] {
            pipe.startDraining();
            DiagnosticLogger::shutdown();
        });
        DiagnosticLogger::initialize();
        QTRY_VERIFY(pipe.openedByWriter()); // the writer holds "diagnostics_started"

        for (int index = 0; index < 2048; ++index) {
            DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("queued"),
                                  {{QStringLiteral("index"), index}});
        }
        QCOMPARE(DiagnosticLogger::droppedCount(), quint64(0));

        forwardToList();
        const QVariantMap fields = {{QStringLiteral("course_id"), QStringLiteral("123")},
                                    {QStringLiteral("note"), QStringLiteral("/home/u/x.txt")}};
        DiagnosticLogger::log(QStringLiteral("api"), QStringLiteral("warning"),
                              QStringLiteral("Dropped Event /home/u/x"), fields);
        QCOMPARE(DiagnosticLogger::droppedCount(), quint64(1));
        QCOMPARE(m_forwarded.size(), 1);
        QCOMPARE(m_forwarded.first().category, QStringLiteral("api"));
        QCOMPARE(m_forwarded.first().level, QStringLiteral("warning"));
        QCOMPARE(m_forwarded.first().event, QStringLiteral("Dropped Event [redacted-path]"));
        QCOMPARE(m_forwarded.first().fields, fields);
        QVERIFY(!m_forwarded.first().detailedOnly);

        pipe.startDraining();
        // A full queue would drop the closing record too: let the reader empty it first.
        QVERIFY(DiagnosticLogger::waitUntilWritten(kWriteTimeout));
        DiagnosticLogger::shutdown();
        QList<LogLineParser::Record> records;
        for (const QByteArray &line : pipe.finishDraining().split('\n')) {
            if (!line.isEmpty())
                records.append(LogLineParser::parse(QString::fromUtf8(line)));
        }

        QCOMPARE(records.size(), 2050);
        QCOMPARE(records.first().event(), QStringLiteral("diagnostics_started"));
        for (int index = 0; index < 2048; ++index) {
            QCOMPARE(records.at(index + 1).event(), QStringLiteral("queued"));
            QCOMPARE(records.at(index + 1).value(QStringLiteral("index")), QString::number(index));
        }
        QCOMPARE(records.last().event(), QStringLiteral("diagnostics_stopping"));
        QCOMPARE(records.last().value(QStringLiteral("dropped")), QStringLiteral("1"));
    }

    void consoleEchoAndFatal_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("console");
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("echoed");
        QTest::newRow("warning echoed")
            << QStringLiteral("warning") << QStringLiteral("1") << QStringLiteral("warning")
            << QStringLiteral("open [redacted-path] failed") << true;
        QTest::newRow("warning not echoed")
            << QStringLiteral("warning") << QStringLiteral("0") << QStringLiteral("warning")
            << QStringLiteral("open [redacted-path] failed") << false;
        QTest::newRow("fatal") << QStringLiteral("fatal") << QStringLiteral("1") << QStringLiteral("fatal")
                               << QStringLiteral("unrecoverable state in [redacted-path]") << true;
    }

    void consoleEchoAndFatal()
    {
        QFETCH(QString, mode);
        QFETCH(QString, console);
        QFETCH(QString, level);
        QFETCH(QString, message);
        QFETCH(bool, echoed);

        QTemporaryDir data;
        QVERIFY(data.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        environment.insert(QStringLiteral("QUORIN_LOG_CONSOLE"), console);
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.setWorkingDirectory(data.path());
        probe.start(QStringLiteral(QUORIN_DIAGNOSTIC_LOG_PROBE), {mode});
        QVERIFY(probe.waitForFinished(60000));

        const bool fatal = mode == QLatin1String("fatal");
        QCOMPARE(probe.exitStatus(), fatal ? QProcess::CrashExit : QProcess::NormalExit);
        if (!fatal)
            QCOMPARE(probe.exitCode(), 0);
        const QString standardError = QString::fromLocal8Bit(probe.readAllStandardError());
        QCOMPARE(standardError.contains(message + QLatin1Char('\n')), echoed);
        QVERIFY(!standardError.contains(QLatin1String("/home/u")));

        const QString logPath = QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
        QVERIFY(logPath.startsWith(data.path()));
        const auto messages =
            LogLineParser::withEvent(LogLineParser::parseFile(logPath), QStringLiteral("message"));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().value(QStringLiteral("level")), level);
        QCOMPARE(messages.first().value(QStringLiteral("message")), message);
    }

    void producersRaceShutdown()
    {
        std::atomic<bool> stop{false};
        std::atomic<qint64> calls{0};
        std::atomic<qint64> forwarded{0};
        const auto forward = [&forwarded](const QString &, const QString &, const QString &,
                                          const QVariantMap &, bool) { forwarded.fetch_add(1); };
        DiagnosticLogger::setRemoteSink(forward);
        DiagnosticLogger::initialize();

        std::vector<std::thread> producers;
        for (int producer = 0; producer < 4; ++producer) {
            producers.emplace_back([&stop, &calls, producer] {
                while (!stop.load()) {
                    DiagnosticLogger::log(QStringLiteral("race"), QStringLiteral("info"),
                                          QStringLiteral("race_record"),
                                          {{QStringLiteral("producer"), producer},
                                           {QStringLiteral("note"), QStringLiteral("/home/u/x.txt")}});
                    calls.fetch_add(1);
                }
            });
        }
        const auto joinProducers = qScopeGuard([&] {
            stop = true;
            for (auto &producer : producers)
                producer.join();
        });

        QTRY_VERIFY(calls.load() > 2000);
        DiagnosticLogger::setRemoteSink({});
        DiagnosticLogger::setRemoteSink(forward);
        DiagnosticLogger::shutdown();
        const qint64 sizeAtShutdown = QFileInfo(DiagnosticLogger::logFilePath()).size();
        const qint64 callsAtShutdown = calls.load();
        QTRY_VERIFY(calls.load() > callsAtShutdown + 2000);
        QCOMPARE(QFileInfo(DiagnosticLogger::logFilePath()).size(), sizeAtShutdown);

        const auto records = recordsOfAllFiles();
        QVERIFY(!records.isEmpty());
        for (const auto &record : records)
            QVERIFY(record.valid);
        QCOMPARE(records.first().event(), QStringLiteral("diagnostics_started"));
        QVERIFY(!LogLineParser::withEvent(records, QStringLiteral("race_record")).isEmpty());
        QVERIFY(forwarded.load() > 0);
    }
};

QTEST_GUILESS_MAIN(tst_DiagnosticLogRuntime)
#include "tst_DiagnosticLogRuntime.moc"
