#include "hlsproxy/HlsProxyServer.h"

#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxySession.h"
#include "hlsproxy/HlsProxyThread.h"
#include "hlsproxy/PrefetchAllowance.h"
#include "hlsproxy/PrefetchTransfer.h"
#include "hlsproxy/PrefetchWorker.h"
#include "media/CryptoManager.h"
#include "media/HlsPrefetchPolicy.h"
#include "media/MediaNetworkPolicy.h"
#include "media/MediaTransferCoordinator.h"
#include "media/ResourceCache.h"
#include "net/MediaFetch.h"

#include <QDateTime>
#include <QDebug>
#include <QMetaType>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>

using quorin::MediaFetch;
using quorin::PrefetchOutcome;
using quorin::PrefetchTransfer;
using quorin::PrefetchWorker;

namespace {

const QString kCategory = QStringLiteral("hls");
// How far ahead of the delivered segment prefetch counts at all, at rate 1.
constexpr double PrefetchHorizonMs = 180000.0;

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
    QList<MediaFetch *> prefetches;
    {
        const QMutexLocker locker(&m_mutex);
        for (const QHash<MediaFetch *, QString> &replies : std::as_const(m_prefetchReplies))
            prefetches += replies.keys();
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
    QList<MediaFetch *> prefetches;
    {
        const QMutexLocker locker(&m_mutex);
        prefetches = m_prefetchReplies.take(sessionId).keys();
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
    QList<MediaFetch *> prefetches;
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
        prefetches = m_prefetchReplies.value(sessionId).keys();
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
    QList<MediaFetch *> others;
    {
        const QMutexLocker locker(&m_mutex);
        const QHash<MediaFetch *, QString> replies = m_prefetchReplies.value(token.sessionId);
        for (auto reply = replies.cbegin(); reply != replies.cend(); ++reply) {
            if (reply.value() != token.url)
                others.append(reply.key());
        }
    }
    // Each abort takes the lock again in the reply's finished handling.
    abortReplies(others);
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

void HlsProxyServer::abortReplies(const QList<MediaFetch *> &replies)
{
    // Each abort runs that reply's finished handling at once, so a later reply in the list may
    // already be gone when its turn comes.
    QList<QPointer<MediaFetch>> guarded;
    guarded.reserve(replies.size());
    for (MediaFetch *reply : replies)
        guarded.append(reply);
    for (const QPointer<MediaFetch> &reply : std::as_const(guarded)) {
        if (reply)
            reply->abort();
    }
}

// Prefetch

QString HlsProxyServer::renditionKey(const QString &sessionId, const QString &renditionId)
{
    return sessionId + QLatin1Char('|') + renditionId;
}

void HlsProxyServer::setPrefetchSeams(const PrefetchSeams &seams)
{
    const QMutexLocker locker(&m_mutex);
    m_prefetchSeams = seams;
}

HlsProxyServer::PrefetchSeams HlsProxyServer::prefetchSeams() const
{
    const QMutexLocker locker(&m_mutex);
    return m_prefetchSeams;
}

qint64 HlsProxyServer::prefetchNowMs() const
{
    const PrefetchSeams seams = prefetchSeams();
    return seams.nowMs ? seams.nowMs() : nowMs();
}

HlsProxyServer::PrefetchStatus
HlsProxyServer::prefetchStatus(const QString &sessionId, const QString &renditionId, const QString &url) const
{
    const QString key = renditionKey(sessionId, renditionId);
    const QMutexLocker locker(&m_mutex);
    PrefetchStatus status;
    if (const auto found = m_prefetchAllowance.constFind(key); found != m_prefetchAllowance.constEnd())
        status.allowance = *found;
    if (const auto found = m_prefetchExtraAllowance.constFind(key);
        found != m_prefetchExtraAllowance.constEnd())
        status.extraAllowance = *found;
    status.boosted = m_boostedRenditions.contains(key);
    status.publishedCount = m_publishedPrefetchCount.value(sessionId, 0);
    status.failures = m_prefetchFailures.value(url, 0);
    if (const auto found = m_prefetchRetryAtMs.constFind(url); found != m_prefetchRetryAtMs.constEnd())
        status.retryAtMs = *found;
    status.prefetching = m_prefetchingUrls.contains(url);
    return status;
}

bool HlsProxyServer::isPrefetching(const QString &url) const
{
    const QMutexLocker locker(&m_mutex);
    return m_prefetchingUrls.contains(url);
}

void HlsProxyServer::finishPrefetch(const QString &url)
{
    const QMutexLocker locker(&m_mutex);
    m_prefetchingUrls.remove(url);
}

void HlsProxyServer::prefetchFollowing(const TokenInfo &token, bool continuation)
{
    // processChunk hands plaintext back while the vault is not ready: nothing could be stored.
    if (!CryptoManager::instance()->hasSecureVault())
        return;
    std::optional<PrefetchTransfer> candidate = findPrefetchCandidate(token, continuation);
    if (!candidate)
        return;
    MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
    // Refused while the player fetches or buffers, or another prefetch runs: the next trigger asks again.
    if (!coordinator->tryAcquire(MediaTransferCoordinator::Priority::Prefetch))
        return;
    if (!claimPrefetch(candidate->token.url)) {
        coordinator->release(MediaTransferCoordinator::Priority::Prefetch);
        return;
    }
    startPrefetchRequest(std::make_shared<PrefetchTransfer>(std::move(*candidate)));
}

std::optional<PrefetchTransfer> HlsProxyServer::findPrefetchCandidate(const TokenInfo &token,
                                                                      bool continuation)
{
    const QString key = renditionKey(token.sessionId, token.renditionId);
    const qint64 now = prefetchNowMs();
    const QMutexLocker locker(&m_mutex);
    if (!m_playing.value(token.sessionId, false))
        return std::nullopt;
    const auto renditions = m_resources.constFind(token.sessionId);
    if (renditions == m_resources.constEnd() || !renditions->contains(token.renditionId))
        return std::nullopt;
    const auto session = m_sessions.constFind(token.sessionId);
    if (session == m_sessions.constEnd())
        return std::nullopt;

    if (continuation) {
        if (!m_boostedRenditions.contains(key))
            releaseExtraAllowanceLocked(token.sessionId, key);
    } else {
        recountAllowanceLocked(token, key);
    }
    if (m_prefetchAllowance.value(key, 0) < 1)
        return std::nullopt;

    // Only a gap in the sequence ends the search; cached segments cost nothing.
    const QMap<quint64, TokenInfo> &segments = renditions->value(token.renditionId);
    for (quint64 sequence = token.sequence + 1;; ++sequence) {
        const auto segment = segments.constFind(sequence);
        if (segment == segments.constEnd() || sequence == 0)
            return std::nullopt;
        if (skipsCandidateLocked(*segment, now))
            continue;
        PrefetchTransfer transfer;
        transfer.token = *segment;
        transfer.token.authorization = session->authorization;
        transfer.token.acceptLanguage = session->acceptLanguage;
        transfer.renditionKey = key;
        transfer.cacheKey = ResourceCache::vaultKey(segment->lectureId, segment->url);
        if (!segment->keyUrl.isEmpty()) {
            const QByteArray sourceKey = m_sourceKeys.value(token.sessionId).value(segment->keyUrl);
            // A private copy, so that wiping it leaves the table's alone.
            transfer.sourceKey = QByteArray(sourceKey.constData(), sourceKey.size());
        }
        return transfer;
    }
}

void HlsProxyServer::recountAllowanceLocked(const TokenInfo &token, const QString &key)
{
    const double rate = m_playbackRates.value(token.sessionId, 1.0);
    const HlsPrefetchPolicy::Budget budget = HlsPrefetchPolicy::budget(
        rate, m_publishedPrefetchCount.value(token.sessionId, 0), m_recentStall.value(token.sessionId, true),
        m_measuredThroughput.value(token.sessionId, 0), m_mediaBitrate.value(token.sessionId, 0),
        ResourceCache::instance()->canAcceptTemporary(0));
    const qint64 horizonMs = qRound64(PrefetchHorizonMs * rate);
    const quorin::PrefetchAllowance counted =
        quorin::PrefetchAllowance::count(m_resources.value(token.sessionId).value(token.renditionId),
                                         token.sequence, budget.normalHeadroomMs, horizonMs);
    m_prefetchAllowance.insert(key, counted.allowance);
    m_prefetchExtraAllowance.insert(key, counted.extraAllowance);
    m_boostedRenditions.remove(key);
}

void HlsProxyServer::releaseExtraAllowanceLocked(const QString &sessionId, const QString &key)
{
    const HlsPrefetchPolicy::Budget budget = HlsPrefetchPolicy::budget(
        m_playbackRates.value(sessionId, 1.0), m_publishedPrefetchCount.value(sessionId, 0),
        m_recentStall.value(sessionId, true), m_measuredThroughput.value(sessionId, 0),
        m_mediaBitrate.value(sessionId, 0), ResourceCache::instance()->canAcceptTemporary(0));
    if (!budget.boosted)
        return;
    m_prefetchAllowance[key] += m_prefetchExtraAllowance.take(key);
    m_boostedRenditions.insert(key);
}

bool HlsProxyServer::skipsCandidateLocked(const TokenInfo &segment, qint64 now) const
{
    if (!segment.byteRange.isEmpty() || m_prefetchingUrls.contains(segment.url))
        return true;
    if (now < m_prefetchRetryAtMs.value(segment.url, 0))
        return true;
    if (!segment.keyUrl.isEmpty() &&
        m_sourceKeys.value(segment.sessionId).value(segment.keyUrl).size() != SourceKeyLength)
        return true;
    return ResourceCache::instance()->exists(ResourceCache::vaultKey(segment.lectureId, segment.url));
}

bool HlsProxyServer::claimPrefetch(const QString &url)
{
    const QMutexLocker locker(&m_mutex);
    if (m_prefetchingUrls.contains(url))
        return false;
    m_prefetchingUrls.insert(url);
    return true;
}

void HlsProxyServer::startPrefetchRequest(const std::shared_ptr<PrefetchTransfer> &transfer)
{
    const TokenInfo &token = transfer->token;
    if (!m_network) {
        failPrefetch(token);
        return;
    }
    QNetworkRequest request{QUrl(token.url)};
    MediaNetworkPolicy::apply(request, MediaResourceKind::Segment,
                              {token.authorization, token.acceptLanguage, 0});
    transfer->lease = std::make_shared<ResourceCache::TemporaryLease>(
        ResourceCache::instance()->leaseTemporary(transfer->cacheKey));
    transfer->startedAtMs = prefetchNowMs();

    auto *fetch = new MediaFetch(m_network, request, this);
    fetch->setRedirectRule(&MediaNetworkPolicy::allowRedirect);
    fetch->setReadBufferSize(PrefetchReadBufferBytes);
    {
        const QMutexLocker locker(&m_mutex);
        m_prefetchReplies[token.sessionId].insert(fetch, token.url);
    }
    connect(fetch, &MediaFetch::readyRead, this,
            [this, fetch, transfer] { readPrefetchBody(fetch, *transfer); });
    connect(fetch, &MediaFetch::finished, this,
            [this, fetch, transfer] { onPrefetchFinished(fetch, transfer); });
    fetch->start();
}

void HlsProxyServer::readPrefetchBody(MediaFetch *fetch, PrefetchTransfer &transfer)
{
    // Read as it arrives: a body larger than the read buffer would otherwise stall the reply until
    // its transfer time-out.
    if (transfer.oversized || fetch->isFinished())
        return;
    const QByteArray bytes = fetch->readAll();
    if (transfer.body.size() + bytes.size() > MaximumPrefetchBytes) {
        transfer.oversized = true;
        PrefetchWorker::wipe(transfer.body);
        transfer.body.clear();
        fetch->abort();
        return;
    }
    transfer.body += bytes;
}

void HlsProxyServer::onPrefetchFinished(MediaFetch *fetch, const std::shared_ptr<PrefetchTransfer> &transfer)
{
    {
        const QMutexLocker locker(&m_mutex);
        const auto replies = m_prefetchReplies.find(transfer->token.sessionId);
        if (replies != m_prefetchReplies.end()) {
            replies->remove(fetch);
            if (replies->isEmpty())
                m_prefetchReplies.erase(replies);
        }
    }
    const int status = fetch->httpStatus();
    const bool answered = fetch->ending() == MediaFetch::Ending::Completed && status >= 200 && status <= 299;
    if (answered && !transfer->oversized) {
        transfer->body += fetch->readAll();
        transfer->oversized = transfer->body.size() > MaximumPrefetchBytes;
    }
    fetch->deleteLater();
    if (!answered || transfer->oversized || transfer->body.isEmpty()) {
        PrefetchWorker::wipe(transfer->body);
        transfer->body.clear();
        failPrefetch(transfer->token);
        return;
    }
    transfer->elapsedMs = std::max<qint64>(prefetchNowMs() - transfer->startedAtMs, 1);
    startPrefetchWorker(transfer);
}

void HlsProxyServer::failPrefetch(const TokenInfo &token)
{
    MediaTransferCoordinator::instance()->release(MediaTransferCoordinator::Priority::Prefetch);
    const qint64 now = prefetchNowMs();
    int cooldownMs = 0;
    {
        const QMutexLocker locker(&m_mutex);
        m_prefetchingUrls.remove(token.url);
        const int failures = std::min(m_prefetchFailures.value(token.url, 0) + 1, MaximumPrefetchFailures);
        m_prefetchFailures.insert(token.url, failures);
        cooldownMs = HlsPrefetchPolicy::retryCooldownMs(failures);
        m_prefetchRetryAtMs.insert(token.url, now + cooldownMs);
    }
    // The retry searches from the segment after the failed one; the failed one waits for a recount.
    auto retry = [this, token] { prefetchFollowing(token, true); };
    const PrefetchSeams seams = prefetchSeams();
    if (seams.startRetryTimer)
        seams.startRetryTimer(cooldownMs, retry);
    else
        QTimer::singleShot(cooldownMs, this, retry);
}

void HlsProxyServer::startPrefetchWorker(const std::shared_ptr<PrefetchTransfer> &transfer)
{
    // The permit stays held and the URL claimed until the worker is done.
    const std::function<void(const TokenInfo &)> beforeStore = prefetchSeams().beforeStore;
    QThreadPool::globalInstance()->start([server = QPointer<HlsProxyServer>(this), transfer, beforeStore] {
        if (beforeStore)
            beforeStore(transfer->token);
        PrefetchOutcome outcome{transfer->token, transfer->renditionKey, false, transfer->elapsedMs,
                                transfer->body.size()};
        const QString sessionId = transfer->token.sessionId;
        outcome.published = PrefetchWorker::store(*transfer, [&server, &sessionId] {
            return server && server->sessionState(sessionId) == SessionState::Active;
        });
        MediaTransferCoordinator::instance()->release(MediaTransferCoordinator::Priority::Prefetch);
        // The server waits for the pool before it goes, so it cannot vanish under this call.
        if (HlsProxyServer *alive = server.data()) {
            QMetaObject::invokeMethod(
                alive,
                [server, outcome] {
                    if (server)
                        server->completePrefetch(outcome);
                },
                Qt::QueuedConnection);
        }
    });
}

void HlsProxyServer::completePrefetch(const PrefetchOutcome &outcome)
{
    const TokenInfo &token = outcome.token;
    const QString resourceFp = DiagnosticLogger::fingerprint(token.url);
    if (!outcome.published) {
        finishPrefetch(token.url);
        DiagnosticLogger::log(
            kCategory, QStringLiteral("warning"), QStringLiteral("prefetch_complete"),
            {{QStringLiteral("resource_fp"), resourceFp}, {QStringLiteral("published"), false}}, true);
        return;
    }
    {
        const QMutexLocker locker(&m_mutex);
        m_prefetchingUrls.remove(token.url);
        m_prefetchFailures.remove(token.url);
        m_prefetchRetryAtMs.remove(token.url);
        int &count = m_publishedPrefetchCount[token.sessionId];
        count = std::min(count + 1, MaximumPublishedPrefetchCount);
        m_measuredThroughput.insert(token.sessionId,
                                    outcome.bytes * 8000 / std::max<qint64>(outcome.elapsedMs, 1));
        m_mediaBitrate.insert(token.sessionId, outcome.bytes * 8000 / std::max<qint64>(token.durationMs, 1));
        int &allowance = m_prefetchAllowance[outcome.renditionKey];
        allowance = std::max(allowance - 1, 0);
    }
    Q_EMIT segmentDelivered(token.sessionId, token.renditionId, token.startMs,
                            token.startMs + token.durationMs);
    prefetchFollowing(token, true);
    DiagnosticLogger::log(kCategory, QStringLiteral("info"), QStringLiteral("prefetch_complete"),
                          {{QStringLiteral("resource_fp"), resourceFp}, {QStringLiteral("published"), true}});
}
