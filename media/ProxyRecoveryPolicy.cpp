#include "media/ProxyRecoveryPolicy.h"

#include <QLatin1String>
#include <initializer_list>

using Action = ProxyRecoveryPolicy::Action;

ProxyRecoveryPolicy::Action ProxyRecoveryPolicy::decide(const ProxyFailureRecord &record,
                                                        const QString &sessionId, quint64 generation,
                                                        bool rebuildMade, const QSet<QString> &faultedCopies)
{
    if (record.generation != generation)
        return Action::Ignore;
    if (!record.sessionId.isEmpty() && record.sessionId != sessionId)
        return Action::Ignore;
    switch (record.origin) {
    case ProxyFailureOrigin::NetworkTransport:
        return Action::TransportRecovery;
    case ProxyFailureOrigin::UpstreamHttp:
        return decideUpstream(record.httpStatus, record.upstreamCode);
    case ProxyFailureOrigin::LocalProxy:
        break;
    }
    if (isCacheFault(record))
        return decideCacheFault(record.resourceFp, faultedCopies);
    return decideLocal(record.reason, record.httpStatus, rebuildMade);
}

bool ProxyRecoveryPolicy::isCacheFault(const ProxyFailureRecord &record)
{
    // Judged as decide() judges it: an origin this build does not know counts as the proxy's own.
    const bool upstream = record.origin == ProxyFailureOrigin::UpstreamHttp ||
                          record.origin == ProxyFailureOrigin::NetworkTransport;
    return !upstream && record.reason == ProxyFailureReason::CacheFault;
}

Action ProxyRecoveryPolicy::decideCacheFault(const QString &resourceFp, const QSet<QString> &faultedCopies)
{
    // One damaged file must not end a lecture: the copy was dropped, so a rebuild fetches the
    // resource anew. A copy that fails again came back damaged, which no rebuild mends.
    return faultedCopies.contains(resourceFp) ? Action::SetupFailed : Action::Rebuild;
}

Action ProxyRecoveryPolicy::decideUpstream(int httpStatus, const QString &upstreamCode)
{
    const QString code = upstreamCode.trimmed().toUpper();
    const auto codeIs = [&code](std::initializer_list<const char *> words) {
        for (const char *word : words) {
            if (code == QLatin1String(word))
                return true;
        }
        return false;
    };

    // The status 401 is tested before any code: whatever the body says, the sign-in is stale.
    if (httpStatus == 401 || (httpStatus == 403 && code.isEmpty()))
        return Action::RefreshAuthentication;
    if (codeIs({"COURSE_ACCESS_DENIED"}))
        return Action::AccessDenied;
    if (codeIs({"AUTH_MISSING", "AUTH_INVALID", "AUTH_EXPIRED"}))
        return Action::RefreshAuthentication;
    if (codeIs({"USER_BLOCKED"}))
        return Action::AccountBlocked;
    if (httpStatus == 403)
        return Action::TransportRecovery;
    // 404 is tested before the set-up codes: a missing resource is not a broken one.
    if (httpStatus == 404 || codeIs({"CONTENT_NOT_FOUND"}))
        return Action::SourceUnavailable;
    if (codeIs({"DECRYPTION_FAILED", "INVALID_CONTENT_KEY", "INVALID_RANGE", "MALFORMED_MANIFEST"}))
        return Action::SetupFailed;
    if (httpStatus == 408 || httpStatus == 429 || httpStatus < 400 || httpStatus > 499)
        return Action::TransportRecovery;
    return Action::SetupFailed;
}

Action ProxyRecoveryPolicy::decideLocal(ProxyFailureReason reason, int httpStatus, bool rebuildMade)
{
    // A stale token or session is cured by one rebuild; a second such failure of the same stream
    // is the proxy's fault. An overloaded proxy is a transport problem.
    const bool notFoundOrForbidden = httpStatus == 403 || httpStatus == 404;
    switch (reason) {
    case ProxyFailureReason::UnknownSession:
    case ProxyFailureReason::UnknownToken:
    case ProxyFailureReason::RetiredSession:
        return rebuildMade ? Action::ProxyError : Action::Rebuild;
    case ProxyFailureReason::RequestLimit:
        return notFoundOrForbidden && !rebuildMade ? Action::Rebuild : Action::TransportRecovery;
    case ProxyFailureReason::LocalRefusal:
        return Action::ProxyError;
    default:
        return notFoundOrForbidden && !rebuildMade ? Action::Rebuild : Action::ProxyError;
    }
}
