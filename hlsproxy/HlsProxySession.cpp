#include "hlsproxy/HlsProxySession.h"

#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/LoopbackUrls.h"
#include "hlsproxy/PlaylistRewriter.h"
#include "hlsproxy/ProxyFailureReport.h"
#include "hlsproxy/ProxyRequestHead.h"
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
#include <QUuid>
#include <openssl/evp.h>
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

} // namespace

void HlsProxySession::CipherContextDeleter::operator()(EVP_CIPHER_CTX *context) const
{
    EVP_CIPHER_CTX_free(context);
}

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
    m_playbackCipher.reset(EVP_CIPHER_CTX_new());
    m_sourceCipher.reset(EVP_CIPHER_CTX_new());
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
    // Segments are not served yet: the request keeps its connection and permit until the player
    // goes or its session is torn down.
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
    const int status = m_fetch->httpStatus();
    if (m_fetch->ending() == MediaFetch::Ending::Completed && status < 400) {
        if (m_isPlaylist)
            finishPlaylist();
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

void HlsProxySession::writeAnswerHead(const QByteArray &statusLine, const QByteArray &contentType,
                                      qint64 contentLength)
{
    QByteArray head =
        statusLine +
        "\r\nConnection: close\r\nAccess-Control-Allow-Origin: *\r\nContent-Type: " + contentType + "\r\n";
    if (contentLength >= 0)
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "\r\n";
    m_socket->write(head);
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
}

void HlsProxySession::onClientBytesWritten(qint64 bytes)
{
    Q_UNUSED(bytes)
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

void HlsProxySession::logColdStartMilestone(const QString &milestone) const
{
    DiagnosticLogger::log(
        Category, QStringLiteral("info"), QStringLiteral("cold_start_milestone"),
        {{QStringLiteral("session_fp"), DiagnosticLogger::fingerprint(m_sessionId)},
         {QStringLiteral("milestone"), milestone},
         {QStringLiteral("elapsed_ms"), QDateTime::currentMSecsSinceEpoch() - m_session.registeredAtMs}},
        true);
}
