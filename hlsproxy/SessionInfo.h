#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One playback session registered with the proxy. The session id is not a member: it is the key
// the record is registered under. Copies handed out by the proxy are snapshots.
struct SessionInfo
{
    QString lectureId;
    QByteArray playbackKey;     // 16 random bytes: the only key the media player ever sees
    QByteArray playbackIv;      // 16 random bytes: the IV of the rewritten key line and the re-encryption
    QByteArray masterIv;        // the lecture's master IV, base of the at-rest IVs of its cache files
    QByteArray authorization;   // "Authorization" for upstream requests; follows sign-in refreshes
    QByteArray acceptLanguage;  // "Accept-Language" for upstream requests
    qint64 registeredAtMs = 0;  // ms since the epoch; always set by the proxy when it registers
    quint64 generation = 0;     // stream generation, stamped into every token and loopback URL
    quint64 authGeneration = 0; // generation of the credentials above; compared unsigned

    friend bool operator==(const SessionInfo &, const SessionInfo &) = default;
};

Q_DECLARE_TYPEINFO(SessionInfo, Q_RELOCATABLE_TYPE);
