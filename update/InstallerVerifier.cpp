#include "update/InstallerVerifier.h"

#include "update/Sha256Hasher.h"
#include "update/UpdatePolicy.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quorin {

InstallerVerifier::Verdict InstallerVerifier::verify(const QString &path, const UpdateCandidate &offer,
                                                     const QString &keyringPath)
{
    if (path.isEmpty())
        return Verdict::NoFile;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != offer.size)
        return Verdict::WrongSize;
    Sha256Hasher hasher;
    if (!hasher.addData(file) || hasher.result() != offer.sha256)
        return Verdict::ChecksumMismatch;
    const QByteArray key = publicKey(keyringPath, offer.signingKeyID);
    if (key.isEmpty())
        return Verdict::UnknownKey;
    if (!UpdatePolicy::verifyEd25519Digest(key, offer.sha256, offer.signature))
        return Verdict::BadSignature;
    return Verdict::Verified;
}

QByteArray InstallerVerifier::publicKey(const QString &keyringPath, const QString &signingKeyId)
{
    QFile file(keyringPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonArray keys =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("keys")).toArray();
    for (const QJsonValue &entry : keys) {
        const QJsonObject key = entry.toObject();
        const QJsonValue id = key.value(QStringLiteral("signingKeyID"));
        if (!id.isString() || id.toString() != signingKeyId)
            continue;
        const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(key.value(QStringLiteral("publicKey")).toString().toLatin1(),
                                           QByteArray::AbortOnBase64DecodingErrors);
        return decoded ? decoded.decoded : QByteArray();
    }
    return {};
}

} // namespace quorin
