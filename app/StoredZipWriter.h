#pragma once

#include <QByteArray>
#include <QList>

namespace quorin {

// Builds a ZIP archive in memory with every entry stored, not compressed: no compression library,
// no data descriptors, extra fields, comments or time stamps (all time and date fields are 0).
// Entries keep the order they were added in. Sizes and offsets are written as their low 32 bits,
// so the archive is meant for contents well below 4 GiB.
class StoredZipWriter
{
public:
    void addEntry(const QByteArray &name, const QByteArray &data);
    [[nodiscard]] QByteArray archive() const;

    // The ZIP checksum: reflected polynomial 0xEDB88320, initial value and final complement
    // 0xFFFFFFFF; 0 for no data.
    [[nodiscard]] static quint32 crc32(const QByteArray &data);

private:
    struct Entry
    {
        QByteArray name;
        QByteArray data;
    };

    QList<Entry> m_entries;
};

} // namespace quorin
