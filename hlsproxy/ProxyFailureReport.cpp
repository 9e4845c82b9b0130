#include "hlsproxy/ProxyFailureReport.h"

#include "app/DiagnosticLogger.h"
#include "media/MediaNetworkPolicy.h"

namespace quorin {

ProxyFailureRecord localFailureReport(ProxyFailureReason reason, int httpStatus,
                                      ProxyResourceType resourceType, const QString &sessionId,
                                      quint64 generation)
{
    ProxyFailureRecord record;
    record.origin = ProxyFailureOrigin::LocalProxy;
    record.reason = reason;
    record.resourceType = resourceType;
    record.httpStatus = httpStatus;
    record.sessionId = sessionId;
    record.generation = generation;
    return record;
}

ProxyFailureRecord upstreamFailureReport(int httpStatus, int networkError, const QByteArray &body,
                                         const QByteArray &errorCodeHeader, ProxyResourceType resourceType,
                                         const QString &sessionId, quint64 generation)
{
    ProxyFailureRecord record;
    record.origin = networkError != 0 && httpStatus == 0 ? ProxyFailureOrigin::NetworkTransport
                                                         : ProxyFailureOrigin::UpstreamHttp;
    // Anything not routed to a playlist or a key counts as a segment, values from elsewhere too.
    if (resourceType == ProxyResourceType::Playlist)
        record.reason = ProxyFailureReason::UpstreamPlaylist;
    else if (resourceType == ProxyResourceType::Key)
        record.reason = ProxyFailureReason::UpstreamKey;
    else
        record.reason = ProxyFailureReason::UpstreamSegment;
    record.resourceType = resourceType;
    record.httpStatus = httpStatus;
    record.networkError = networkError;
    record.upstreamCode = MediaNetworkPolicy::structuredErrorCode(body, errorCodeHeader);
    record.sessionId = sessionId;
    record.generation = generation;
    return record;
}

ProxyFailureRecord cacheFaultReport(const QString &resourceUrl, ProxyResourceType resourceType,
                                    const QString &sessionId, quint64 generation)
{
    // The answer's head went out as 200 before the copy failed: there is no status of the proxy's own.
    ProxyFailureRecord record =
        localFailureReport(ProxyFailureReason::CacheFault, 0, resourceType, sessionId, generation);
    record.resourceFp = DiagnosticLogger::fingerprint(resourceUrl);
    return record;
}

} // namespace quorin
