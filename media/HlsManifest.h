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
};
