#pragma once

#include "media/MediaResourceKind.h"
#include "net/MediaAuthSnapshot.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

class QNetworkRequest;

// The rules every request to a media origin follows: its headers, redirect policy and transfer
// time-out, which destinations and redirects are acceptable, and how an error answer reduces to
// one structured code. No state and no lock; callable from any thread.
class MediaNetworkPolicy
{
public:
    static constexpr int PlaylistTransferTimeoutMs = 8000;
    static constexpr int TransferTimeoutMs = 30000;
    static constexpr qsizetype ErrorBodyBytes = 4096;
    static constexpr qsizetype MaximumErrorCodeLength = 96;

    // Sets "Accept" by kind, "Accept-Encoding: identity", the snapshot's "Accept-Language" and
    // "Authorization" and the range when not empty (replacing headers of the same name), the
    // manual redirect policy and the time-out. Redirects are followed by quorin::MediaFetch, which
    // checks each target with the rules below before anything is sent to it.
    static void apply(QNetworkRequest &request, MediaResourceKind kind, const MediaAuthSnapshot &snapshot,
                      const QByteArray &range = {});

    [[nodiscard]] static bool validHttpsDestination(const QUrl &url);
    [[nodiscard]] static bool allowRedirect(const QUrl &requested, const QUrl &target, bool carriesBearer);
    [[nodiscard]] static bool mayForwardBearer(const QUrl &requested, const QUrl &target);

    // The normalised code of an error answer: from the header value when it yields one, else
    // from the first 4096 bytes of the body ("code", "errorCode", "error", then "error"."code").
    // Empty when there is none.
    [[nodiscard]] static QString structuredErrorCode(const QByteArray &body, const QByteArray &headerValue);
    [[nodiscard]] static bool isExactCourseAccessDenied(const QByteArray &body,
                                                        const QByteArray &headerValue);
    // Whether the caller should refresh the sign-in once and retry: a 401, or a 403 without any
    // structured code, and only when no refresh was made for this transfer yet.
    [[nodiscard]] static bool shouldRefreshAuthentication(int httpStatus, const QByteArray &body,
                                                          const QByteArray &headerValue,
                                                          bool alreadyRefreshed);
};
