#include "app/DiagnosticLogger.h"
#include "app/EventLoopStallMonitor.h"
#include "testsupport/LogLineParser.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using quorin::test::LogLineParser;

class tst_EventLoopStallMonitor : public QObject
{
    Q_OBJECT

private:
    qint64 m_now = 0;
    QStringList m_sequence; // what reached the stall handler and the log, in order

    EventLoopStallMonitor *makeMonitor()
    {
        return new EventLoopStallMonitor(
            [this] { return m_now; },
            [this](qint64 stallMs) { m_sequence.append(QStringLiteral("noted %1").arg(stallMs)); }, this);
    }

private Q_SLOTS:
    void init()
    {
        m_now = 1000;
        m_sequence.clear();
        QVERIFY(QDir(QFileInfo(DiagnosticLogger::logFilePath()).absolutePath()).removeRecursively());
        DiagnosticLogger::setRemoteSink([this](const QString &category, const QString &level,
                                               const QString &event, const QVariantMap &fields, bool) {
            if (event == QLatin1String("event_loop_stall")) {
                m_sequence.append(
                    QStringLiteral("logged %1 %2 %3")
                        .arg(category, level, fields.value(QStringLiteral("duration_ms")).toString()));
            }
        });
        DiagnosticLogger::initialize();
    }

    void cleanup()
    {
        DiagnosticLogger::shutdown();
        DiagnosticLogger::setRemoteSink({});
    }

    void reportsLateTicks_data()
    {
        QTest::addColumn<QList<qint64>>("gaps");
        QTest::addColumn<QStringList>("sequence");
        QTest::newRow("350 ms") << QList<qint64>{350} << QStringList();
        QTest::newRow("351 ms") << QList<qint64>{351}
                                << QStringList{QStringLiteral("noted 251"),
                                               QStringLiteral("logged gui warning 251")};
        QTest::newRow("1100 ms") << QList<qint64>{1100}
                                 << QStringList{QStringLiteral("noted 1000"),
                                                QStringLiteral("logged gui warning 1000")};
        QTest::newRow("each tick from the one before")
            << QList<qint64>{300, 300, 100, 400}
            << QStringList{QStringLiteral("noted 300"), QStringLiteral("logged gui warning 300")};
    }

    void reportsLateTicks()
    {
        QFETCH(QList<qint64>, gaps);
        QFETCH(QStringList, sequence);

        EventLoopStallMonitor *monitor = makeMonitor();
        monitor->start(); // the first tick measures from here
        for (const qint64 gap : gaps) {
            m_now += gap;
            monitor->tick();
        }
        QCOMPARE(m_sequence, sequence);

        DiagnosticLogger::shutdown();
        const auto stalls = LogLineParser::withEvent(
            LogLineParser::parseFile(DiagnosticLogger::logFilePath()), QStringLiteral("event_loop_stall"));
        QCOMPARE(stalls.size(), sequence.size() / 2);
        for (const auto &stall : stalls) {
            QCOMPARE(stall.value(QStringLiteral("category")), QStringLiteral("gui"));
            QCOMPARE(stall.value(QStringLiteral("level")), QStringLiteral("warning"));
            QVERIFY(sequence.contains(QStringLiteral("noted ") + stall.value(QStringLiteral("duration_ms"))));
        }
    }

    void timerDrivesTheTicks()
    {
        EventLoopStallMonitor *monitor = makeMonitor();
        monitor->start();
        m_now += 500;
        QTRY_COMPARE(m_sequence.value(0), QStringLiteral("noted 400"));
    }
};

QTEST_GUILESS_MAIN(tst_EventLoopStallMonitor)
#include "tst_EventLoopStallMonitor.moc"
