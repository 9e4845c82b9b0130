#pragma once

#include "hlsproxy/PrefetchTransfer.h"

#include <QByteArray>
#include <functional>

namespace quorin {

// The part of a prefetch that runs on the global thread pool: it checks a keyed body against
// its source key, encrypts it at rest and publishes it into the cache. Touches no table of the
// proxy; whether the session still wants the segment is asked through a callable.
class PrefetchWorker
{
public:
    PrefetchWorker() = delete;

    // A keyed body must decrypt (AES-128-CBC, standard padding) to something non-empty; a key or
    // IV of any length but 16 fails. The decrypted bytes and the key copy are wiped.
    [[nodiscard]] static bool sourceCheckPasses(const QByteArray &body, QByteArray &sourceKey,
                                                const QByteArray &sourceIv);
    // Checks, encrypts and stages the body, and publishes it while sessionActive() holds. The body
    // and the source key are wiped whatever the outcome; no staging file is left behind unless
    // the cache refused to publish it (its own clean-up takes it then). True when published.
    [[nodiscard]] static bool store(PrefetchTransfer &transfer, const std::function<bool()> &sessionActive);

    // Overwrites the bytes in place; the array must not share its data with another.
    static void wipe(QByteArray &bytes);
};

} // namespace quorin
