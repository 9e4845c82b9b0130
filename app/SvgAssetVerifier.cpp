#include "app/SvgAssetVerifier.h"

#include <QDebug>
#include <QDirIterator>
#include <QImage>
#include <QImageReader>

int SvgAssetVerifier::verify(const QString &folder)
{
    int decoded = 0;
    QDirIterator files(folder, {QStringLiteral("*.svg")}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QImageReader reader(path);
        if (!reader.canRead() || reader.read().isNull()) {
            qCritical() << "Embedded SVG could not be decoded:" << path << reader.errorString();
            return kFailed;
        }
        ++decoded;
    }
    if (decoded == 0) {
        qCritical() << "No embedded SVG assets were found";
        return kFailed;
    }
    return kPassed;
}
