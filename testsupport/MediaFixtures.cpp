#include "testsupport/MediaFixtures.h"

#include "testsupport/FixturePaths.h"

#include <QFile>
#include <QJsonDocument>

namespace quorin::test {

QJsonObject MediaFixtures::parameters()
{
    return QJsonDocument::fromJson(readFile(QStringLiteral("fixtures.json"))).object();
}

QJsonObject MediaFixtures::entry(const QString &name)
{
    return parameters().value(name).toObject();
}

QString MediaFixtures::path(const QString &relativePath)
{
    return FixturePaths::mediaFile(relativePath);
}

QByteArray MediaFixtures::readFile(const QString &relativePath)
{
    QFile file(path(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("Media fixture %s is missing; rebuild quorin_media_fixtures", qPrintable(relativePath));
    return file.readAll();
}

QByteArray MediaFixtures::hexBytes(const QString &entryName, const QString &field)
{
    return QByteArray::fromHex(entry(entryName).value(field).toString().toLatin1());
}

} // namespace quorin::test
