#include "testsupport/FixturePaths.h"

#include <QDir>

namespace quorin::test {

QString FixturePaths::root()
{
    return QStringLiteral(QUORIN_FIXTURE_ROOT);
}

QString FixturePaths::certificateAuthorityFile()
{
    return root() + QStringLiteral("/tls/ca.pem");
}

QString FixturePaths::serverCertificateFile()
{
    return root() + QStringLiteral("/tls/localhost.pem");
}

QString FixturePaths::serverKeyFile()
{
    return root() + QStringLiteral("/tls/localhost.key");
}

QString FixturePaths::mediaFolder()
{
    return root() + QStringLiteral("/media");
}

QString FixturePaths::mediaFile(const QString &relativePath)
{
    return QDir(mediaFolder()).filePath(relativePath);
}

QString FixturePaths::releaseFolder()
{
    return root() + QStringLiteral("/update");
}

QString FixturePaths::updateSigningKeyFile()
{
    return QStringLiteral(QUORIN_UPDATE_SIGNING_FOLDER "/demo-signing-key.pem");
}

} // namespace quorin::test
