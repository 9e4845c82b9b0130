#pragma once

#include "hlsproxy/ProxyFailureRecord.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace quorin {

// The two failure reports a proxy connection can send. Each takes what the connection holds at
// that moment: its resource type, session id and generation (Unknown, empty and 0 before the
// request was routed). Sending at most one report per connection is the connection's business.

// The proxy refused or failed the request itself, answering httpStatus.
[[nodiscard]] ProxyFailureRecord localFailureReport(ProxyFailureReason reason, int httpStatus,
                                                    ProxyResourceType resourceType, const QString &sessionId,
                                                    quint64 generation);

// The upstream request failed. A network error counts as a transport failure only when no HTTP
// status came back; the structured code is read from the body and the error-code header value.
[[nodiscard]] ProxyFailureRecord upstreamFailureReport(int httpStatus, int networkError,
                                                       const QByteArray &body,
                                                       const QByteArray &errorCodeHeader,
                                                       ProxyResourceType resourceType,
                                                       const QString &sessionId, quint64 generation);

// The cached copy of a resource being served could not be read back (it did not decrypt, or the
// vault could not transform it). The record names the resource by the fingerprint of its URL, so
// that playback control can tell a second fault of the same copy from a first.
[[nodiscard]] ProxyFailureRecord cacheFaultReport(const QString &resourceUrl, ProxyResourceType resourceType,
                                                  const QString &sessionId, quint64 generation);

} // namespace quorin
