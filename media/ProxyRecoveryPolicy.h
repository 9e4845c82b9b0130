#pragma once

#include "hlsproxy/ProxyFailureRecord.h"

#include <QSet>
#include <QString>
#include <QtGlobal>

// What playback control does with a failure report of the proxy: ignore a report of an earlier
// stream, rebuild the stream through a fresh proxy session, refresh the sign-in, try a budgeted
// transport recovery, or end playback with a failure of a given kind. Pure logic, no state.
class ProxyRecoveryPolicy
{
public:
    enum class Action : int {
        Ignore = 0,
        Rebuild = 1,
        RefreshAuthentication = 2,
        SessionExpired = 3, // playback control's own conclusion; decide never returns it
        AccountBlocked = 4,
        AccessDenied = 5,
        SourceUnavailable = 6,
        SetupFailed = 7,
        TransportRecovery = 8,
        ProxyError = 9,
    };

    // sessionId and generation are those of the current stream; rebuildMade tells whether a
    // rebuild was already made for it. A record without a session id is judged by its
    // generation alone.
    //
    // faultedCopies: the resources (ProxyFailureRecord::resourceFp) whose cached copy already
    // failed in the current stream. A cache fault is answered with a rebuild, which fetches the
    // resource upstream since the copy no longer counts; the caller then adds the record's
    // resourceFp, and a second fault of the same resource ends playback as a set-up failure. The
    // caller keeps the set beside its rebuild flag and clears it whenever it clears that flag.
    [[nodiscard]] static Action decide(const ProxyFailureRecord &record, const QString &sessionId,
                                       quint64 generation, bool rebuildMade,
                                       const QSet<QString> &faultedCopies = {});
    // The record reports a cached copy that could not be read back.
    [[nodiscard]] static bool isCacheFault(const ProxyFailureRecord &record);

private:
    [[nodiscard]] static Action decideUpstream(int httpStatus, const QString &upstreamCode);
    [[nodiscard]] static Action decideLocal(ProxyFailureReason reason, int httpStatus, bool rebuildMade);
    [[nodiscard]] static Action decideCacheFault(const QString &resourceFp,
                                                 const QSet<QString> &faultedCopies);
};
