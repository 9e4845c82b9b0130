#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One upstream resource of one playback session that the proxy serves under an opaque token: a
// playlist, a media segment or an initialisation segment. Which fields are filled tells the kind;
// a playlist token leaves the keys, IVs, byte range and rendition empty and startMs at -1.
struct TokenInfo
{
    QString url; // absolute upstream URL
    QString lectureId;
    QString sessionId;
    quint64 generation = 0; // stream generation of the session
    QByteArray playbackKey; // the session's 16-byte key (segment tokens only)
    QByteArray playbackIv;  // the session's 16-byte IV (segment tokens only)
    QByteArray cacheIv;     // at-rest IV of the resource's cache file; empty for playlists
    QByteArray authorization;
    QByteArray acceptLanguage;
    QString keyUrl;        // upstream AES-128 key URL; empty when the segment is clear
    QByteArray keyCacheIv; // at-rest IV of the key's cache file; empty without keyUrl
    QByteArray sourceIv;   // AES-128-CBC IV of the upstream segment; set for clear segments too
    QString byteRange;     // as listed in the playlist; empty for the whole resource
    quint64 sequence = 0;  // media sequence number
    qint64 startMs = -1;   // start on the rendition's timeline; -1 for anything but a media segment
    qint64 durationMs = 0; // 0 for anything but a media segment
    QString renditionId;   // fingerprint of the media playlist's upstream URL; empty for playlists

    friend bool operator==(const TokenInfo &, const TokenInfo &) = default;
};

Q_DECLARE_TYPEINFO(TokenInfo, Q_RELOCATABLE_TYPE);
