#include "hlsproxy/SegmentTransferRules.h"

namespace quorin {

namespace {
constexpr qint64 BlockBytes = 16;
constexpr double SlowThroughputMibS = 3.0;
constexpr qint64 SlowAfterMs = 750;
constexpr double MebibyteBytes = 1048576.0;
} // namespace

qint64 reencryptedLength(qint64 sourceBytes, bool keyedSource)
{
    if (keyedSource)
        return sourceBytes;
    return sourceBytes / BlockBytes * BlockBytes + BlockBytes;
}

TransferClassification classifyTransfer(qint64 bytes, qint64 elapsedMs)
{
    TransferClassification result;
    result.elapsedMs = elapsedMs <= 1 ? 1 : elapsedMs;
    result.throughputMibS = double(bytes) * 1000.0 / (double(result.elapsedMs) * MebibyteBytes);
    result.healthy = !(result.throughputMibS < SlowThroughputMibS && elapsedMs >= SlowAfterMs);
    return result;
}

} // namespace quorin
