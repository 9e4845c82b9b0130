#pragma once

#include "media/HlsResource.h"
#include "media/HlsVariant.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

// Turns the bytes of one HLS playlist, master or media, into its variants or its keys,
// initialisation segments and segments, every URL resolved against the playlist's own URL.
// AES-128 or no encryption only. Fetches nothing and keeps no state: the proxy thread and the GUI
// thread call it at the same time.
class HlsManifest
{
public:
    struct Result
    {
        bool valid = false;
        bool master = false;
        QString error; // fixed English text; empty exactly when valid
        QList<HlsVariant> variants;
        QList<HlsResource> resources;
    };

    static constexpr qsizetype MaximumPlaylistBytes = 2 * 1024 * 1024;
    // A day: no real segment comes near it, and it keeps the running start far from overflow.
    static constexpr double MaximumSegmentSeconds = 86400.0;

    [[nodiscard]] static Result parse(const QByteArray &data, const QUrl &playlistUrl);

    // One attribute of a tag line: the text after the first ':' (the whole line without one) is
    // searched for NAME=value or NAME="value"; the first occurrence wins. The value without quotes,
    // trimmed; a null string when the attribute is absent.
    [[nodiscard]] static QString attributeValue(const QString &tagLine, const QString &name);
    // The IV of an AES-128 key line without one: eight zero bytes, then the media sequence number
    // as a big-endian 64-bit integer.
    [[nodiscard]] static QByteArray sequenceIv(quint64 sequence);
};
