#include "hlsproxy/LoopbackUrls.h"

namespace quorin {

// Every value is filled in one pass, so a value that happens to contain "%2" is never filled again.

QString LoopbackUrls::playlist(quint16 port, const QString &token, const QString &sessionId,
                               quint64 generation)
{
    return QStringLiteral("http://127.0.0.1:%1/playlist.m3u8?token=%2&session=%3&generation=%4")
        .arg(QString::number(port), token, sessionId, QString::number(generation));
}

QString LoopbackUrls::key(quint16 port, const QString &sessionId, quint64 generation)
{
    return QStringLiteral("http://127.0.0.1:%1/key.bin?session=%2&generation=%3")
        .arg(QString::number(port), sessionId, QString::number(generation));
}

QString LoopbackUrls::chunk(quint16 port, const QString &token, const QString &sessionId, quint64 generation)
{
    return QStringLiteral("http://127.0.0.1:%1/chunk.ts?token=%2&session=%3&generation=%4")
        .arg(QString::number(port), token, sessionId, QString::number(generation));
}

} // namespace quorin
