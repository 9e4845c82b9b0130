#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>

// What a media request needs from the sign-in state, copied freely between threads: the
// "Authorization" value ("Bearer " and the access token, empty when signed out), the
// "Accept-Language" value, and the token generation it was taken at (larger is newer).
struct MediaAuthSnapshot
{
    QByteArray authorization;
    QByteArray acceptLanguage;
    quint64 generation = 0;

    friend bool operator==(const MediaAuthSnapshot &, const MediaAuthSnapshot &) = default;
};

Q_DECLARE_METATYPE(MediaAuthSnapshot)
