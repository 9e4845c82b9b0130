#pragma once

#include <QByteArray>

namespace quorin::test {

// Checks that bytes are MPEG-TS: a sync byte every 188 bytes, and program-specific sections whose
// CRC-32 holds. A wrong AES-CBC IV spoils only the first 16 bytes of a segment, which the sync
// bytes alone would not notice but the CRC of the section in the first packet does.
class TransportStream
{
public:
    static constexpr int PacketSize = 188;
    static constexpr int ProgramAssociationPid = 0;
    static constexpr int ProgramAssociationTableId = 0;

    [[nodiscard]] static bool hasSyncBytes(const QByteArray &data);
    // The index of the first packet with this PID, or -1.
    [[nodiscard]] static qsizetype firstPacketWithPid(const QByteArray &data, int pid);
    // The table id of the section that starts in this packet when its CRC-32 holds, else -1.
    [[nodiscard]] static int validSectionTableId(const QByteArray &data, qsizetype packetIndex);
    // CRC-32/MPEG-2 (polynomial 0x04C11DB7, no reflection, initial value all ones).
    [[nodiscard]] static quint32 crc32Mpeg2(const char *data, qsizetype size);
};

} // namespace quorin::test
