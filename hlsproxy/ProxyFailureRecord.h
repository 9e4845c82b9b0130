#pragma once

#include <QLatin1String>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// Who failed a request the proxy could not serve.
enum class ProxyFailureOrigin : qint32 {
    LocalProxy = 0,      // the proxy refused or failed the request itself
    UpstreamHttp = 1,    // upstream failed with an HTTP status, or without a network error
    NetworkTransport = 2 // upstream failed with a network error and no HTTP status
};

// Why the request failed. The upstream values start at 6; 5 is deliberately unassigned because
// the numbers are written to the diagnostics log and must keep their meaning.
enum class ProxyFailureReason : qint32 {
    UnknownSession = 0,   // 404: the token and session lead to no live session
    UnknownToken = 1,     // 404: a segment token the registry does not know
    RetiredSession = 2,   // 410: the session was unregistered
    RequestLimit = 3,     // 429: the session already had its requests in flight
    LocalRefusal = 4,     // any other error answer of the proxy, with its own status
    UpstreamPlaylist = 6, // upstream failure while fetching a playlist
    UpstreamKey = 7,      // upstream failure while fetching an AES-128 key
    UpstreamSegment = 8,  // upstream failure while fetching a segment, or of an unrouted request
    CacheFault = 9,       // the cached copy being served did not decrypt; it no longer counts as cached
};

// What a proxy connection was serving, from the start of its request path.
enum class ProxyResourceType : qint32 {
    Unknown = 0,  // nothing routed yet
    Playlist = 1, // "/playlist"
    Key = 2,      // "/key.bin"
    Segment = 3,  // "/chunk"
};

// The report a proxy connection sends, at most once, when it cannot serve its request. A plain
// value: copies travel from the proxy thread to playback control through queued connections.
struct ProxyFailureRecord
{
    ProxyFailureOrigin origin = ProxyFailureOrigin::LocalProxy;
    ProxyFailureReason reason = ProxyFailureReason::UnknownSession;
    ProxyResourceType resourceType = ProxyResourceType::Unknown;
    int httpStatus = 0;   // the proxy's own answer for a local failure, else the upstream status; 0 for none
    int networkError = 0; // the upstream reply's QNetworkReply::NetworkError; 0 for local failures
    QString upstreamCode; // structured error code of the upstream answer; empty for local failures
    QString sessionId;    // empty when the request never named one
    quint64 generation = 0;
    // A cache fault's resource: the fingerprint of its upstream URL. Empty for every other failure.
    QString resourceFp;

    friend bool operator==(const ProxyFailureRecord &, const ProxyFailureRecord &) = default;
};

Q_DECLARE_TYPEINFO(ProxyFailureRecord, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(ProxyFailureRecord)
Q_DECLARE_METATYPE(ProxyResourceType)

namespace quorin {

// The word the diagnostics log and the playback failures use for an origin. A value outside the
// enumeration counts as an upstream failure.
[[nodiscard]] inline QLatin1String proxyFailureOriginWord(ProxyFailureOrigin origin)
{
    switch (origin) {
    case ProxyFailureOrigin::LocalProxy:
        return QLatin1String("local_proxy");
    case ProxyFailureOrigin::NetworkTransport:
        return QLatin1String("network_transport");
    case ProxyFailureOrigin::UpstreamHttp:
        break;
    }
    return QLatin1String("upstream_backend");
}

} // namespace quorin
