#pragma once

#include <QString>
#include <QUrl>
#include <QtGlobal>

// One variant of a master playlist: the media playlist of one quality and how to label it.
struct HlsVariant
{
    QUrl url;
    QString label; // "720p", else "1500 kbps", else "Variant"
    qint64 bandwidth = 0;
    qint32 width = 0;
    qint32 height = 0;
};

// Every member is relocatable, so long lists grow by moving memory, not element by element.
Q_DECLARE_TYPEINFO(HlsVariant, Q_RELOCATABLE_TYPE);
