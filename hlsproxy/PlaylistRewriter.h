#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace quorin {

// Turns one upstream HLS playlist into the playlist the media player receives, which names only
// the proxy's loopback URLs. A master playlist keeps its lines and order, its variant URIs becoming
// playlist URLs. A media playlist starts with one key line pointing at the proxy's key with the
// session's IV, loses every upstream key and byte-range line, and its segments and initialisation
// section become chunk URLs; the key, IV and byte range that applied to each travel with it into
// its registration. One pass over the lines, stopping at the first line it must refuse.
//
// Plain: no sockets, timers or files. Tokens are made by the caller, through the registrar.
class PlaylistRewriter
{
public:
    static constexpr qsizetype MaximumPlaylistBytes = 2097152;

    // What the written URLs carry.
    struct SessionValues
    {
        quint16 port = 0;
        QString sessionId;
        quint64 generation = 0;
        QByteArray playbackIv; // 16 bytes: the IV of the one key line
    };

    // A segment or initialisation section of a media playlist, as the playlist places it.
    struct Chunk
    {
        QUrl url;              // absolute upstream URL
        QString keyUrl;        // absolute URL of its AES-128 key; empty when clear
        QByteArray sourceIv;   // the key line's IV, else the IV of its media sequence number
        QString byteRange;     // "length@offset"; empty for the whole resource
        qint64 startMs = -1;   // on the rendition's timeline; -1 for an initialisation section
        qint64 durationMs = 0; // 0 for an initialisation section
        quint64 sequence = 0;  // 0 for an initialisation section
        QString renditionId;   // fingerprint of the media playlist's upstream URL
    };

    struct Registrar
    {
        // The token of a variant of a master playlist; empty when none can be made.
        std::function<QString(const QUrl &url)> registerPlaylist;
        // The loopback URL that serves a chunk.
        std::function<QString(const Chunk &chunk)> registerChunk;
    };

    enum class Kind { Master, Media };

    struct Result
    {
        int status = 200; // 200, or the status of the error answer
        QString reason;   // the error answer's reason phrase
        Kind kind = Kind::Media;
        QByteArray body; // the rewritten playlist, every line ending in "\n"; empty on a refusal

        [[nodiscard]] bool succeeded() const { return status == 200; }
    };

    // playlistUrl is the upstream URL as text: the base of relative URIs and, fingerprinted, the
    // rendition id of a media playlist's chunks.
    [[nodiscard]] static Result rewrite(const QByteArray &body, const QString &playlistUrl,
                                        const SessionValues &session, const Registrar &registrar);

    // A media playlist mentions "#EXTINF" somewhere; anything else is read as a master playlist.
    [[nodiscard]] static Kind kindOf(const QString &text);

    // An EXTINF duration in milliseconds, rounded half away from zero on the decimal number the
    // text gives ("5.0005" is 5001 ms, although the nearest double lies just below 5.0005). Empty
    // for text that is no number, a negative, infinite or NaN duration, or one above the playlist
    // parser's longest segment, so that no start on a timeline can overflow.
    [[nodiscard]] static std::optional<qint64> durationMs(QStringView text);
};

} // namespace quorin
