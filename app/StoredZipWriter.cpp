#include "app/StoredZipWriter.h"

#include <QtEndian>
#include <array>

namespace quorin {
namespace {

constexpr quint16 kVersion = 20;
constexpr quint16 kStored = 0;
constexpr quint32 kLocalHeaderSignature = 0x04034b50;
constexpr quint32 kCentralRecordSignature = 0x02014b50;
constexpr quint32 kEndRecordSignature = 0x06054b50;

constexpr std::array<quint32, 256> makeCrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 index = 0; index < 256; ++index) {
        quint32 value = index;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1U) != 0 ? 0xEDB88320U ^ (value >> 1) : value >> 1;
        table[index] = value;
    }
    return table;
}

constexpr std::array<quint32, 256> kCrcTable = makeCrcTable();

void append16(QByteArray &out, quint64 value)
{
    char bytes[2];
    qToLittleEndian(quint16(value), bytes);
    out.append(bytes, 2);
}

void append32(QByteArray &out, quint64 value)
{
    char bytes[4];
    qToLittleEndian(quint32(value), bytes);
    out.append(bytes, 4);
}

// The fields that the local header and the central record share, from "version needed" on:
// version, flags, method, time, date, CRC-32, both sizes, name length and extra length.
void appendCommonFields(QByteArray &out, quint32 crc, const QByteArray &name, const QByteArray &data)
{
    append16(out, kVersion);
    append16(out, 0);
    append16(out, kStored);
    append16(out, 0);
    append16(out, 0);
    append32(out, crc);
    append32(out, quint64(data.size()));
    append32(out, quint64(data.size()));
    append16(out, quint64(name.size()));
    append16(out, 0);
}

} // namespace

void StoredZipWriter::addEntry(const QByteArray &name, const QByteArray &data)
{
    m_entries.append({name, data});
}

quint32 StoredZipWriter::crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFU;
    for (const char byte : data)
        crc = kCrcTable[(crc ^ quint8(byte)) & 0xFFU] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFU;
}

QByteArray StoredZipWriter::archive() const
{
    QByteArray out;
    QByteArray central;
    for (const Entry &entry : m_entries) {
        const quint64 headerOffset = quint64(out.size());
        const quint32 crc = crc32(entry.data);

        append32(out, kLocalHeaderSignature);
        appendCommonFields(out, crc, entry.name, entry.data);
        out.append(entry.name);
        out.append(entry.data);

        append32(central, kCentralRecordSignature);
        append16(central, kVersion); // made by
        appendCommonFields(central, crc, entry.name, entry.data);
        append16(central, 0); // comment length
        append16(central, 0); // disk number start
        append16(central, 0); // internal attributes
        append32(central, 0); // external attributes
        append32(central, headerOffset);
        central.append(entry.name);
    }
    const quint64 centralOffset = quint64(out.size());
    out.append(central);

    append32(out, kEndRecordSignature);
    append16(out, 0); // this disk
    append16(out, 0); // disk where the central directory starts
    append16(out, quint64(m_entries.size()));
    append16(out, quint64(m_entries.size()));
    append32(out, quint64(central.size()));
    append32(out, centralOffset);
    append16(out, 0); // comment length
    return out;
}

} // namespace quorin
