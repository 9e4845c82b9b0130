#include "hlsproxy/HlsProxySession.h"

#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/LoopbackUrls.h"
#include "hlsproxy/PlaylistRewriter.h"
#include "hlsproxy/ProxyFailureReport.h"
#include "hlsproxy/ProxyRequestHead.h"
#include "hlsproxy/SegmentTransferRules.h"
#include "media/CryptoManager.h"
#include "media/HlsManifest.h"
#include "media/MediaNetworkPolicy.h"
#include "media/MediaTransferCoordinator.h"
#include "net/MediaFetch.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <QUuid>
#include <unistd.h>
#include <utility>

using quorin::MediaFetch;
using quorin::PlaylistRewriter;
using quorin::ProxyRequestHead;

namespace {

const QString Category = QStringLiteral("hls");
const QByteArray HeadTerminator = QByteArrayLiteral("\r\n\r\n");
const QString NotFound = QStringLiteral("Not Found");
constexpr qsizetype PlaybackKeyBytes = 16; // the session's AES-128 key and IV
constexpr int RetryIntervalMs = 25;
constexpr int PrefetchWaitTurns = 60;
constexpr int PermitRetries = 80;
constexpr qint64 MaximumCachedKeyBytes = 65536;
constexpr qint64 SourceKeyReadBufferBytes = 65536;
constexpr qint64 HighWaterBytes = 4194304;
constexpr qint64 LowWaterBytes = 2097152;
constexpr qint64 TurnBudgetBytes = 262144;
constexpr qint64 PieceBytes = 65536;
constexpr qint64 SegmentReadBufferBytes = 4194304;
const QByteArray SegmentContentType = QByteArrayLiteral("video/MP2T");

} // namespace

HlsProxySession::HlsProxySession(qintptr socketDescriptor, HlsProxyServer *server)
    : QObject(server)
    , m_server(server)
    , m_socket(new QTcpSocket(this))
{
    if (!m_socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                       QIODevice::ReadWrite)) {
        // A refused descriptor stays ours; without closing it every such connection would leak one.
        ::close(static_cast<int>(socketDescriptor));
        deleteLater();
        return;
    }
    // Small answers (key, playlist, error) must leave at once.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (server)
        m_network = server->network();
    connect(m_socket, &QTcpSocket::readyRead, this, &HlsProxySession::onClientReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &HlsProxySession::onClientDisconnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HlsProxySession::onClientBytesWritten);
}

HlsProxySession::~HlsProxySession()
{
    releaseTransferPermit();
    releaseRequestPermit();
    if (m_fetch) {
        m_fetch->disconnect(this);
        m_fetch->abort();
        std::exchange(m_fetch, nullptr)->deleteLater();
    }
    discardCacheStaging();
}

void HlsProxySession::cancel()
{
    stop();
}

QString HlsProxySession::attributeValue(const QString &tagLine, const QString &name)
{
    return HlsManifest::attributeValue(tagLine, name);
}

QByteArray HlsProxySession::sequenceIv(quint64 sequence)
{
    return HlsManifest::sequenceIv(sequence);
}

// Reading and routing

void HlsProxySession::onClientReadyRead()
{
    if (m_closed)
        return;
    const QByteArray bytes = m_socket->readAll();
    // One request per connection: whatever follows the routed head is not read as a request.
    if (m_headHandled)
        return;
    m_requestBuffer += bytes;
    if (m_requestBuffer.size() > MaximumRequestHeadBytes) {
        m_headHandled = true;
        m_requestBuffer.clear();
        sendErrorAndClose(431, QStringLiteral("Request headers too large"));
        return;
    }
    if (!m_requestBuffer.contains(HeadTerminator))
        return;
    m_headHandled = true;
    processRequest(std::exchange(m_requestBuffer, QByteArray()));
}

void HlsProxySession::processRequest(const QByteArray &head)
{
    const ProxyRequestHead request = ProxyRequestHead::parse(head);
    if (!request.hasTarget() || !m_server) {
        m_socket->disconnectFromHost();
        return;
    }
    m_rangeHeader = request.rangeHeader();
    m_rangeStart = request.rangeStart();
    m_rangeLength = request.rangeLength();

    const QString target = request.target();
    if (target.startsWith(QLatin1String("/playlist")))
        routePlaylist(request);
    else if (target.startsWith(QLatin1String("/key.bin")))
        routeKey(request);
    else if (target.startsWith(QLatin1String("/chunk")))
        routeSegment(request);
    else
        sendErrorAndClose(404, NotFound);
}

void HlsProxySession::routePlaylist(const ProxyRequestHead &request)
{
    m_isPlaylist = true;
    startRoute(ProxyResourceType::Playlist, request);
    m_timer.start();

    TokenInfo playlist;
    const bool live =
        m_server->resolveToken(request.token(), playlist) == HlsTokenRegistry::Resolution::Resolved &&
        playlist.sessionId == m_sessionId && playlist.generation == m_generation &&
        m_server->getSession(m_sessionId, m_session);
    if (!live) {
        refuseBySessionState(QStringLiteral("playlist"));
        return;
    }
    m_generation = m_session.generation;
    if (!holdRequestPermit(QStringLiteral("playlist")))
        return;
    m_upstreamUrl = playlist.url;
    if (!MediaNetworkPolicy::validHttpsDestination(QUrl(m_upstreamUrl))) {
        reportLocalFailure(ProxyFailureReason::LocalRefusal, 403);
        sendErrorAndClose(403, QStringLiteral("Invalid media target"));
        return;
    }
    if (!servePlaylistFromCache())
        fetchPlaylist();
}

void HlsProxySession::routeKey(const ProxyRequestHead &request)
{
    startRoute(ProxyResourceType::Key, request);
    if (m_sessionId.isEmpty() || !m_server->getSession(m_sessionId, m_session)) {
        refuseBySessionState(QStringLiteral("key"));
        return;
    }
    // The key is the session's whatever generation the URL names.
    m_generation = m_session.generation;
    if (!holdRequestPermit(QStringLiteral("key")))
        return;
    // Never sent upstream and never cached.
    writeAnswerHead("HTTP/1.1 200 OK", "application/octet-stream", m_session.playbackKey.size());
    m_socket->write(m_session.playbackKey);
    m_headersSent = true;
    m_socket->disconnectFromHost();
}

void HlsProxySession::routeSegment(const ProxyRequestHead &request)
{
    startRoute(ProxyResourceType::Segment, request);
    const QString tokenText = request.token();

    const HlsTokenRegistry::Resolution resolution = m_server->resolveToken(tokenText, m_token);
    if (resolution == HlsTokenRegistry::Resolution::RetiredSession) {
        reject(QStringLiteral("retired_session"),
               DiagnosticLogger::fingerprint(m_token.sessionId.isEmpty() ? tokenText : m_token.sessionId),
               QStringLiteral("segment"), ProxyFailureReason::RetiredSession, 410, QStringLiteral("Gone"));
        return;
    }
    // A playlist's token carries no playback key, and nothing may ever be encrypted with an empty
    // one: here it is as unknown as a token never issued.
    const bool segmentToken =
        m_token.playbackKey.size() == PlaybackKeyBytes && m_token.playbackIv.size() == PlaybackKeyBytes;
    if (resolution != HlsTokenRegistry::Resolution::Resolved || !segmentToken) {
        m_token = TokenInfo();
        reject(QStringLiteral("unknown_token"), DiagnosticLogger::fingerprint(tokenText),
               QStringLiteral("segment"), ProxyFailureReason::UnknownToken, 404, NotFound);
        return;
    }
    // The token alone names the stream, whatever session the query names.
    m_sessionId = m_token.sessionId;
    m_generation = m_token.generation;
    if (!m_server->getSession(m_sessionId, m_session)) {
        reportLocalFailure(ProxyFailureReason::UnknownSession, 404);
        sendErrorAndClose(404, NotFound);
        return;
    }
    // Credentials follow sign-in refreshes; the token's may be older.
    m_token.authorization = m_session.authorization;
    m_token.acceptLanguage = m_session.acceptLanguage;
    m_lease = ResourceCache::instance()->leaseTemporary(cacheKey(m_token.url));
    m_server->prioritizeDemand(m_token);
    Q_EMIT m_server->segmentDemanded(m_sessionId, m_token.renditionId);

    if (!m_token.byteRange.isEmpty()) {
        const QStringList parts = m_token.byteRange.split(u'@');
        const qint64 length = parts.at(0).toLongLong();
        const qint64 offset = parts.size() > 1 ? parts.at(1).toLongLong() : 0;
        qint64 last = 0;
        if (length < 1 || offset < 0 || qAddOverflow(offset, length - 1, &last)) {
            sendErrorAndClose(400, QStringLiteral("Invalid HLS byte range"));
            return;
        }
        m_rangeStart = offset;
        m_rangeLength = length;
        m_rangeHeader =
            QByteArrayLiteral("bytes=") + QByteArray::number(offset) + '-' + QByteArray::number(last);
    } else if (!m_token.keyUrl.isEmpty() || (m_rangeStart == 0 && m_rangeLength < 0)) {
        // A keyed segment decrypts only from its first block with the segment IV, so it is always
        // answered whole. An open range from 0 asks for the whole segment anyway (a player's
        // probe): treated as none, the answer is staged.
        m_rangeHeader.clear();
        m_rangeStart = -1;
        m_rangeLength = -1;
    }
    if (!holdRequestPermit(QStringLiteral("segment")))
        return;
    prepareChunkSourceAfterPrefetch();
}

void HlsProxySession::startRoute(ProxyResourceType resourceType, const ProxyRequestHead &request)
{
    m_resourceType = resourceType;
    m_sessionId = request.sessionId();
    m_generation = request.generation();
}

bool HlsProxySession::holdRequestPermit(const QString &resourceWord)
{
    if (acquireRequestPermit())
        return true;
    reject(QStringLiteral("request_limit"), DiagnosticLogger::fingerprint(m_sessionId), resourceWord,
           ProxyFailureReason::RequestLimit, 429, QStringLiteral("Too many requests"));
    return false;
}

void HlsProxySession::prepareChunkSourceAfterPrefetch()
{
    if (m_closed || !m_server)
        return;
    // A prefetch of this very segment about to finish serves it from the cache; a stuck one holds
    // the request back for a bounded time only.
    if (m_server->isPrefetching(m_token.url) && m_prefetchWaits++ < PrefetchWaitTurns) {
        QTimer::singleShot(RetryIntervalMs, this, &HlsProxySession::prepareChunkSourceAfterPrefetch);
        return;
    }
    prepareChunkSource();
}

void HlsProxySession::refuseBySessionState(const QString &resourceWord)
{
    const QString sample = DiagnosticLogger::fingerprint(m_sessionId);
    switch (m_server->sessionState(m_sessionId)) {
    case HlsProxyServer::SessionState::Retiring:
    case HlsProxyServer::SessionState::Retired:
        reject(QStringLiteral("retired_session"), sample, resourceWord, ProxyFailureReason::RetiredSession,
               410, QStringLiteral("Gone"));
        return;
    case HlsProxyServer::SessionState::Unknown:
    case HlsProxyServer::SessionState::Active:
        break;
    }
    // A live session's stale URL (unknown token, another session's or generation's) lands here.
    reject(QStringLiteral("unknown_session"), sample, resourceWord, ProxyFailureReason::UnknownSession, 404,
           NotFound);
}

void HlsProxySession::reject(const QString &rejectedWord, const QString &sampleFingerprint,
                             const QString &resourceWord, ProxyFailureReason reason, int status,
                             const QString &reasonPhrase)
{
    m_server->recordRejected(rejectedWord, sampleFingerprint, resourceWord);
    reportLocalFailure(reason, status);
    sendErrorAndClose(status, reasonPhrase);
}

bool HlsProxySession::acquireRequestPermit()
{
    // A second request on the same connection must not take a second permit.
    if (m_requestPermitHeld)
        return true;
    if (!m_server || !m_server->acquireRequest(m_sessionId))
        return false;
    m_requestPermitHeld = true;
    return true;
}

void HlsProxySession::releaseRequestPermit()
{
    if (!m_requestPermitHeld)
        return;
    m_requestPermitHeld = false;
    if (m_server)
        m_server->releaseRequest(m_sessionId);
}

// Playlists

bool HlsProxySession::servePlaylistFromCache()
{
    // Without the vault a cached copy cannot be read back: it would be taken for plaintext.
    CryptoManager *vault = CryptoManager::instance();
    if (!vault->hasSecureVault())
        return false;
    ResourceCache *cache = ResourceCache::instance();
    const QString key = cacheKey(m_upstreamUrl);
    if (!cache->exists(key))
        return false;
    m_lease = cache->leaseTemporary(key);
    QFile file(cache->getActivePath(key));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > MaximumPlaylistBytes) {
        sendErrorAndClose(413, QStringLiteral("Playlist too large"));
        return true;
    }
    const QByteArray stored = file.readAll();
    const QByteArray plaintext =
        vault->processChunk(stored, 0, CryptoManager::itemIv(m_session.masterIv, m_upstreamUrl));
    // A short read, or the vault failing the transform: as good as not cached.
    if (stored.size() != file.size() || plaintext.size() != stored.size())
        return false;
    // Only parsed playlists are ever stored, so one that no longer parses is a damaged file (or
    // one another key wrote): it must never reach the player, and the upstream copy replaces it.
    if (!HlsManifest::parse(plaintext, QUrl(m_upstreamUrl)).valid) {
        dropDamagedCopy(m_upstreamUrl);
        return false;
    }
    processPlaylist(plaintext);
    return true;
}

void HlsProxySession::fetchPlaylist()
{
    QNetworkRequest request{QUrl(m_upstreamUrl)};
    MediaNetworkPolicy::apply(request, MediaResourceKind::Playlist,
                              {m_session.authorization, m_session.acceptLanguage, 0});
    startUpstream(request, MaximumPlaylistBytes);
}

void HlsProxySession::readPlaylistBody()
{
    const QByteArray bytes = m_fetch->readAll();
    if (bytes.isEmpty())
        return;
    m_playlistBuffer += bytes;
    if (m_firstByteMs < 0 && m_timer.isValid()) {
        m_firstByteMs = m_timer.elapsed();
        logColdStartMilestone(QStringLiteral("playlist_first_byte"));
    }
    if (m_playlistBuffer.size() > MaximumPlaylistBytes) {
        sendErrorAndClose(413, QStringLiteral("Playlist too large"));
        // Its end takes the upstream-failure path, which only logs and closes now.
        m_fetch->abort();
    }
}

void HlsProxySession::finishPlaylist()
{
    m_playlistBuffer += m_fetch->readAll();
    if (m_playlistBuffer.size() > MaximumPlaylistBytes) {
        sendErrorAndClose(413, QStringLiteral("Playlist too large"));
        failUpstream(m_fetch->httpStatus(), QNetworkReply::NoError);
        return;
    }
    std::exchange(m_fetch, nullptr)->deleteLater();
    const QByteArray body = std::exchange(m_playlistBuffer, QByteArray());
    processPlaylist(body);
    cacheUpstreamPlaylist(body);
}

void HlsProxySession::processPlaylist(const QByteArray &plaintext)
{
    if (m_closed || !m_server)
        return;
    PlaylistRewriter::Registrar registrar;
    registrar.registerPlaylist = [this](const QUrl &url) { return registerChildPlaylist(url); };
    registrar.registerChunk = [this](const PlaylistRewriter::Chunk &chunk) {
        return registerChunkUrl(chunk.url, chunk.keyUrl, chunk.sourceIv, chunk.byteRange, chunk.startMs,
                                chunk.durationMs, chunk.sequence, chunk.renditionId);
    };
    const PlaylistRewriter::Result result = PlaylistRewriter::rewrite(
        plaintext, m_upstreamUrl, {m_server->port(), m_sessionId, m_generation, m_session.playbackIv},
        registrar);
    if (!result.succeeded()) {
        sendErrorAndClose(result.status, result.reason);
        return;
    }
    writeAnswerHead("HTTP/1.1 200 OK", "application/vnd.apple.mpegurl", result.body.size());
    m_socket->write(result.body);
    m_headersSent = true;
    closeAfterFlush();
    Q_EMIT m_server->sourceReached(m_sessionId, m_generation, ProxyResourceType::Playlist);

    const QString kind =
        result.kind == PlaylistRewriter::Kind::Master ? QStringLiteral("master") : QStringLiteral("media");
    DiagnosticLogger::log(Category, QStringLiteral("info"), QStringLiteral("playlist_parsed"),
                          {{QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(m_sessionId)},
                           {QStringLiteral("playlist_fp"), DiagnosticLogger::fingerprint(m_upstreamUrl)},
                           {QStringLiteral("kind"), kind},
                           {QStringLiteral("bytes"), plaintext.size()},
                           {QStringLiteral("duration_ms"), m_timer.isValid() ? m_timer.elapsed() : 0}},
                          true);
    logColdStartMilestone(QStringLiteral("playlist_parse"));
}

QString HlsProxySession::registerChildPlaylist(const QUrl &url)
{
    TokenInfo child;
    child.url = url.toString(QUrl::FullyEncoded);
    child.lectureId = m_session.lectureId;
    child.sessionId = m_sessionId;
    child.generation = m_generation;
    child.authorization = m_session.authorization;
    child.acceptLanguage = m_session.acceptLanguage;
    return m_server->registerToken(child);
}

QString HlsProxySession::registerChunkUrl(const QUrl &resourceUrl, const QString &keyUrl,
                                          const QByteArray &sourceIv, const QString &byteRange,
                                          qint64 startMs, qint64 durationMs, quint64 sequence,
                                          const QString &renditionId)
{
    TokenInfo chunk;
    chunk.url = resourceUrl.toString(QUrl::FullyEncoded);
    chunk.lectureId = m_session.lectureId;
    chunk.sessionId = m_sessionId;
    chunk.generation = m_generation;
    chunk.playbackKey = m_session.playbackKey;
    chunk.playbackIv = m_session.playbackIv;
    chunk.cacheIv = CryptoManager::itemIv(m_session.masterIv, chunk.url);
    chunk.authorization = m_session.authorization;
    chunk.acceptLanguage = m_session.acceptLanguage;
    chunk.keyUrl = keyUrl;
    if (!keyUrl.isEmpty())
        chunk.keyCacheIv = CryptoManager::itemIv(m_session.masterIv, keyUrl);
    chunk.sourceIv = sourceIv;
    chunk.byteRange = byteRange;
    chunk.sequence = sequence;
    chunk.startMs = startMs;
    chunk.durationMs = durationMs;
    chunk.renditionId = renditionId;

    const QString token = m_server->registerToken(chunk);
    m_server->rememberResource(chunk);
    // Counted as buffered before the player asks for it.
    if (startMs >= 0 && durationMs > 0 && isCached(chunk.url))
        Q_EMIT m_server->segmentDelivered(m_sessionId, renditionId, startMs, startMs + durationMs);
    return quorin::LoopbackUrls::chunk(m_server->port(), token, m_sessionId, m_generation);
}

void HlsProxySession::cacheUpstreamPlaylist(const QByteArray &body)
{
    // Only what the parser accepts is kept, whatever the rewrite answered.
    if (!HlsManifest::parse(body, QUrl(m_upstreamUrl)).valid)
        return;
    CryptoManager *vault = CryptoManager::instance();
    if (!vault->hasSecureVault())
        return;
    ResourceCache *cache = ResourceCache::instance();
    const QString key = cacheKey(m_upstreamUrl);
    m_lease = cache->leaseTemporary(key);
    const QByteArray encrypted =
        vault->processChunk(body, 0, CryptoManager::itemIv(m_session.masterIv, m_upstreamUrl));
    // A shorter result is the vault's failure: never store it, nor the plaintext.
    if (encrypted.size() != body.size())
        return;

    const QString stagingPath = cache->getTempPath(key) + QStringLiteral(".playlist-") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces);
    QFile staging(stagingPath);
    if (!staging.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    const bool written = staging.write(encrypted) == encrypted.size() && staging.flush();
    staging.close();
    if (!written) {
        staging.remove();
        return;
    }
    // The cache logs a failed publish itself and removes the staging file either way.
    (void)cache->publishTempFile(key, stagingPath);
}

// Upstream

void HlsProxySession::startUpstream(const QNetworkRequest &request, qint64 readBufferSize)
{
    if (!m_network) {
        failUpstream(0, QNetworkReply::UnknownNetworkError);
        return;
    }
    m_fetch = new MediaFetch(m_network, request, this);
    // A refused hop is never sent: with a bearer only the same origin, otherwise a valid HTTPS
    // destination.
    m_fetch->setRedirectRule(&MediaNetworkPolicy::allowRedirect);
    m_fetch->setReadBufferSize(readBufferSize);
    connect(m_fetch, &MediaFetch::readyRead, this, &HlsProxySession::onReplyReadyRead);
    connect(m_fetch, &MediaFetch::finished, this, &HlsProxySession::onReplyFinished);
    m_fetch->start();
}

void HlsProxySession::onReplyReadyRead()
{
    if (m_closed || !m_fetch)
        return;
    // An error answer's body is handled when the request ends; only its start carries a code.
    if (m_fetch->httpStatus() >= 400) {
        keepUpstreamErrorBody();
        return;
    }
    if (m_isPlaylist)
        readPlaylistBody();
    else if (m_keyFetchInFlight)
        readSourceKeyBody();
    else
        streamUpstreamSegment();
}

void HlsProxySession::keepUpstreamErrorBody()
{
    const qsizetype room = MediaNetworkPolicy::ErrorBodyBytes - m_upstreamErrorBody.size();
    if (room > 0)
        m_upstreamErrorBody += m_fetch->read(room);
    (void)m_fetch->readAll();
}

void HlsProxySession::onReplyFinished()
{
    if (m_closed || !m_fetch)
        return;
    if (m_keyFetchInFlight) {
        finishSourceKey();
        return;
    }
    const int status = m_fetch->httpStatus();
    if (m_fetch->ending() == MediaFetch::Ending::Completed && status < 400) {
        if (m_isPlaylist) {
            finishPlaylist();
            return;
        }
        m_replyFinished = true;
        // Upstream is done: what is left waits in memory for the player, bounded by the socket's
        // high-water mark, and must not keep prefetch of every session waiting on a slow reader.
        releaseTransferPermit();
        // Drains what the socket takes now; the last turn ends the answer.
        streamUpstreamSegment();
        return;
    }
    failUpstream(status, m_fetch->networkError());
}

void HlsProxySession::failUpstream(int status, int networkError)
{
    DiagnosticLogger::log(Category, QStringLiteral("warning"), QStringLiteral("upstream_failed"),
                          {{QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(m_sessionId)},
                           {QStringLiteral("source"), QStringLiteral("cdn")},
                           {QStringLiteral("status"), status},
                           {QStringLiteral("network_error"), networkError},
                           {QStringLiteral("resource_type"),
                            m_isPlaylist ? QStringLiteral("playlist") : QStringLiteral("segment")}});
    QByteArray body = m_upstreamErrorBody;
    QByteArray errorCodeHeader;
    if (m_fetch) {
        keepUpstreamErrorBody();
        body = m_upstreamErrorBody;
        errorCodeHeader = m_fetch->rawHeader("X-Quorin-Error-Code");
    }
    reportUpstreamFailure(status, networkError, body, errorCodeHeader);
    discardCacheStaging();
    if (m_headersSent) {
        m_socket->disconnectFromHost();
    } else {
        // Only an error status may reach the player as it is: a network error after a 2xx head,
        // or a refused redirect's 3xx, must not read as an answer.
        sendErrorAndClose(status >= 400 ? status : 502, QStringLiteral("Upstream unavailable"));
    }
    if (m_fetch)
        std::exchange(m_fetch, nullptr)->deleteLater();
    releaseTransferPermit();
}

// Answers

QByteArray HlsProxySession::answerHead(const QByteArray &statusLine, const QByteArray &contentType,
                                       qint64 contentLength)
{
    QByteArray head =
        statusLine +
        "\r\nConnection: close\r\nAccess-Control-Allow-Origin: *\r\nContent-Type: " + contentType + "\r\n";
    if (contentLength >= 0)
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "\r\n";
    return head;
}

void HlsProxySession::writeAnswerHead(const QByteArray &statusLine, const QByteArray &contentType,
                                      qint64 contentLength)
{
    m_socket->write(answerHead(statusLine, contentType, contentLength));
}

void HlsProxySession::holdSegmentHead(const QByteArray &statusLine, qint64 contentLength)
{
    // It leaves with the first body bytes, in one write.
    m_pendingHead = answerHead(statusLine, SegmentContentType, contentLength);
    m_headersSent = true;
}

void HlsProxySession::sendErrorAndClose(int status, const QString &reason)
{
    if (m_closed)
        return;
    reportLocalFailure(ProxyFailureReason::LocalRefusal, status);
    if (!m_headersSent) {
        m_socket->write(
            QStringLiteral("HTTP/1.1 %1 %2\r\nConnection: close\r\n\r\n").arg(status).arg(reason).toUtf8());
        m_headersSent = true;
    }
    m_socket->disconnectFromHost();
}

void HlsProxySession::reportLocalFailure(ProxyFailureReason reason, int httpStatus)
{
    if (m_failureReported || !m_server)
        return;
    m_failureReported = true;
    Q_EMIT m_server->proxyFailure(
        quorin::localFailureReport(reason, httpStatus, m_resourceType, m_sessionId, m_generation));
}

void HlsProxySession::reportUpstreamFailure(int httpStatus, int networkError, const QByteArray &body,
                                            const QByteArray &errorCodeHeader)
{
    if (m_failureReported || !m_server)
        return;
    m_failureReported = true;
    Q_EMIT m_server->proxyFailure(quorin::upstreamFailureReport(
        httpStatus, networkError, body, errorCodeHeader, m_resourceType, m_sessionId, m_generation));
}

void HlsProxySession::closeAfterFlush()
{
    if (!m_isPlaylist && m_token.startMs >= 0 && m_token.durationMs > 0) {
        m_deliverArmed = true;
        reportSegmentDelivered();
    }
    m_closing = true;
    if (m_socket->bytesToWrite() == 0)
        m_socket->disconnectFromHost();
}

void HlsProxySession::reportSegmentDelivered()
{
    if (!m_deliverArmed || m_deliveredReported || !m_server)
        return;
    m_deliveredReported = true;
    Q_EMIT m_server->segmentDelivered(m_sessionId, m_token.renditionId, m_token.startMs,
                                      m_token.startMs + m_token.durationMs);
    // A recount of the prefetch allowance, which may start what follows this segment.
    if (m_server)
        m_server->prefetchFollowing(m_token, false);
}

void HlsProxySession::onClientBytesWritten(qint64 bytes)
{
    Q_UNUSED(bytes)
    if (m_closed)
        return;
    if (m_socket->bytesToWrite() < LowWaterBytes) {
        if (m_backpressureStart >= 0 && m_timer.isValid()) {
            m_backpressureMs += qMax<qint64>(0, m_timer.elapsed() - m_backpressureStart);
            m_backpressureStart = -1;
        }
        if (std::exchange(m_awaitingDrain, false)) {
            if (m_cachedFile)
                pumpCachedFile();
            else if (m_fetch && !m_isPlaylist && !m_keyFetchInFlight)
                streamUpstreamSegment();
        }
    }
    if (m_closed)
        return;
    if (m_closing && m_socket->bytesToWrite() == 0)
        m_socket->disconnectFromHost();
}

void HlsProxySession::discardCacheStaging()
{
    if (m_stagingFile) {
        m_stagingFile->close();
        m_stagingFile.reset();
    }
    if (!m_stagingPath.isEmpty())
        QFile::remove(std::exchange(m_stagingPath, QString()));
    m_cacheUrl.clear();
}

void HlsProxySession::releaseTransferPermit()
{
    if (!std::exchange(m_transferPermitHeld, false))
        return;
    MediaTransferCoordinator::instance()->release(MediaTransferCoordinator::Priority::Playback);
}

// Segments: the source key

void HlsProxySession::prepareChunkSource()
{
    if (m_closed || !m_server)
        return;
    if (m_token.keyUrl.isEmpty()) {
        startChunkTransfer();
        return;
    }
    QByteArray key;
    if (m_server->sourceKey(m_sessionId, m_token.keyUrl, key)) {
        if (activateSourceKey(key))
            startChunkTransfer();
        return;
    }
    if (readCachedSourceKey(key)) {
        m_server->storeSourceKey(m_sessionId, m_token.keyUrl, key);
        if (activateSourceKey(key))
            startChunkTransfer();
        return;
    }
    fetchSourceKey();
}

bool HlsProxySession::readCachedSourceKey(QByteArray &key)
{
    // Without the vault a cached key cannot be read back.
    CryptoManager *vault = CryptoManager::instance();
    if (!vault->hasSecureVault())
        return false;
    ResourceCache *cache = ResourceCache::instance();
    const QString name = cacheKey(m_token.keyUrl);
    if (!cache->exists(name))
        return false;
    const ResourceCache::TemporaryLease lease = cache->leaseTemporary(name);
    QFile file(cache->getActivePath(name));
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaximumCachedKeyBytes)
        return false;
    const QByteArray stored = file.readAll();
    if (stored.size() != file.size())
        return false;
    // A shorter result is the vault's failure answer, not a key.
    const QByteArray plaintext = vault->processChunk(stored, 0, m_token.keyCacheIv);
    if (plaintext.size() != stored.size() || plaintext.size() != HlsProxyServer::SourceKeyLength)
        return false;
    key = plaintext;
    return true;
}

bool HlsProxySession::activateSourceKey(const QByteArray &key)
{
    if (!m_cipher.startSource(key, m_token.sourceIv)) {
        sendErrorAndClose(502, QStringLiteral("Invalid source key"));
        return false;
    }
    return true;
}

void HlsProxySession::fetchSourceKey()
{
    m_keyFetchInFlight = true;
    m_keyBuffer.clear();
    QNetworkRequest request{QUrl(m_token.keyUrl)};
    MediaNetworkPolicy::apply(request, MediaResourceKind::Key,
                              {m_token.authorization, m_token.acceptLanguage, 0});
    // Read as it arrives: a body far too long for a key must not wait for the transfer time-out.
    startUpstream(request, SourceKeyReadBufferBytes);
}

void HlsProxySession::readSourceKeyBody()
{
    m_keyBuffer += m_fetch->readAll();
    if (m_keyBuffer.size() > SourceKeyReadBufferBytes)
        refuseSourceKey(m_fetch->httpStatus());
}

void HlsProxySession::finishSourceKey()
{
    m_keyFetchInFlight = false;
    const int status = m_fetch->httpStatus();
    if (m_fetch->ending() != MediaFetch::Ending::Completed || status >= 400) {
        qWarning().noquote() << "HlsProxyServer: source key request failed:" << m_fetch->errorString();
        keepUpstreamErrorBody();
        reportUpstreamFailure(status, m_fetch->networkError(), m_upstreamErrorBody,
                              m_fetch->rawHeader("X-Quorin-Error-Code"));
        std::exchange(m_fetch, nullptr)->deleteLater();
        // A failure after a head below 400 (a drop after 200, a refused redirect) must not read as
        // a success status.
        sendErrorAndClose(status >= 400 ? status : 502, QStringLiteral("Source key unavailable"));
        return;
    }
    m_keyBuffer += m_fetch->readAll();
    if (m_keyBuffer.size() != HlsProxyServer::SourceKeyLength) {
        refuseSourceKey(status);
        return;
    }
    std::exchange(m_fetch, nullptr)->deleteLater();
    const QByteArray key = std::exchange(m_keyBuffer, QByteArray());
    if (m_server)
        m_server->storeSourceKey(m_sessionId, m_token.keyUrl, key);
    if (activateSourceKey(key))
        startChunkTransfer();
}

void HlsProxySession::refuseSourceKey(int status)
{
    m_keyFetchInFlight = false;
    m_keyBuffer.clear();
    if (m_fetch) {
        m_fetch->disconnect(this);
        m_fetch->abort();
        std::exchange(m_fetch, nullptr)->deleteLater();
    }
    reportUpstreamFailure(status, 0, QByteArray(), QByteArrayLiteral("INVALID_CONTENT_KEY"));
    sendErrorAndClose(502, QStringLiteral("Invalid source key"));
}

// Segments: the transfer

void HlsProxySession::startChunkTransfer()
{
    if (m_closed || !m_server)
        return;
    m_timer.restart();
    m_backpressureEvents = 0;
    m_diskNs = 0;
    m_cryptoNs = 0;
    m_backpressureMs = 0;
    m_bytesIn = 0;
    m_bytesOut = 0;
    m_firstByteMs = -1;
    m_backpressureStart = -1;
    m_cacheHit = false;
    m_transferLogged = false;

    if (isCached(m_token.url) && serveCachedSegment())
        return;

    if (!m_transferPermitHeld) {
        if (!MediaTransferCoordinator::instance()->tryAcquire(MediaTransferCoordinator::Priority::Playback)) {
            if (m_permitRetries++ >= PermitRetries) {
                sendErrorAndClose(503, QStringLiteral("Playback transfer capacity unavailable"));
                return;
            }
            // Retried through the start, so a segment cached meanwhile is served from there.
            QTimer::singleShot(RetryIntervalMs, this, &HlsProxySession::startChunkTransfer);
            return;
        }
        m_transferPermitHeld = true;
    }
    // Only whole resources are staged, and only while the vault can encrypt them.
    if (m_rangeHeader.isEmpty() && CryptoManager::instance()->hasSecureVault())
        openCacheStaging();
    if (!m_cipher.startPlayback(m_token.playbackKey, m_token.playbackIv)) {
        discardCacheStaging();
        releaseTransferPermit();
        sendErrorAndClose(500, QStringLiteral("Internal Server Error"));
        return;
    }
    m_replyFinished = false;
    QNetworkRequest request{QUrl(m_token.url)};
    MediaNetworkPolicy::apply(request, MediaResourceKind::Segment,
                              {m_token.authorization, m_token.acceptLanguage, 0}, m_rangeHeader);
    startUpstream(request, SegmentReadBufferBytes);
}

bool HlsProxySession::serveCachedSegment()
{
    ResourceCache *cache = ResourceCache::instance();
    auto *file = new QFile(cache->getActivePath(cacheKey(m_token.url)), this);
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return false;
    }
    m_cachedFile = file;
    m_cacheHit = true;
    if (isMediaSegment()) {
        m_deliverArmed = true;
        reportSegmentDelivered();
        if (m_closed)
            return true;
    }
    const qint64 size = m_cachedFile->size();
    if (m_rangeStart >= 0) {
        // A start at or past the end would answer nothing but a padding block.
        if (m_rangeStart >= size || !m_cachedFile->seek(m_rangeStart)) {
            sendErrorAndClose(416, QStringLiteral("Invalid range"));
            return true;
        }
        m_remaining = m_rangeLength < 0 ? size - m_rangeStart : qMin(m_rangeLength, size - m_rangeStart);
    }
    if (!m_cipher.startPlayback(m_token.playbackKey, m_token.playbackIv)) {
        sendErrorAndClose(500, QStringLiteral("Internal Server Error"));
        return true;
    }
    const qint64 sourceBytes = m_remaining >= 0 ? m_remaining : size;
    holdSegmentHead("HTTP/1.1 200 OK", quorin::reencryptedLength(sourceBytes, m_cipher.sourceActive()));
    pumpCachedFile();
    return true;
}

void HlsProxySession::openCacheStaging()
{
    m_cacheUrl = cacheKey(m_token.url);
    m_stagingPath = ResourceCache::instance()->getTempPath(m_cacheUrl) + u'.' +
                    QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".part");
    m_stagingOffset = 0;
    m_stagingFile = std::make_unique<QFile>(m_stagingPath);
    if (!m_stagingFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning("HlsProxyServer: Failed to open temp cache file for writing!");
        discardCacheStaging();
    }
}

void HlsProxySession::pumpCachedFile()
{
    m_turnQueued = false;
    if (!m_cachedFile || m_closed)
        return;
    if (m_socket->bytesToWrite() >= HighWaterBytes) {
        stopForBackpressure();
        return;
    }
    CryptoManager *vault = CryptoManager::instance();
    startTurnOutput();
    QElapsedTimer step;
    qint64 handled = 0;
    bool exhausted = false;
    while (handled < TurnBudgetBytes && m_socket->bytesToWrite() < HighWaterBytes) {
        const qint64 position = m_cachedFile->pos();
        const qint64 size = m_remaining < 0 ? PieceBytes : qMin(m_remaining, PieceBytes);
        if (size < 1)
            break;
        char *piece = pieceBuffer();
        step.start();
        const qint64 read = m_cachedFile->read(piece, size);
        m_diskNs += step.nsecsElapsed();
        if (read <= 0) {
            // A read error ends the answer where it is, as the end of the file would.
            exhausted = true;
            break;
        }
        if (m_remaining >= 0)
            m_remaining -= read;
        m_bytesIn += read;
        handled += read;
        step.start();
        if (!vault->transformInto(piece, piece, read, position, m_token.cacheIv)) {
            // The vault could not transform: the file itself may be sound.
            failCachedCopy(false);
            return;
        }
        const bool delivered = m_cipher.process(piece, read, m_turnOutput);
        m_cryptoNs += step.nsecsElapsed();
        if (!delivered) {
            failCachedCopy(true);
            return;
        }
    }
    const bool ended = exhausted || m_remaining == 0 || m_cachedFile->atEnd();
    if (ended && !m_cipher.finish(m_turnOutput)) {
        failCachedCopy(true);
        return;
    }
    sendTurnOutput();
    if (m_closed)
        return;
    if (ended) {
        m_cachedFile->close();
        std::exchange(m_cachedFile, nullptr)->deleteLater();
        logTransferPerformance();
        closeAfterFlush();
        return;
    }
    if (m_socket->bytesToWrite() < HighWaterBytes)
        queueTurn(&HlsProxySession::pumpCachedFile);
    else
        stopForBackpressure();
}

void HlsProxySession::streamUpstreamSegment()
{
    m_turnQueued = false;
    if (m_closed || !m_fetch)
        return;
    if (m_firstByteMs < 0 && m_timer.isValid() && m_fetch->bytesAvailable() > 0) {
        m_firstByteMs = m_timer.elapsed();
        logColdStartMilestone(QStringLiteral("segment_first_byte"));
        if (m_server)
            Q_EMIT m_server->sourceReached(m_sessionId, m_generation, ProxyResourceType::Segment);
        if (m_closed || !m_fetch)
            return;
    }
    if (!m_headersSent)
        holdUpstreamSegmentHead();
    if (m_socket->bytesToWrite() >= HighWaterBytes) {
        // The unread bytes wait in the reply, whose bounded buffer slows the upstream down.
        stopForBackpressure();
        return;
    }
    startTurnOutput();
    QElapsedTimer step;
    qint64 handled = 0;
    while (handled < TurnBudgetBytes) {
        if (m_fetch->bytesAvailable() <= 0 || m_socket->bytesToWrite() >= HighWaterBytes)
            break;
        char *piece = pieceBuffer();
        const qint64 read = m_fetch->read(piece, qMin(TurnBudgetBytes - handled, PieceBytes));
        if (read <= 0)
            break;
        m_bytesIn += read;
        handled += read;
        stagePiece(piece, read);
        step.start();
        const bool delivered = m_cipher.process(piece, read, m_turnOutput);
        m_cryptoNs += step.nsecsElapsed();
        if (!delivered) {
            failSourceDecryption(m_fetch->httpStatus());
            return;
        }
    }
    // The last turn carries the final blocks with the last bytes.
    const bool ended = m_replyFinished && m_fetch->bytesAvailable() <= 0;
    if (ended && !m_cipher.finish(m_turnOutput)) {
        failSourceDecryption(m_fetch->httpStatus());
        return;
    }
    sendTurnOutput();
    if (m_closed)
        return;
    if (ended)
        finishChunkResponse();
    else if (m_fetch->bytesAvailable() > 0 && m_socket->bytesToWrite() < HighWaterBytes)
        queueTurn(&HlsProxySession::streamUpstreamSegment);
    else if (m_fetch->bytesAvailable() > 0)
        stopForBackpressure();
}

void HlsProxySession::holdUpstreamSegmentHead()
{
    const QByteArray statusLine =
        "HTTP/1.1 " + QByteArray::number(m_fetch->httpStatus()) + ' ' + m_fetch->reasonPhrase();
    const qint64 announced = m_fetch->rawHeader("Content-Length").trimmed().toLongLong();
    holdSegmentHead(statusLine,
                    announced > 0 ? quorin::reencryptedLength(announced, m_cipher.sourceActive()) : -1);
}

void HlsProxySession::stagePiece(const char *piece, qint64 size)
{
    if (!m_stagingFile)
        return;
    if (m_staged.size() < size)
        m_staged.resize(PieceBytes);
    QElapsedTimer step;
    step.start();
    // A failed transform leaves nothing to keep: neither it nor the plaintext is stored.
    const bool encrypted = CryptoManager::instance()->transformInto(piece, m_staged.data(), size,
                                                                    m_stagingOffset, m_token.cacheIv);
    m_cryptoNs += step.nsecsElapsed();
    bool written = false;
    if (encrypted) {
        step.start();
        written = m_stagingFile->write(m_staged.constData(), size) == size;
        m_diskNs += step.nsecsElapsed();
    }
    if (written) {
        m_stagingOffset += size;
        return;
    }
    qWarning("HlsProxyServer: cache write failed; continuing playback without caching");
    discardCacheStaging();
}

void HlsProxySession::finishChunkResponse()
{
    if (!m_fetch)
        return;
    MediaFetch *fetch = std::exchange(m_fetch, nullptr);
    fetch->disconnect(this);
    fetch->deleteLater();
    // The transfer is over: a prefetch the delivery asks for must find the permit back.
    releaseTransferPermit();
    publishCacheStaging();
    logTransferPerformance();
    if (m_closed)
        return;
    closeAfterFlush();
}

char *HlsProxySession::pieceBuffer()
{
    if (m_piece.size() < PieceBytes)
        m_piece.resize(PieceBytes);
    return m_piece.data();
}

void HlsProxySession::startTurnOutput()
{
    // The buffer of the last turn comes back once the socket has handed it to the system; while
    // the socket still holds it, a new one is made rather than its bytes copied.
    if (!m_turnOutput.isDetached())
        m_turnOutput = QByteArray();
    m_turnOutput.reserve(TurnBudgetBytes + PieceBytes);
    m_turnOutput.resize(0);
    m_turnOutput += std::exchange(m_pendingHead, QByteArray());
    m_turnHeadBytes = m_turnOutput.size();
}

void HlsProxySession::sendTurnOutput()
{
    const qint64 bodyBytes = m_turnOutput.size() - m_turnHeadBytes;
    m_turnHeadBytes = 0;
    if (m_turnOutput.isEmpty())
        return;
    m_bytesOut += bodyBytes;
    m_socket->write(m_turnOutput);
    // To the system now, not on the next turn of the event loop: the player reads this turn's
    // bytes while the next turn is made.
    m_socket->flush();
    if (bodyBytes > 0 && !m_reachedReported && isMediaSegment() && m_server && !m_closed) {
        m_reachedReported = true;
        Q_EMIT m_server->segmentReached(m_sessionId, m_generation, m_token.renditionId, m_token.startMs,
                                        m_token.startMs + m_token.durationMs);
    }
}

void HlsProxySession::failSourceDecryption(int httpStatus)
{
    // What was staged would fail the same way on every later request.
    abandonSegmentAnswer();
    reportUpstreamFailure(httpStatus, 0, QByteArray(), QByteArrayLiteral("DECRYPTION_FAILED"));
    closeCutShort();
}

void HlsProxySession::failCachedCopy(bool damaged)
{
    // A damaged copy no longer counts as cached, so the rebuild that playback control answers the
    // fault with fetches the segment upstream. A vault that cannot transform says nothing about
    // the file, which stays.
    if (damaged)
        dropDamagedCopy(m_token.url);
    abandonSegmentAnswer();
    if (!m_failureReported && m_server) {
        m_failureReported = true;
        Q_EMIT m_server->proxyFailure(
            quorin::cacheFaultReport(m_token.url, m_resourceType, m_sessionId, m_generation));
    }
    closeCutShort();
}

void HlsProxySession::abandonSegmentAnswer()
{
    discardCacheStaging();
    if (m_cachedFile) {
        m_cachedFile->close();
        std::exchange(m_cachedFile, nullptr)->deleteLater();
    }
    if (m_fetch) {
        m_fetch->disconnect(this);
        m_fetch->abort();
        std::exchange(m_fetch, nullptr)->deleteLater();
    }
    releaseTransferPermit();
}

void HlsProxySession::closeCutShort()
{
    // The answer ends short of its announced length, which the player reads as a failed segment.
    m_closed = true;
    m_socket->disconnectFromHost();
}

void HlsProxySession::dropDamagedCopy(const QString &url)
{
    ResourceCache::instance()->invalidateTemp(cacheKey(url));
    DiagnosticLogger::log(Category, QStringLiteral("warning"), QStringLiteral("cached_copy_damaged"),
                          {{QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(m_sessionId)},
                           {QStringLiteral("resource_fp"), DiagnosticLogger::fingerprint(url)},
                           {QStringLiteral("resource_type"),
                            m_isPlaylist ? QStringLiteral("playlist") : QStringLiteral("segment")}});
}

void HlsProxySession::publishCacheStaging()
{
    if (m_stagingFile) {
        m_stagingFile->close();
        m_stagingFile.reset();
    }
    if (!m_cacheUrl.isEmpty() && !m_stagingPath.isEmpty())
        (void)ResourceCache::instance()->publishTempFile(m_cacheUrl, m_stagingPath);
    m_cacheUrl.clear();
    m_stagingPath.clear();
}

void HlsProxySession::logTransferPerformance()
{
    if (m_transferLogged || !m_timer.isValid() || !m_server)
        return;
    m_transferLogged = true;
    const quorin::TransferClassification transfer = quorin::classifyTransfer(m_bytesOut, m_timer.elapsed());
    if (m_backpressureStart >= 0) {
        m_backpressureMs += qMax<qint64>(0, transfer.elapsedMs - m_backpressureStart);
        m_backpressureStart = -1;
    }
    Q_EMIT m_server->segmentTransfer(m_sessionId, m_bytesOut, transfer.elapsedMs, m_cacheHit);
    if (!m_server)
        return;
    logColdStartMilestone(QStringLiteral("segment_complete"), {{QStringLiteral("cache_hit"), m_cacheHit}});
    const QVariantMap fields{
        {QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(m_sessionId)},
        {QStringLiteral("source"), m_cacheHit ? QStringLiteral("cache") : QStringLiteral("cdn")},
        {QStringLiteral("bytes"), m_bytesOut},
        {QStringLiteral("elapsed_ms"), transfer.elapsedMs},
        {QStringLiteral("ttfb_ms"), m_cacheHit ? qint64(-1) : m_firstByteMs},
        {QStringLiteral("disk_ms"), m_diskNs / 1000000},
        {QStringLiteral("crypto_ms"), m_cryptoNs / 1000000},
        {QStringLiteral("throughput_mib_s"), QString::number(transfer.throughputMibS, 'f', 2)},
        {QStringLiteral("backpressure_events"), m_backpressureEvents},
        {QStringLiteral("backpressure_ms"), m_backpressureMs},
        {QStringLiteral("active_requests"), m_server->activeRequestCount(m_sessionId)},
    };
    if (transfer.healthy)
        DiagnosticLogger::log(Category, QStringLiteral("info"), QStringLiteral("segment_complete"), fields,
                              true);
    else
        DiagnosticLogger::log(Category, QStringLiteral("warning"), QStringLiteral("segment_slow"), fields);
}

void HlsProxySession::stopForBackpressure()
{
    // One event per stop: later turns that find the buffer still full belong to the same one.
    if (!m_awaitingDrain) {
        m_awaitingDrain = true;
        ++m_backpressureEvents;
    }
    if (m_backpressureStart < 0 && m_timer.isValid())
        m_backpressureStart = m_timer.elapsed();
}

void HlsProxySession::queueTurn(void (HlsProxySession::*turn)())
{
    // One turn waits at a time; readyRead and bytesWritten may ask for more meanwhile.
    if (std::exchange(m_turnQueued, true))
        return;
    QMetaObject::invokeMethod(this, turn, Qt::QueuedConnection);
}

bool HlsProxySession::isMediaSegment() const
{
    return !m_isPlaylist && m_token.startMs >= 0 && m_token.durationMs > 0;
}

// Life cycle

void HlsProxySession::onClientDisconnected()
{
    stop();
    deleteLater();
}

void HlsProxySession::stop()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_fetch)
        m_fetch->abort();
    // Aborting a connected socket emits disconnected, which schedules the deletion.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}

// Cache

QString HlsProxySession::cacheKey(const QString &url) const
{
    return ResourceCache::vaultKey(m_session.lectureId, url);
}

bool HlsProxySession::isCached(const QString &url) const
{
    // Without the vault no cached copy could be read back.
    return CryptoManager::instance()->hasSecureVault() && ResourceCache::instance()->exists(cacheKey(url));
}

void HlsProxySession::logColdStartMilestone(const QString &milestone, const QVariantMap &extraFields) const
{
    QVariantMap fields = extraFields;
    fields.insert(QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(m_sessionId));
    fields.insert(QStringLiteral("milestone"), milestone);
    fields.insert(QStringLiteral("elapsed_ms"),
                  QDateTime::currentMSecsSinceEpoch() - m_session.registeredAtMs);
    DiagnosticLogger::log(Category, QStringLiteral("info"), QStringLiteral("cold_start_milestone"), fields,
                          true);
}
