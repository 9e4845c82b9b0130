#pragma once

#include <QtGlobal>

namespace quorin {

// The byte count the player receives for a segment source of sourceBytes: a keyed source already
// carries its padding and re-encrypts to the same length; a clear one gains PKCS#7 padding (up to
// the next multiple of 16, a whole block when it already is one). Lets an answer announce its
// length before any byte is processed.
[[nodiscard]] qint64 reencryptedLength(qint64 sourceBytes, bool keyedSource);

struct TransferClassification
{
    qint64 elapsedMs = 1;      // the elapsed time the figures use: never below 1
    double throughputMibS = 0; // MiB per second
    bool healthy = true;       // false: a slow transfer, reported as such
};

// A transfer is slow when it ran at least 750 ms at below 3.0 MiB/s.
[[nodiscard]] TransferClassification classifyTransfer(qint64 bytes, qint64 elapsedMs);

} // namespace quorin
