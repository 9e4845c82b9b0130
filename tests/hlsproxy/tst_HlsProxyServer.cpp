#include "HlsProxySessionProbe.h"
#include "ProxyTestSession.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/HlsProxySession.h"
#include "media/CryptoManager.h"
#include "testsupport/LogRecorder.h"

#include <QMetaMethod>
#include <QMetaType>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUrlQuery>
#include <algorithm>
#include <fcntl.h>
#include <latch>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

quint16 portSeenBy[2] = {0, 0};
HlsProxyServer *serverSeenBy[2] = {nullptr, nullptr};

SessionInfo sessionFor(const QString &lectureId)
{
    SessionInfo info;
    info.lectureId = lectureId;
    info.playbackKey = QByteArray(16, 'k');
    info.playbackIv = QByteArray(16, 'i');
    info.masterIv = QByteArray(16, 'm');
    info.generation = 1;
    return info;
}

// Lowers the process's descriptor limit and takes every descriptor left below it, so that the
// next socket cannot be made; gives everything back when it goes.
class DescriptorsExhausted
{
public:
    DescriptorsExhausted()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = std::min<rlim_t>(m_saved.rlim_cur, 1024);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int descriptor = ::open("/dev/null", O_RDONLY); descriptor >= 0;
             descriptor = ::open("/dev/null", O_RDONLY))
            m_held.push_back(descriptor);
    }

    ~DescriptorsExhausted()
    {
        for (const int descriptor : m_held)
            ::close(descriptor);
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }

    DescriptorsExhausted(const DescriptorsExhausted &) = delete;
    DescriptorsExhausted &operator=(const DescriptorsExhausted &) = delete;

    [[nodiscard]] std::size_t held() const { return m_held.size(); }

private:
    rlimit m_saved{};
    std::vector<int> m_held;
};

} // namespace

// Takes the proxy's signals on the test thread, through connections made by signature as
// callers in other layers may make them.
class SignalReceiver : public QObject
{
    Q_OBJECT

public:
    QList<ProxyFailureRecord> failures;
    QList<std::tuple<QString, qulonglong, ProxyResourceType>> sources;
    QList<QThread *> deliveryThreads;

public Q_SLOTS:
    void onProxyFailure(const ProxyFailureRecord &failure)
    {
        failures.append(failure);
        deliveryThreads.append(QThread::currentThread());
    }

    void onSourceReached(const QString &sessionId, qulonglong generation, ProxyResourceType resourceType)
    {
        sources.append({sessionId, generation, resourceType});
        deliveryThreads.append(QThread::currentThread());
    }
};

class tst_HlsProxyServer : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;

    void onProxyThread(const std::function<void()> &work)
    {
        QMetaObject::invokeMethod(server, work, Qt::BlockingQueuedConnection);
    }

private Q_SLOTS:
    // instance() builds the one server once per process, so every case of it is here.
    void initTestCase()
    {
        QVERIFY(!QMetaType::fromName("ProxyFailureRecord").isValid());
        QVERIFY(!QMetaType::fromName("ProxyResourceType").isValid());

        std::latch start(2);
        auto firstCall = [&start](int caller) {
            start.arrive_and_wait();
            serverSeenBy[caller] = HlsProxyServer::instance();
            portSeenBy[caller] = serverSeenBy[caller]->port();
        };
        std::thread first(firstCall, 0);
        std::thread second(firstCall, 1);
        first.join();
        second.join();

        server = serverSeenBy[0];
        QVERIFY(server);
        QCOMPARE(serverSeenBy[1], server);
        QVERIFY(portSeenBy[0] > 0);
        QCOMPARE(portSeenBy[1], portSeenBy[0]);
        QCOMPARE(HlsProxyServer::instance(), server);
        QCOMPARE(server->port(), portSeenBy[0]);
    }

    void runsOnItsOwnThread()
    {
        QThread *proxyThread = server->thread();
        QVERIFY(proxyThread != QThread::currentThread());
        QCOMPARE(proxyThread->objectName(), QStringLiteral("Quorin HLS proxy"));
        QVERIFY(proxyThread->isRunning());

        QThread *networkThread = nullptr;
        onProxyThread([&] { networkThread = server->network() ? server->network()->thread() : nullptr; });
        QCOMPARE(networkThread, proxyThread);
    }

    void listensOnIpv4LoopbackOnly()
    {
        QHostAddress address;
        quint16 listeningPort = 0;
        onProxyThread([&] {
            address = server->serverAddress();
            listeningPort = server->serverPort();
        });
        QCOMPARE(address, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(listeningPort, server->port());

        QTcpSocket ipv4;
        ipv4.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), server->port());
        QVERIFY(ipv4.waitForConnected(10000));

        QTcpSocket ipv6;
        ipv6.connectToHost(QHostAddress(QStringLiteral("::1")), server->port());
        QVERIFY(!ipv6.waitForConnected(10000));
    }

    void metatypesAreKnownByName()
    {
        QCOMPARE(QMetaType::fromName("ProxyFailureRecord"), QMetaType::fromType<ProxyFailureRecord>());
        QCOMPARE(QMetaType::fromName("ProxyResourceType"), QMetaType::fromType<ProxyResourceType>());
    }

    // Callers connect and invoke by signature, so the signatures are the interface.
    void signalsThenInvokables()
    {
        const QMetaObject *meta = server->metaObject();
        QStringList ownMethods;
        for (int index = meta->methodOffset(); index < meta->methodCount(); ++index)
            ownMethods.append(QString::fromLatin1(meta->method(index).methodSignature()));

        QCOMPARE(ownMethods,
                 QStringList({
                     QStringLiteral("sessionStopped(QString)"),
                     QStringLiteral("segmentDelivered(QString,QString,qlonglong,qlonglong)"),
                     QStringLiteral("segmentDemanded(QString,QString)"),
                     QStringLiteral("segmentReached(QString,qulonglong,QString,qlonglong,qlonglong)"),
                     QStringLiteral("segmentTransfer(QString,qlonglong,qlonglong,bool)"),
                     QStringLiteral("sourceReached(QString,qulonglong,ProxyResourceType)"),
                     QStringLiteral("proxyFailure(ProxyFailureRecord)"),
                     QStringLiteral("updatePlaybackState(QString,bool,double,bool)"),
                     QStringLiteral("updatePlaybackState(QString,bool,double)"),
                     QStringLiteral("clearConnectionCache()"),
                 }));
    }

    void signalsReachAnotherThreadIntact()
    {
        SignalReceiver receiver;
        QVERIFY(connect(server, SIGNAL(proxyFailure(ProxyFailureRecord)), &receiver,
                        SLOT(onProxyFailure(ProxyFailureRecord))));
        QVERIFY(connect(server, SIGNAL(sourceReached(QString, qulonglong, ProxyResourceType)), &receiver,
                        SLOT(onSourceReached(QString, qulonglong, ProxyResourceType))));

        const ProxyFailureRecord failure{
            .origin = ProxyFailureOrigin::NetworkTransport,
            .reason = ProxyFailureReason::UpstreamKey,
            .resourceType = ProxyResourceType::Key,
            .httpStatus = 504,
            .networkError = 99,
            .upstreamCode = QStringLiteral("AUTH_EXPIRED"),
            .sessionId = QStringLiteral("failure-session"),
            .generation = Q_UINT64_C(0x8000000000000001),
            .resourceFp = QString(),
        };
        QThread *emittingThread = nullptr;
        onProxyThread([&] {
            emittingThread = QThread::currentThread();
            Q_EMIT server->proxyFailure(failure);
            Q_EMIT server->sourceReached(QStringLiteral("source-session"), Q_UINT64_C(0xfffffffffffffffe),
                                         ProxyResourceType::Segment);
        });
        QCOMPARE(emittingThread, server->thread());

        QTRY_COMPARE(receiver.failures.size(), 1);
        QTRY_COMPARE(receiver.sources.size(), 1);
        QCOMPARE(receiver.failures.constFirst(), failure);
        QCOMPARE(receiver.sources.constFirst(),
                 std::make_tuple(QStringLiteral("source-session"), qulonglong(Q_UINT64_C(0xfffffffffffffffe)),
                                 ProxyResourceType::Segment));
        for (QThread *thread : std::as_const(receiver.deliveryThreads))
            QCOMPARE(thread, QThread::currentThread());
    }

    void updatePlaybackStateWithThreeArguments()
    {
        const QString threeArguments = QStringLiteral("three-arguments");
        const QString fourArguments = QStringLiteral("four-arguments");
        server->registerSession(threeArguments, sessionFor(QStringLiteral("lecture")));
        server->registerSession(fourArguments, sessionFor(QStringLiteral("lecture")));

        // A stall stored first must be cleared by the short form.
        QVERIFY(QMetaObject::invokeMethod(server, "updatePlaybackState", Qt::BlockingQueuedConnection,
                                          Q_ARG(QString, threeArguments), Q_ARG(bool, false),
                                          Q_ARG(double, 2.0), Q_ARG(bool, true)));
        QCOMPARE(server->playbackState(threeArguments).recentStall, std::optional<bool>(true));

        QVERIFY(QMetaObject::invokeMethod(server, "updatePlaybackState", Qt::BlockingQueuedConnection,
                                          Q_ARG(QString, threeArguments), Q_ARG(bool, true),
                                          Q_ARG(double, 1.5)));
        QVERIFY(QMetaObject::invokeMethod(server, "updatePlaybackState", Qt::BlockingQueuedConnection,
                                          Q_ARG(QString, fourArguments), Q_ARG(bool, true),
                                          Q_ARG(double, 1.5), Q_ARG(bool, false)));

        const HlsProxyServer::PlaybackState shortForm = server->playbackState(threeArguments);
        const HlsProxyServer::PlaybackState longForm = server->playbackState(fourArguments);
        QCOMPARE(shortForm.playing, std::optional<bool>(true));
        QCOMPARE(shortForm.playbackRate, std::optional<double>(1.5));
        QCOMPARE(shortForm.recentStall, std::optional<bool>(false));
        QCOMPARE(shortForm.playing, longForm.playing);
        QCOMPARE(shortForm.playbackRate, longForm.playbackRate);
        QCOMPARE(shortForm.recentStall, longForm.recentStall);

        server->unregisterSession(threeArguments, QStringLiteral("test_end"));
        server->unregisterSession(fourArguments, QStringLiteral("test_end"));
    }

    void clearConnectionCacheIsLogged()
    {
        DiagnosticLogger::initialize();
        const auto stopLog = qScopeGuard([] { DiagnosticLogger::shutdown(); });
        const quorin::test::LogRecorder recorder;
        QVERIFY(QMetaObject::invokeMethod(server, "clearConnectionCache", Qt::BlockingQueuedConnection));

        const auto records = recorder.withEvent(QStringLiteral("connection_cache_cleared"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.constFirst().category, QStringLiteral("hls"));
        QCOMPARE(records.constFirst().level, QStringLiteral("info"));
        QVERIFY(records.constFirst().fields.isEmpty());
    }

    void clearConnectionCacheBeforeListeningDoesNothing()
    {
        DiagnosticLogger::initialize();
        const auto stopLog = qScopeGuard([] { DiagnosticLogger::shutdown(); });
        const quorin::test::LogRecorder recorder;
        HlsProxyServer notStarted;
        notStarted.clearConnectionCache();
        QVERIFY(notStarted.network() == nullptr);
        QVERIFY(recorder.withEvent(QStringLiteral("connection_cache_cleared")).isEmpty());
    }

    // Without a free descriptor the server cannot listen: it says so once, keeps its port at 0
    // and its network manager, and accepts nothing.
    void listeningFailure()
    {
        HlsProxyServer server;
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("^HlsProxyServer failed to listen: .+")));
        {
            const DescriptorsExhausted exhausted;
            QVERIFY(exhausted.held() > 0);
            server.startListening();
        }
        QVERIFY(!server.isListening());
        QCOMPARE(server.port(), 0);
        QVERIFY(!server.errorString().isEmpty());
        QVERIFY(server.network() != nullptr);
    }

    // Each accepted connection becomes a connection object of the server, gone when the player
    // hangs up; the permit its request held goes back with it.
    void connectionsLiveAsLongAsTheirSocket()
    {
        const QString sessionId = QStringLiteral("connection-session");
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));
        QTRY_VERIFY(HlsProxySessionProbe::connections(server).isEmpty());

        QTcpSocket player;
        player.connectToHost(QHostAddress(QHostAddress::LocalHost), server->port());
        QVERIFY(player.waitForConnected(10000));
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 1);
        HlsProxySession *connection = HlsProxySessionProbe::connections(server).constFirst();
        QCOMPARE(connection->parent(), server);
        QCOMPARE(connection->thread(), server->thread());

        QVERIFY(HlsProxySessionProbe::routeTo(server, connection, sessionId));
        QCOMPARE(server->activeRequestCount(sessionId), 1);

        player.disconnectFromHost();
        QTRY_VERIFY(HlsProxySessionProbe::connections(server).isEmpty());
        QCOMPARE(server->activeRequestCount(sessionId), 0);
        server->unregisterSession(sessionId, QStringLiteral("test_end"));
    }

    // The teardown of an unregistered session ends its connections and no one else's.
    void teardownCancelsTheSessionsConnections()
    {
        const QString stopped = QStringLiteral("stopped-session");
        const QString kept = QStringLiteral("kept-session");
        server->registerSession(stopped, sessionFor(QStringLiteral("lecture-1")));
        server->registerSession(kept, sessionFor(QStringLiteral("lecture-2")));
        QTRY_VERIFY(HlsProxySessionProbe::connections(server).isEmpty());

        QTcpSocket stoppedPlayer;
        stoppedPlayer.connectToHost(QHostAddress(QHostAddress::LocalHost), server->port());
        QVERIFY(stoppedPlayer.waitForConnected(10000));
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 1);
        QVERIFY(HlsProxySessionProbe::routeTo(server, HlsProxySessionProbe::connections(server).constFirst(),
                                              stopped));

        QTcpSocket keptPlayer;
        keptPlayer.connectToHost(QHostAddress(QHostAddress::LocalHost), server->port());
        QVERIFY(keptPlayer.waitForConnected(10000));
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 2);
        for (HlsProxySession *connection : HlsProxySessionProbe::connections(server)) {
            if (connection->sessionId().isEmpty())
                QVERIFY(HlsProxySessionProbe::routeTo(server, connection, kept));
        }
        QCOMPARE(server->activeRequestCount(kept), 1);

        // Received on this thread, where the signal arrives queued.
        QStringList stoppedIds;
        const QObject receiver;
        connect(server, &HlsProxyServer::sessionStopped, &receiver,
                [&stoppedIds](const QString &id) { stoppedIds.append(id); });
        server->unregisterSession(stopped, QStringLiteral("stream_replaced"));
        QTRY_COMPARE(stoppedIds, QStringList({stopped}));

        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 1);
        QCOMPARE(HlsProxySessionProbe::connections(server).constFirst()->sessionId(), kept);
        QTRY_COMPARE(stoppedPlayer.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(keptPlayer.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(server->activeRequestCount(kept), 1);

        keptPlayer.disconnectFromHost();
        QTRY_VERIFY(HlsProxySessionProbe::connections(server).isEmpty());
        server->unregisterSession(kept, QStringLiteral("test_end"));
    }

    // The fixture the proxy's tests attach streams with registers exactly what playback control
    // will: fresh random secrets, the vault's master IV and one sign-in snapshot in both records.
    void playbackSessionFixture()
    {
        const QString playlistUrl = QStringLiteral("https://media.example/lectures/7/master.m3u8");
        MediaAuthSnapshot authentication;
        authentication.authorization = "Bearer fixture-access";
        authentication.acceptLanguage = "ar-EG";
        authentication.generation = 5;
        const ProxyTestSession session(server, playlistUrl, QStringLiteral("lecture-7"), 3, authentication);
        const ProxyTestSession other(server, playlistUrl, QStringLiteral("lecture-7"), 3, authentication);
        QVERIFY(session.isRegistered());
        QVERIFY(other.isRegistered());
        QVERIFY(CryptoManager::instance()->hasSecureVault());

        const QString sessionId = session.sessionId();
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{43}$")).match(sessionId).hasMatch(),
                 qPrintable(sessionId));
        const auto decodedId = QByteArray::fromBase64Encoding(
            sessionId.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(decodedId);
        QCOMPARE(decodedId.decoded.size(), 32);
        QVERIFY(other.sessionId() != sessionId);

        SessionInfo stored;
        QVERIFY(server->getSession(sessionId, stored));
        QCOMPARE(stored.lectureId, QStringLiteral("lecture-7"));
        QCOMPARE(stored.playbackKey.size(), 16);
        QCOMPARE(stored.playbackIv.size(), 16);
        QVERIFY(stored.playbackKey != stored.playbackIv);
        QVERIFY(stored.playbackKey != other.info().playbackKey);
        QCOMPARE(stored.masterIv,
                 CryptoManager::instance()->getOrCreateMasterIv(QStringLiteral("lecture-7")));
        QVERIFY(stored.masterIv != QByteArray(16, '\0'));
        QCOMPARE(stored.authorization, authentication.authorization);
        QCOMPARE(stored.acceptLanguage, authentication.acceptLanguage);
        QCOMPARE(stored.generation, 3u);
        QCOMPARE(stored.authGeneration, 5u);
        QVERIFY(stored.registeredAtMs > 0);
        SessionInfo handedOver = session.info();
        handedOver.registeredAtMs = stored.registeredAtMs;
        QCOMPARE(stored, handedOver);

        TokenInfo playlist;
        QCOMPARE(server->resolveToken(session.playlistToken(), playlist),
                 HlsTokenRegistry::Resolution::Resolved);
        TokenInfo expected;
        expected.url = playlistUrl;
        expected.lectureId = QStringLiteral("lecture-7");
        expected.sessionId = sessionId;
        expected.generation = 3;
        expected.authorization = authentication.authorization;
        expected.acceptLanguage = authentication.acceptLanguage;
        QCOMPARE(playlist, expected);
        QCOMPARE(playlist.startMs, -1);

        const QUrl loopback = session.loopbackUrl();
        QCOMPARE(loopback.toString(QUrl::FullyEncoded),
                 QStringLiteral("http://127.0.0.1:%1/playlist.m3u8?token=%2&session=%3&generation=3")
                     .arg(server->port())
                     .arg(session.playlistToken(), sessionId));
        const QUrlQuery query(loopback);
        QCOMPARE(query.queryItemValue(QStringLiteral("token")), session.playlistToken());
        QCOMPARE(query.queryItemValue(QStringLiteral("session")), sessionId);
        QTcpSocket player;
        player.connectToHost(QHostAddress(loopback.host()), quint16(loopback.port()));
        QVERIFY(player.waitForConnected(10000));
    }

    void playbackSessionFixtureUnregistersWhenItGoes()
    {
        QString sessionId;
        {
            const ProxyTestSession session(server, QStringLiteral("https://media.example/v/master.m3u8"));
            QVERIFY(session.isRegistered());
            sessionId = session.sessionId();
            QCOMPARE(server->sessionState(sessionId), HlsProxyServer::SessionState::Active);
        }
        const HlsProxyServer::SessionState state = server->sessionState(sessionId);
        QVERIFY(state == HlsProxyServer::SessionState::Retiring ||
                state == HlsProxyServer::SessionState::Retired);
    }
};

QTEST_GUILESS_MAIN(tst_HlsProxyServer)
#include "tst_HlsProxyServer.moc"
