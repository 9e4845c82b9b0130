#include "HlsProxySessionProbe.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/HlsProxyThread.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <memory>

class tst_HlsProxyShutdown : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The process-wide proxy is destroyed after main returned, when the application object and
    // possibly the global thread pool are gone; it must still stop on its own thread.
    void exitWithOpenConnectionsAndQueuedWork_data()
    {
        QTest::addColumn<QString>("prefetch");
        QTest::newRow("no prefetch") << QString();
        QTest::newRow("prefetch request in flight") << QStringLiteral("prefetch-in-flight");
        QTest::newRow("prefetch worker storing") << QStringLiteral("prefetch-storing");
    }

    void exitWithOpenConnectionsAndQueuedWork()
    {
        QFETCH(QString, prefetch);
        QProcess probe;
        probe.setProcessChannelMode(QProcess::MergedChannels);
        probe.start(QStringLiteral(QUORIN_HLS_PROXY_EXIT_PROBE),
                    prefetch.isEmpty() ? QStringList() : QStringList{prefetch});
        QVERIFY(probe.waitForFinished(120000));
        const QByteArray output = probe.readAll();

        QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0,
                 QByteArray("exit code ") + QByteArray::number(probe.exitCode()) + '\n' + output);
        QVERIFY2(output.contains("HlsProxyServer listening on port"), output);
        for (const char *warning :
             {"QSocketNotifier", "Timers cannot", "QThread: Destroyed while thread is still running"})
            QVERIFY2(!output.contains(warning), output);
    }

    // Connections still open and holding permits are closed on the proxy thread, before the
    // tables they return their permits to are gone.
    void destructionClosesConnections()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        auto proxy = std::make_unique<HlsProxyThread>();
        HlsProxyServer *server = proxy->server();
        const QString sessionId = QStringLiteral("closing-session");
        server->registerSession(sessionId, SessionInfo());

        QTcpSocket players[3];
        for (QTcpSocket &player : players) {
            player.connectToHost(QHostAddress(QHostAddress::LocalHost), server->port());
            QVERIFY(player.waitForConnected(10000));
        }
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 3);
        for (HlsProxySession *connection : HlsProxySessionProbe::connections(server))
            QVERIFY(HlsProxySessionProbe::routeTo(server, connection, sessionId));
        QCOMPARE(server->activeRequestCount(sessionId), 3);

        proxy.reset();

        for (QTcpSocket &player : players)
            QTRY_COMPARE(player.state(), QAbstractSocket::UnconnectedState);
    }

    // Prefetch workers run on the global pool and reach back into the server.
    void destructionWaitsForTheGlobalPool()
    {
        auto proxy = std::make_unique<HlsProxyThread>();
        std::atomic<bool> started{false};
        std::atomic<bool> finished{false};
        QThreadPool::globalInstance()->start([&] {
            started = true;
            QThread::msleep(300);
            finished = true;
        });
        QTRY_VERIFY(started.load());

        proxy.reset();
        QVERIFY(finished.load());
    }
};

QTEST_GUILESS_MAIN(tst_HlsProxyShutdown)
#include "tst_HlsProxyShutdown.moc"
