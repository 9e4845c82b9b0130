#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QtGlobal>

// One entry of a media playlist: a segment, an AES-128 key, or an initialisation segment, with
// every URL absolute. Segments and initialisation segments always carry a 16-byte IV: the one
// of the key in force, else the one derived from the media sequence number.
struct HlsResource
{
    enum class Type { Segment = 0, Key = 1, InitSegment = 2 };

    Type type = Type::Segment;
    QUrl url;
    QString byteRange; // as written in the playlist
    quint64 sequence = 0;
    qint64 startMs = -1;
    qint64 durationMs = 0;
    QString keyMethod; // "AES-128" or empty
    QUrl keyUrl;
    QByteArray iv;
};

// Every member is relocatable, so long lists grow by moving memory, not element by element.
Q_DECLARE_TYPEINFO(HlsResource, Q_RELOCATABLE_TYPE);
