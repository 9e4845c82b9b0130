#pragma once

#include "hlsproxy/TokenInfo.h"
#include "media/ResourceCache.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace quorin {

// One prefetch from its request to its completion, handed from the proxy thread to the pool
// worker and back. The lease is shared so that whichever of the reply handler and the worker ends
// last lets the cache evict the entry again.
struct PrefetchTransfer
{
    TokenInfo token;      // with the session's current credentials
    QString renditionKey; // session id, "|", rendition id
    QString cacheKey;     // the vault key of the segment's cache entry
    QByteArray sourceKey; // 16 bytes for a keyed segment, empty for a clear one; a private copy
    qint64 startedAtMs = 0;
    std::shared_ptr<ResourceCache::TemporaryLease> lease;
    QByteArray body;        // the upstream body, encrypted as it came
    qint64 elapsedMs = 1;   // request to last byte, at least 1
    bool oversized = false; // the body passed the accepted size and was cut off
};

// What the worker hands back to the proxy thread.
struct PrefetchOutcome
{
    TokenInfo token;
    QString renditionKey;
    bool published = false;
    qint64 elapsedMs = 1;
    qint64 bytes = 0;
};

} // namespace quorin
