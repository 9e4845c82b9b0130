#include "hlsproxy/HlsProxyServer.h"

#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxySession.h"
#include "hlsproxy/HlsProxyThread.h"
#include "media/ResourceCache.h"

#include <QDateTime>
#include <QDebug>
#include <QMetaType>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace {

const QString kCategory = QStringLiteral("hls");

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

double clampedPlaybackRate(double rate)
{
    // Written so that NaN, which fails every comparison, ends at the lower bound.
    if (rate > 4.0)
        return 4.0;
    if (rate > 0.25)
        return rate;
    return 0.25;
}

} // namespace

HlsProxyServer *HlsProxyServer::instance()
{
    // Connections hold leases on the process-wide cache until they are destroyed, which for the
    // last ones is when the holder goes at exit. Statics are destroyed in the reverse order of
    // their construction, so the cache is made first and outlives every connection.
    (void)ResourceCache::instance();
    // Thread-safe initialisation: concurrent first callers wait for the one construction.
    static HlsProxyThread holder;
    return holder.server();
}

HlsProxyServer::HlsProxyServer(QObject *parent)
    : QTcpServer(parent)
{
    qRegisterMetaType<ProxyFailureRecord>("ProxyFailureRecord");
    qRegisterMetaType<ProxyResourceType>("ProxyResourceType");
}

HlsProxyServer::~HlsProxyServer()
{
    QList<QNetworkReply *> prefetches;
    {
        const QMutexLocker locker(&m_mutex);
        for (const QSet<QNetworkReply *> &replies : std::as_const(m_prefetchReplies))
            prefetches += replies.values();
    }
    abortReplies(prefetches);

    // Prefetch workers encrypt and write on the global pool. After main returned the pool may
    // already be gone, and with it every job.
    if (QThreadPool *pool = QThreadPool::globalInstance())
        pool->waitForDone();

    // Connections return their request permits when they are destroyed. Qt would delete them
    // only after the tables below are gone, so they go now, while the tables still stand.
    qDeleteAll(connections());
}

void HlsProxyServer::startListening()
{
    m_network = new QNetworkAccessManager(this);
    if (!listen(QHostAddress::LocalHost, 0)) {
        qCritical() << "HlsProxyServer failed to listen:" << errorString();
        return;
    }
    m_port.store(serverPort(), std::memory_order_release);
    qDebug() << "HlsProxyServer listening on port" << serverPort() << "thread"
             << QThread::currentThread()->objectName();
}

void HlsProxyServer::incomingConnection(qintptr socketDescriptor)
{
    new HlsProxySession(socketDescriptor, this); // owned by the server; deletes itself when done
}

void HlsProxyServer::registerSession(const QString &sessionId, const SessionInfo &info)
{
    const QMutexLocker locker(&m_mutex);
    SessionInfo stored = info;
    stored.registeredAtMs = nowMs();
    m_sessions.insert(sessionId, stored);
    m_retiringSessions.remove(sessionId);
    m_retiredSessions.remove(sessionId);
    m_activeRequests.insert(sessionId, 0);
    m_tokenRegistry.activateSession(sessionId);
    DiagnosticLogger::log(kCategory, QStringLiteral("info"), QStringLiteral("session_started"),
                          {{QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(sessionId)},
                           {QStringLiteral("lecture_fp"), DiagnosticLogger::fingerprint(info.lectureId)}});
}

void HlsProxyServer::unregisterSession(const QString &sessionId, const QString &reason)
{
    if (sessionId.isEmpty())
        return;

    qint64 lifetimeMs = 0;
    {
        const QMutexLocker locker(&m_mutex);
        const auto found = m_sessions.constFind(sessionId);
        if (found == m_sessions.constEnd())
            return;
        const qint64 registeredAtMs = found->registeredAtMs;
        m_sessions.erase(found);
        if (registeredAtMs >= 1)
            lifetimeMs = nowMs() - registeredAtMs;

        m_retiringSessions.insert(sessionId);
        m_sourceKeys.remove(sessionId);
        m_resources.remove(sessionId);
        m_playing.remove(sessionId);
        m_playbackRates.remove(sessionId);
        m_publishedPrefetchCount.remove(sessionId);
        m_measuredThroughput.remove(sessionId);
        m_mediaBitrate.remove(sessionId);
        m_recentStall.remove(sessionId);
        m_activeRequests.remove(sessionId);
    }
    // The registry's lock is never taken inside ours on this path.
    m_tokenRegistry.retireSession(sessionId);

    DiagnosticLogger::log(kCategory, QStringLiteral("info"), QStringLiteral("session_stopped"),
                          {{QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(sessionId)},
                           {QStringLiteral("reason"), reason},
                           {QStringLiteral("lifetime_ms"), lifetimeMs}});

    // Connections and prefetch replies live on the proxy thread; only there may they be stopped.
    QMetaObject::invokeMethod(
        this, [this, sessionId] { tearDownSession(sessionId); }, Qt::QueuedConnection);
}

void HlsProxyServer::tearDownSession(const QString &sessionId)
{
    QList<QNetworkReply *> prefetches;
    {
        const QMutexLocker locker(&m_mutex);
        prefetches = m_prefetchReplies.take(sessionId).values();
    }
    abortReplies(prefetches);

    for (HlsProxySession *connection : connections()) {
        if (connection->sessionId() == sessionId)
            connection->cancel();
    }

    {
        const QMutexLocker locker(&m_mutex);
        m_retiringSessions.remove(sessionId);
        m_retiredSessions.insert(sessionId);
        // No age is kept: which surplus id is forgotten does not matter.
        while (m_retiredSessions.size() > RetiredSessionLimit)
            m_retiredSessions.erase(m_retiredSessions.begin());
    }
    Q_EMIT sessionStopped(sessionId);
}

bool HlsProxyServer::getSession(const QString &sessionId, SessionInfo &out) const
{
    const QMutexLocker locker(&m_mutex);
    const auto found = m_sessions.constFind(sessionId);
    if (found == m_sessions.constEnd())
        return false;
    out = *found;
    return true;
}

HlsProxyServer::SessionState HlsProxyServer::sessionState(const QString &sessionId) const
{
    const QMutexLocker locker(&m_mutex);
    if (m_sessions.contains(sessionId))
        return SessionState::Active;
    if (m_retiringSessions.contains(sessionId))
        return SessionState::Retiring;
    if (m_retiredSessions.contains(sessionId))
        return SessionState::Retired;
    return SessionState::Unknown;
}

QString HlsProxyServer::registerToken(const TokenInfo &info)
{
    return m_tokenRegistry.registerResource(info);
}

HlsTokenRegistry::Resolution HlsProxyServer::resolveToken(const QString &token, TokenInfo &out) const
{
    return m_tokenRegistry.resolve(token, &out);
}

bool HlsProxyServer::sourceKey(const QString &sessionId, const QString &keyUrl, QByteArray &out) const
{
    const QMutexLocker locker(&m_mutex);
    const auto keys = m_sourceKeys.constFind(sessionId);
    if (keys == m_sourceKeys.constEnd())
        return false;
    const auto key = keys->constFind(keyUrl);
    if (key == keys->constEnd())
        return false;
    out = *key;
    return out.size() == SourceKeyLength;
}

void HlsProxyServer::storeSourceKey(const QString &sessionId, const QString &keyUrl, const QByteArray &key)
{
    if (key.size() != SourceKeyLength)
        return;
    const QMutexLocker locker(&m_mutex);
    if (m_sessions.contains(sessionId))
        m_sourceKeys[sessionId].insert(keyUrl, key);
}

bool HlsProxyServer::isPrefetching(const QString &url) const
{
    // Nothing prefetches yet.
    Q_UNUSED(url)
    return false;
}

void HlsProxyServer::prefetchFollowing(const TokenInfo &token, bool fromPrefetch)
{
    // Nothing prefetches yet.
    Q_UNUSED(token)
    Q_UNUSED(fromPrefetch)
}

bool HlsProxyServer::acquireRequest(const QString &sessionId)
{
    const QMutexLocker locker(&m_mutex);
    if (!m_sessions.contains(sessionId))
        return false;
    int &count = m_activeRequests[sessionId];
    if (count >= MaximumRequestsPerSession)
        return false;
    ++count;
    return true;
}

void HlsProxyServer::releaseRequest(const QString &sessionId)
{
    const QMutexLocker locker(&m_mutex);
    const auto count = m_activeRequests.find(sessionId);
    if (count != m_activeRequests.end() && *count > 0)
        --*count;
}

int HlsProxyServer::activeRequestCount(const QString &sessionId) const
{
    const QMutexLocker locker(&m_mutex);
    return m_activeRequests.value(sessionId, 0);
}

void HlsProxyServer::updatePlaybackState(const QString &sessionId, bool active, double playbackRate,
                                         bool recentStall)
{
    QList<QNetworkReply *> prefetches;
    {
        const QMutexLocker locker(&m_mutex);
        if (!m_sessions.contains(sessionId))
            return;
        m_playing.insert(sessionId, active);
        m_playbackRates.insert(sessionId, clampedPlaybackRate(playbackRate));
        m_recentStall.insert(sessionId, recentStall);
        if (active)
            return;
        // The set stays: each reply's own finished handling removes it.
        prefetches = m_prefetchReplies.value(sessionId).values();
    }
    abortReplies(prefetches);
}

void HlsProxyServer::updatePlaybackState(const QString &sessionId, bool active, double playbackRate)
{
    updatePlaybackState(sessionId, active, playbackRate, false);
}

void HlsProxyServer::clearConnectionCache()
{
    if (!m_network)
        return;
    m_network->clearConnectionCache();
    DiagnosticLogger::log(kCategory, QStringLiteral("info"), QStringLiteral("connection_cache_cleared"));
}

void HlsProxyServer::updateAuthenticationSnapshot(const MediaAuthSnapshot &snapshot)
{
    const QMutexLocker locker(&m_mutex);
    for (SessionInfo &session : m_sessions) {
        if (session.authGeneration > snapshot.generation)
            continue;
        session.authorization = snapshot.authorization;
        session.acceptLanguage = snapshot.acceptLanguage;
        session.authGeneration = snapshot.generation;
    }
}

void HlsProxyServer::rememberResource(const TokenInfo &info)
{
    // Leaves out playlist tokens and initialisation sections.
    if (info.sessionId.isEmpty() || info.renditionId.isEmpty() || info.durationMs < 1)
        return;
    const QMutexLocker locker(&m_mutex);
    if (m_sessions.contains(info.sessionId))
        m_resources[info.sessionId][info.renditionId].insert(info.sequence, info);
}

void HlsProxyServer::prioritizeDemand(const TokenInfo &token)
{
    // Nothing is prefetched yet, so no prefetch has to give way.
    Q_UNUSED(token)
}

void HlsProxyServer::recordRejected(const QString &reason, const QString &sampleFingerprint,
                                    const QString &resourceType)
{
    // Unknown tokens of one resource type share one window whatever their sample.
    QString key = reason + QLatin1Char('|') + resourceType;
    if (reason != QLatin1String("unknown_token"))
        key += QLatin1Char('|') + sampleFingerprint;

    {
        const QMutexLocker locker(&m_mutex);
        const auto open = m_rejectedRequests.find(key);
        if (open != m_rejectedRequests.end()) {
            ++open->suppressed;
            return;
        }
        m_rejectedRequests.insert(key, {0, sampleFingerprint, reason, resourceType});
    }
    DiagnosticLogger::log(kCategory, QStringLiteral("warning"), QStringLiteral("request_rejected"),
                          {{QStringLiteral("reason"), reason},
                           {QStringLiteral("resource_type"), resourceType},
                           {QStringLiteral("sample_fp"), sampleFingerprint}});
    // The window's timer belongs to the proxy thread, whichever thread reports.
    QMetaObject::invokeMethod(
        this, [this, key] { startRejectionWindow(key); }, Qt::AutoConnection);
}

void HlsProxyServer::startRejectionWindow(const QString &key)
{
    QTimer::singleShot(RejectionWindowMs, Qt::PreciseTimer, this, [this, key] { closeRejectionWindow(key); });
}

void HlsProxyServer::closeRejectionWindow(const QString &key)
{
    RejectedRequestEntry entry;
    {
        const QMutexLocker locker(&m_mutex);
        entry = m_rejectedRequests.take(key);
    }
    if (entry.suppressed <= 0)
        return;
    DiagnosticLogger::log(kCategory, QStringLiteral("warning"), QStringLiteral("request_rejected_summary"),
                          {{QStringLiteral("reason"), entry.reason},
                           {QStringLiteral("resource_type"), entry.resourceType},
                           {QStringLiteral("sample_fp"), entry.sampleFp},
                           {QStringLiteral("suppressed"), static_cast<quint64>(entry.suppressed)}});
}

int HlsProxyServer::openRejectionWindowCount() const
{
    const QMutexLocker locker(&m_mutex);
    return int(m_rejectedRequests.size());
}

HlsProxyServer::PlaybackState HlsProxyServer::playbackState(const QString &sessionId) const
{
    const QMutexLocker locker(&m_mutex);
    PlaybackState state;
    if (const auto playing = m_playing.constFind(sessionId); playing != m_playing.constEnd())
        state.playing = *playing;
    if (const auto rate = m_playbackRates.constFind(sessionId); rate != m_playbackRates.constEnd())
        state.playbackRate = *rate;
    if (const auto stall = m_recentStall.constFind(sessionId); stall != m_recentStall.constEnd())
        state.recentStall = *stall;
    return state;
}

QMap<quint64, TokenInfo> HlsProxyServer::rememberedResources(const QString &sessionId,
                                                             const QString &renditionId) const
{
    const QMutexLocker locker(&m_mutex);
    return m_resources.value(sessionId).value(renditionId);
}

QList<HlsProxySession *> HlsProxyServer::connections() const
{
    return findChildren<HlsProxySession *>(Qt::FindDirectChildrenOnly);
}

void HlsProxyServer::abortReplies(const QList<QNetworkReply *> &replies)
{
    // Each abort runs that reply's finished handling at once, so a later reply in the list may
    // already be gone when its turn comes.
    QList<QPointer<QNetworkReply>> guarded;
    guarded.reserve(replies.size());
    for (QNetworkReply *reply : replies)
        guarded.append(reply);
    for (const QPointer<QNetworkReply> &reply : std::as_const(guarded)) {
        if (reply)
            reply->abort();
    }
}
