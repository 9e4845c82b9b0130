#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace quorin::test {

// The parameters the media generation step used (fixtures.json beside the media): playlists,
// segment counts, rendition sizes, keys and IVs. Tests read expected values from here.
class MediaFixtures
{
public:
    [[nodiscard]] static QJsonObject parameters();
    [[nodiscard]] static QJsonObject entry(const QString &name);
    // The absolute path of a file below the media folder.
    [[nodiscard]] static QString path(const QString &relativePath);
    [[nodiscard]] static QByteArray readFile(const QString &relativePath);
    [[nodiscard]] static QByteArray hexBytes(const QString &entryName, const QString &field);
};

} // namespace quorin::test
