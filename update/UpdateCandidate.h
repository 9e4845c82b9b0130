#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QtGlobal>

// One release offer of the release service, as read by UpdatePolicy::parseResponse. A plain
// value; a default-constructed one is the empty record (no offer).
struct UpdateCandidate
{
    qint64 id = -1;
    QString version;
    qint64 buildNumber = 0;
    QString releaseNotes;
    // Kept with the record, never evaluated.
    QString minimumVersion;
    bool updateAvailable = false;
    bool updateRequired = false;
    // "store" opens a store page; "download" fetches an installer.
    QString actionType;
    QUrl url;
    // The download fields are set for a "download" action only.
    QString filename;
    qint64 size = -1;
    QByteArray sha256; // 32 raw bytes
    QString signatureType;
    QString signingKeyID; // "ed25519-" and 16 lower-case hexadecimal digits
    QByteArray signature; // 64 raw bytes, Ed25519 over the 32 digest bytes
    // Whether the answer was read under the stable channel's rule.
    bool stable = false;

    friend bool operator==(const UpdateCandidate &, const UpdateCandidate &) = default;
};
