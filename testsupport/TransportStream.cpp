#include "testsupport/TransportStream.h"

namespace quorin::test {

namespace {

constexpr quint8 SyncByte = 0x47;

int pidOf(const char *packet)
{
    return ((quint8(packet[1]) & 0x1F) << 8) | quint8(packet[2]);
}

} // namespace

bool TransportStream::hasSyncBytes(const QByteArray &data)
{
    if (data.isEmpty() || data.size() % PacketSize != 0)
        return false;
    for (qsizetype offset = 0; offset < data.size(); offset += PacketSize) {
        if (quint8(data.at(offset)) != SyncByte)
            return false;
    }
    return true;
}

qsizetype TransportStream::firstPacketWithPid(const QByteArray &data, int pid)
{
    for (qsizetype index = 0; (index + 1) * PacketSize <= data.size(); ++index) {
        if (pidOf(data.constData() + index * PacketSize) == pid)
            return index;
    }
    return -1;
}

int TransportStream::validSectionTableId(const QByteArray &data, qsizetype packetIndex)
{
    if (packetIndex < 0 || (packetIndex + 1) * PacketSize > data.size())
        return -1;
    const char *packet = data.constData() + packetIndex * PacketSize;
    const auto byte = [packet](qsizetype index) { return quint8(packet[index]); };
    const bool payloadUnitStart = (byte(1) & 0x40) != 0;
    const int adaptationControl = (byte(3) >> 4) & 0x3;
    if (byte(0) != SyncByte || !payloadUnitStart || (adaptationControl & 0x1) == 0)
        return -1;
    qsizetype offset = 4;
    if (adaptationControl & 0x2)
        offset += 1 + byte(4);
    if (offset >= PacketSize)
        return -1;
    offset += 1 + byte(offset); // pointer field
    if (offset + 3 > PacketSize)
        return -1;
    const qsizetype sectionLength = ((byte(offset + 1) & 0x0F) << 8) | byte(offset + 2);
    const qsizetype sectionEnd = offset + 3 + sectionLength;
    if (sectionLength < 4 || sectionEnd > PacketSize)
        return -1;
    // Run over a section with its trailing CRC, the CRC-32/MPEG-2 register ends at zero.
    if (crc32Mpeg2(packet + offset, sectionEnd - offset) != 0)
        return -1;
    return byte(offset);
}

quint32 TransportStream::crc32Mpeg2(const char *data, qsizetype size)
{
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= quint32(quint8(data[i])) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

} // namespace quorin::test
