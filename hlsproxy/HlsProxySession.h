#pragma once

#include "hlsproxy/ProxyFailureRecord.h"
#include "hlsproxy/SegmentCipher.h"
#include "hlsproxy/SessionInfo.h"
#include "hlsproxy/TokenInfo.h"
#include "media/ResourceCache.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QtGlobal>
#include <memory>

class HlsProxyServer;
class QFile;
class QNetworkAccessManager;
class QNetworkRequest;
class QTcpSocket;

namespace quorin {
class MediaFetch;
class ProxyRequestHead;
} // namespace quorin

// One accepted player connection of the proxy, on the proxy thread, a child of the server. It
// reads one request head, routes it by path to a rewritten playlist, the playback key or a
// re-encrypted segment, answers once with "Connection: close" and ends. It holds at most one of
// its playback session's request permits, from routing until it is destroyed, so a slow player
// still counts against the session's limit. It sends at most one failure record.
class HlsProxySession : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaximumRequestHeadBytes = 32768;
    static constexpr qsizetype MaximumPlaylistBytes = 2097152;

    // Takes the accepted socket over; when that fails the object only schedules its own deletion.
    HlsProxySession(qintptr socketDescriptor, HlsProxyServer *server);
    ~HlsProxySession() override;

    // Stops the connection at once: aborts the upstream request and the player's socket. The
    // object is then deleted through the socket's disconnected signal.
    void cancel();

    // The playback session of the request; empty until the request is routed.
    [[nodiscard]] QString sessionId() const { return m_sessionId; }
    [[nodiscard]] quint64 generation() const { return m_generation; }
    [[nodiscard]] ProxyResourceType resourceType() const { return m_resourceType; }

    // Registers a token for one segment or initialisation section of the playlist being rewritten
    // and returns its chunk URL. A timed segment already in the cache is announced as delivered.
    [[nodiscard]] QString registerChunkUrl(const QUrl &resourceUrl, const QString &keyUrl,
                                           const QByteArray &sourceIv, const QString &byteRange,
                                           qint64 startMs, qint64 durationMs, quint64 sequence,
                                           const QString &renditionId);
    // One attribute of an HLS tag line; a null string when absent.
    [[nodiscard]] static QString attributeValue(const QString &tagLine, const QString &name);
    // The AES-128 IV implied by a media sequence number.
    [[nodiscard]] static QByteArray sequenceIv(quint64 sequence);

private Q_SLOTS:
    void onClientReadyRead();
    void onReplyReadyRead();
    void onReplyFinished();
    void onClientDisconnected();
    void onClientBytesWritten(qint64 bytes);
    void pumpCachedFile();

private:
    friend class HlsProxySessionProbe; // tests: the permit a routed request takes

    // Routing. Each route's checks run before anything is read from disk or asked upstream.
    void processRequest(const QByteArray &head);
    void routePlaylist(const quorin::ProxyRequestHead &request);
    void routeKey(const quorin::ProxyRequestHead &request);
    void routeSegment(const quorin::ProxyRequestHead &request);
    // The request's resource and, as the query names them, its session and generation.
    void startRoute(ProxyResourceType resourceType, const quorin::ProxyRequestHead &request);
    void refuseBySessionState(const QString &resourceWord);
    // Takes the session's request permit, or refuses the request for the session's limit.
    [[nodiscard]] bool holdRequestPermit(const QString &resourceWord);
    // A rejection the server counts: its log, the failure record and the error answer.
    void reject(const QString &rejectedWord, const QString &sampleFingerprint, const QString &resourceWord,
                ProxyFailureReason reason, int status, const QString &reasonPhrase);
    // Takes the session's request permit; false when the server refuses (limit or unknown).
    [[nodiscard]] bool acquireRequestPermit();
    void releaseRequestPermit();
    void prepareChunkSourceAfterPrefetch();

    // Segments: the source key, then the transfer from the cache or upstream.
    void prepareChunkSource();
    [[nodiscard]] bool readCachedSourceKey(QByteArray &key);
    [[nodiscard]] bool activateSourceKey(const QByteArray &key);
    void fetchSourceKey();
    void readSourceKeyBody();
    void finishSourceKey();
    void refuseSourceKey(int status);
    void startChunkTransfer();
    // True when the cached copy answered (or refused) the request; false sends it upstream.
    [[nodiscard]] bool serveCachedSegment();
    void openCacheStaging();
    void streamUpstreamSegment();
    void holdUpstreamSegmentHead();
    // Encrypts one piece of an upstream segment at rest into the staging file.
    void stagePiece(const char *piece, qint64 size);
    void finishChunkResponse();
    // The buffer a piece of source is read into, reused for every piece.
    [[nodiscard]] char *pieceBuffer();
    // A turn of a segment answer collects what the player gets (the head first, when it is still
    // to go) and hands it to the socket in one write.
    void startTurnOutput();
    void sendTurnOutput();
    void failSourceDecryption(int httpStatus);
    // The cached copy being pumped could not be read back; damaged: it did not decrypt.
    void failCachedCopy(bool damaged);
    // Stops the segment answer's file, staging, upstream request and permit.
    void abandonSegmentAnswer();
    void closeCutShort();
    // The lecture's temporary copy of the URL no longer counts as cached; logged.
    void dropDamagedCopy(const QString &url);
    void publishCacheStaging();
    void logTransferPerformance();
    void stopForBackpressure();
    void queueTurn(void (HlsProxySession::*turn)());
    [[nodiscard]] bool isMediaSegment() const;

    // Playlists
    // True when the cached copy answered (or refused) the request; false sends it upstream.
    [[nodiscard]] bool servePlaylistFromCache();
    void fetchPlaylist();
    void readPlaylistBody();
    void finishPlaylist();
    void processPlaylist(const QByteArray &plaintext);
    [[nodiscard]] QString registerChildPlaylist(const QUrl &url);
    void cacheUpstreamPlaylist(const QByteArray &body);

    // Upstream
    void startUpstream(const QNetworkRequest &request, qint64 readBufferSize);
    void keepUpstreamErrorBody();
    void failUpstream(int status, int networkError);

    // Answers
    [[nodiscard]] static QByteArray answerHead(const QByteArray &statusLine, const QByteArray &contentType,
                                               qint64 contentLength);
    void writeAnswerHead(const QByteArray &statusLine, const QByteArray &contentType, qint64 contentLength);
    // A segment's head, held for the first turn of its body.
    void holdSegmentHead(const QByteArray &statusLine, qint64 contentLength);
    void sendErrorAndClose(int status, const QString &reason);
    void reportLocalFailure(ProxyFailureReason reason, int httpStatus);
    void reportUpstreamFailure(int httpStatus, int networkError, const QByteArray &body,
                               const QByteArray &errorCodeHeader);
    void closeAfterFlush();
    void reportSegmentDelivered();
    void discardCacheStaging();
    void releaseTransferPermit();
    void stop();

    // Cache names of this lecture's files, and whether the vault can read or write them now.
    [[nodiscard]] QString cacheKey(const QString &url) const;
    [[nodiscard]] bool isCached(const QString &url) const;
    void logColdStartMilestone(const QString &milestone, const QVariantMap &extraFields = {}) const;

    // Null once the server is being destroyed; the server closes its connections before that.
    QPointer<HlsProxyServer> m_server;
    QTcpSocket *m_socket = nullptr;             // the player's connection, a child
    QNetworkAccessManager *m_network = nullptr; // the server's, not owned
    quorin::MediaFetch *m_fetch = nullptr;      // the one upstream request in flight, a child
    TokenInfo m_token;                          // the resolved token of a segment request
    SessionInfo m_session;                      // the playback session, as the route found it
    QByteArray m_requestBuffer;
    QByteArray m_playlistBuffer;
    QByteArray m_upstreamErrorBody; // the first bytes of an upstream error answer
    bool m_headHandled = false;     // routed or refused; later bytes are read and dropped
    bool m_headersSent = false;
    bool m_isPlaylist = false;
    QString m_upstreamUrl;
    QString m_sessionId;
    quint64 m_generation = 0;
    ProxyResourceType m_resourceType = ProxyResourceType::Unknown;
    bool m_failureReported = false;
    std::unique_ptr<QFile> m_stagingFile; // cache staging file of an upstream segment
    QString m_cacheUrl;
    QString m_stagingPath;
    quorin::SegmentCipher m_cipher; // the upstream decryption and the player's encryption
    bool m_requestPermitHeld = false;
    QByteArray m_rangeHeader;
    qint64 m_rangeStart = -1;
    qint64 m_rangeLength = -1;
    bool m_closing = false; // the answer is complete; close once the write buffer is empty
    bool m_closed = false;  // cancelled or disconnected: no further work
    bool m_deliverArmed = false;
    bool m_deliveredReported = false;
    qint64 m_firstByteMs = -1;
    QElapsedTimer m_timer;
    ResourceCache::TemporaryLease m_lease;
    bool m_transferPermitHeld = false;

    // Segment answers
    QFile *m_cachedFile = nullptr; // the cached copy being pumped, a child
    qint64 m_stagingOffset = 0;
    bool m_keyFetchInFlight = false;
    QByteArray m_keyBuffer;
    bool m_replyFinished = false;
    qint64 m_remaining = -1; // source bytes of the cached copy still to send; -1 up to its end
    bool m_cacheHit = false;
    bool m_transferLogged = false;
    bool m_reachedReported = false;
    bool m_awaitingDrain = false; // stopped at the high-water mark; bytesWritten resumes
    bool m_turnQueued = false;
    int m_prefetchWaits = 0;
    int m_permitRetries = 0;
    qint64 m_diskNs = 0;
    qint64 m_cryptoNs = 0;
    qint64 m_backpressureStart = -1;
    qint64 m_backpressureMs = 0;
    qint64 m_backpressureEvents = 0;
    qint64 m_bytesIn = 0;
    qint64 m_bytesOut = 0;
    QByteArray m_piece;      // a piece of source, reused
    QByteArray m_staged;     // a piece encrypted at rest, reused
    QByteArray m_turnOutput; // the player's bytes of the current turn
    qint64 m_turnHeadBytes = 0;
    QByteArray m_pendingHead; // a segment's head, until its first turn
};
