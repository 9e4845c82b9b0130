#pragma once

#include "hlsproxy/ProxyFailureRecord.h"
#include "hlsproxy/SessionInfo.h"
#include "hlsproxy/TokenInfo.h"
#include "media/HlsTokenRegistry.h"
#include "net/MediaAuthSnapshot.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class HlsProxySession;
class QNetworkAccessManager;

namespace quorin {
class MediaFetch;
struct PrefetchOutcome;
struct PrefetchTransfer;
} // namespace quorin

// The loopback HTTP/1.1 server the media player fetches every HLS playlist, key and segment
// from. One per process, on a thread of its own (HlsProxyThread); it makes one HlsProxySession per
// accepted connection, owns the network manager of every upstream request, and keeps the tables
// of the playback sessions it serves.
//
// Playback control registers and unregisters sessions from the GUI thread; connections and
// prefetch read and update the same tables on the proxy thread. Lock order: m_mutex before the
// token registry's own lock, never the other way; no reply is ever aborted while m_mutex is held,
// because a reply's finished handling takes it.
class HlsProxyServer : public QTcpServer
{
    Q_OBJECT

public:
    // The life cycle of a session id. Connections answer 404 for the first two, 410 for the others.
    enum class SessionState : int {
        Unknown = 0,  // never registered, or forgotten again among the retired
        Active = 1,   // registered
        Retiring = 2, // unregistered; its teardown is queued on the proxy thread
        Retired = 3,  // teardown finished; one of the last RetiredSessionLimit such ids
    };

    static constexpr int MaximumRequestsPerSession = 8;
    static constexpr qsizetype RetiredSessionLimit = 256;
    static constexpr int RejectionWindowMs = 1000;
    static constexpr qsizetype SourceKeyLength = 16;
    // A prefetched body is kept whole in memory: 1 byte to 64 MiB is accepted.
    static constexpr qint64 PrefetchReadBufferBytes = 33554432;
    static constexpr qint64 MaximumPrefetchBytes = 67108864;
    static constexpr int MaximumPrefetchFailures = 5;
    static constexpr int MaximumPublishedPrefetchCount = 100;

    // What updatePlaybackState stored for a session; each part is empty while nothing was stored.
    struct PlaybackState
    {
        std::optional<bool> playing;
        std::optional<double> playbackRate;
        std::optional<bool> recentStall;
    };

    // The process-wide server. The first call builds its thread and returns once the server has
    // tried to listen; never call it first on the proxy thread.
    [[nodiscard]] static HlsProxyServer *instance();

    // What prefetch reads the time from and how it waits out a cooldown, so that tests neither
    // wait for real cooldowns nor depend on the wall clock. Each empty member takes the default:
    // the system clock, a single-shot timer with the server as context, nothing before a store.
    struct PrefetchSeams
    {
        std::function<qint64()> nowMs; // ms since the epoch; called on the proxy thread
        // Proxy thread. The retry must be called on the proxy thread, and only while the server lives.
        std::function<void(int delayMs, std::function<void()> retry)> startRetryTimer;
        // On the pool thread, after the body arrived and before it is checked and stored.
        std::function<void(const TokenInfo &token)> beforeStore;
    };

    // What prefetch keeps for one rendition and one URL, read under the mutex.
    struct PrefetchStatus
    {
        std::optional<int> allowance;
        std::optional<int> extraAllowance;
        bool boosted = false;
        int publishedCount = 0;
        int failures = 0;
        std::optional<qint64> retryAtMs;
        bool prefetching = false;
    };

    // Every table empty, the port 0. Registers the metatypes the signals carry across threads.
    explicit HlsProxyServer(QObject *parent = nullptr);
    // Must run on the server's thread: it aborts prefetches, waits for the global thread pool and
    // closes the remaining connections before the tables go.
    ~HlsProxyServer() override;

    // On the server's thread, once: makes the network manager, then listens on 127.0.0.1 at a
    // port the system chooses. A failure is reported once and never retried; the port stays 0.
    void startListening();
    // The listening port; 0 until listening succeeded. Readable from any thread.
    [[nodiscard]] quint16 port() const { return m_port.load(std::memory_order_acquire); }
    // Every upstream request of the proxy goes through it; made by startListening. Proxy thread only.
    [[nodiscard]] QNetworkAccessManager *network() const { return m_network; }

    // Sessions
    void registerSession(const QString &sessionId, const SessionInfo &info);
    // Does nothing at all for an empty or unregistered id.
    void unregisterSession(const QString &sessionId, const QString &reason);
    [[nodiscard]] bool getSession(const QString &sessionId, SessionInfo &out) const;
    [[nodiscard]] SessionState sessionState(const QString &sessionId) const;

    // Tokens, under the registry's lock only. Empty when the session is not active.
    [[nodiscard]] QString registerToken(const TokenInfo &info);
    [[nodiscard]] HlsTokenRegistry::Resolution resolveToken(const QString &token, TokenInfo &out) const;

    // Upstream AES-128 keys already fetched, per session and key URL.
    [[nodiscard]] bool sourceKey(const QString &sessionId, const QString &keyUrl, QByteArray &out) const;
    void storeSourceKey(const QString &sessionId, const QString &keyUrl, const QByteArray &key);

    // Per-session request permits: a connection holds at most one, from routing until it is
    // destroyed.
    [[nodiscard]] bool acquireRequest(const QString &sessionId);
    void releaseRequest(const QString &sessionId);
    [[nodiscard]] int activeRequestCount(const QString &sessionId) const;

    // Sign-in changes reach every session holding older credentials; tokens keep theirs.
    void updateAuthenticationSnapshot(const MediaAuthSnapshot &snapshot);
    // Timed segments of active sessions, the only candidates for prefetch.
    void rememberResource(const TokenInfo &info);
    // Proxy thread. The player asked for this segment: the session's prefetches of other segments
    // are aborted; one of this segment goes on.
    void prioritizeDemand(const TokenInfo &token);
    // Proxy thread. Starts at most one prefetch of a segment after the token's in its rendition:
    // after a delivery with continuation false (the allowance is counted again), after a
    // published prefetch or a cooldown with continuation true.
    void prefetchFollowing(const TokenInfo &token, bool continuation);
    // A prefetch of the URL is claimed and not yet finished.
    [[nodiscard]] bool isPrefetching(const QString &url) const;
    void finishPrefetch(const QString &url);
    // Any thread; affects prefetches started afterwards.
    void setPrefetchSeams(const PrefetchSeams &seams);
    [[nodiscard]] PrefetchStatus prefetchStatus(const QString &sessionId, const QString &renditionId,
                                                const QString &url) const;
    [[nodiscard]] static QString renditionKey(const QString &sessionId, const QString &renditionId);
    // One warning per kind of rejection and window; the rest are counted into a summary.
    void recordRejected(const QString &reason, const QString &sampleFingerprint, const QString &resourceType);

    // How many rejected-request windows are open; each closes RejectionWindowMs after it opened.
    [[nodiscard]] int openRejectionWindowCount() const;
    // Read-only views of what a session's playback reports and its playlists left behind.
    [[nodiscard]] PlaybackState playbackState(const QString &sessionId) const;
    [[nodiscard]] QMap<quint64, TokenInfo> rememberedResources(const QString &sessionId,
                                                               const QString &renditionId) const;

Q_SIGNALS:
    // Emitted on the proxy thread; playback control receives them queued.
    void sessionStopped(const QString &sessionId);
    void segmentDelivered(const QString &sessionId, const QString &renditionId, qlonglong startMs,
                          qlonglong endMs);
    void segmentDemanded(const QString &sessionId, const QString &renditionId);
    void segmentReached(const QString &sessionId, qulonglong generation, const QString &renditionId,
                        qlonglong startMs, qlonglong endMs);
    void segmentTransfer(const QString &sessionId, qlonglong bytes, qlonglong elapsedMs, bool cacheHit);
    void sourceReached(const QString &sessionId, qulonglong generation, ProxyResourceType resourceType);
    void proxyFailure(const ProxyFailureRecord &failure);

public:
    // Posted to the proxy thread by playback control. A rate is kept within 0.25..4 (NaN and
    // anything at most 0.25 become 0.25); a session that stops playing loses its prefetches.
    Q_INVOKABLE void updatePlaybackState(const QString &sessionId, bool active, double playbackRate,
                                         bool recentStall);
    Q_INVOKABLE void updatePlaybackState(const QString &sessionId, bool active, double playbackRate);
    // Drops idle upstream connections before a transport recovery rebuilds the stream.
    Q_INVOKABLE void clearConnectionCache();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    struct RejectedRequestEntry
    {
        qint64 suppressed = 0;
        QString sampleFp;
        QString reason;
        QString resourceType;
    };

    // Proxy thread: stops what still runs for an unregistered session, then announces it.
    void tearDownSession(const QString &sessionId);
    void startRejectionWindow(const QString &key);
    void closeRejectionWindow(const QString &key);
    [[nodiscard]] QList<HlsProxySession *> connections() const;
    static void abortReplies(const QList<quorin::MediaFetch *> &replies);

    // Prefetch, proxy thread. Under the lock: the recount or continuation and the candidate.
    [[nodiscard]] std::optional<quorin::PrefetchTransfer> findPrefetchCandidate(const TokenInfo &token,
                                                                                bool continuation);
    void recountAllowanceLocked(const TokenInfo &token, const QString &key);
    void releaseExtraAllowanceLocked(const QString &sessionId, const QString &key);
    [[nodiscard]] bool skipsCandidateLocked(const TokenInfo &segment, qint64 now) const;
    [[nodiscard]] bool claimPrefetch(const QString &url);
    void startPrefetchRequest(const std::shared_ptr<quorin::PrefetchTransfer> &transfer);
    void readPrefetchBody(quorin::MediaFetch *fetch, quorin::PrefetchTransfer &transfer);
    void onPrefetchFinished(quorin::MediaFetch *fetch,
                            const std::shared_ptr<quorin::PrefetchTransfer> &transfer);
    void failPrefetch(const TokenInfo &token);
    void startPrefetchWorker(const std::shared_ptr<quorin::PrefetchTransfer> &transfer);
    void completePrefetch(const quorin::PrefetchOutcome &outcome);
    [[nodiscard]] PrefetchSeams prefetchSeams() const;
    [[nodiscard]] qint64 prefetchNowMs() const;

    // Guards every table from m_sessions to m_prefetchRetryAtMs. Non-recursive: nothing called
    // under it may call back into the server.
    mutable QMutex m_mutex;
    HlsTokenRegistry m_tokenRegistry;
    QHash<QString, SessionInfo> m_sessions;
    QHash<QString, QHash<QString, QByteArray>> m_sourceKeys; // session id, key URL -> 16 bytes
    QHash<QString, int> m_activeRequests;                    // 0..MaximumRequestsPerSession
    QSet<QString> m_retiredSessions;                         // at most RetiredSessionLimit
    QSet<QString> m_retiringSessions;
    QHash<QString, RejectedRequestEntry> m_rejectedRequests; // one entry per open window
    // session id, rendition id, sequence -> segment token
    QHash<QString, QHash<QString, QMap<quint64, TokenInfo>>> m_resources;
    // Prefetch bookkeeping. The replies are touched on the proxy thread only.
    QSet<QString> m_prefetchingUrls;
    // session id -> request in flight -> its segment URL
    QHash<QString, QHash<quorin::MediaFetch *, QString>> m_prefetchReplies;
    QHash<QString, bool> m_playing;
    QHash<QString, double> m_playbackRates;
    QHash<QString, int> m_prefetchAllowance;      // rendition key -> count
    QHash<QString, int> m_prefetchExtraAllowance; // rendition key -> count
    QSet<QString> m_boostedRenditions;
    QHash<QString, int> m_publishedPrefetchCount; // session id -> count
    QHash<QString, qint64> m_measuredThroughput;  // session id -> bits per second
    QHash<QString, qint64> m_mediaBitrate;        // session id -> bits per second
    QHash<QString, bool> m_recentStall;
    // Written on the proxy thread only; under the lock all the same, so that views may read them.
    QHash<QString, int> m_prefetchFailures;     // URL -> consecutive failures
    QHash<QString, qint64> m_prefetchRetryAtMs; // URL -> ms since the epoch
    PrefetchSeams m_prefetchSeams;

    std::atomic<quint16> m_port{0};
    QNetworkAccessManager *m_network = nullptr; // child of the server
};
