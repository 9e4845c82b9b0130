#include "testsupport/Ed25519Signer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace quorin::test {
namespace {

std::shared_ptr<EVP_PKEY> adopt(EVP_PKEY *key)
{
    return key ? std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free) : nullptr;
}

} // namespace

Ed25519Signer::Ed25519Signer(std::shared_ptr<EVP_PKEY> key)
    : m_key(std::move(key))
{
}

Ed25519Signer Ed25519Signer::generate()
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY *key = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &key) != 1)
        qFatal("Ed25519Signer: OpenSSL could not make an Ed25519 key");
    return Ed25519Signer(adopt(key));
}

std::optional<Ed25519Signer> Ed25519Signer::fromPem(const QByteArray &pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> input(BIO_new_mem_buf(pem.constData(), int(pem.size())),
                                                    BIO_free);
    std::shared_ptr<EVP_PKEY> key =
        adopt(input ? PEM_read_bio_PrivateKey(input.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return std::nullopt;
    return Ed25519Signer(std::move(key));
}

std::optional<Ed25519Signer> Ed25519Signer::fromPemFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromPem(file.readAll());
}

QByteArray Ed25519Signer::publicKey() const
{
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char *>(raw.data()), &length) != 1)
        return {};
    raw.truncate(qsizetype(length));
    return raw;
}

QString Ed25519Signer::keyId() const
{
    const QByteArray digest = QCryptographicHash::hash(publicKey(), QCryptographicHash::Sha256);
    return QStringLiteral("ed25519-") + QString::fromLatin1(digest.toHex().left(16));
}

QByteArray Ed25519Signer::sign(const QByteArray &message) const
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QByteArray signature(64, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    const bool signedOk =
        context && EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) == 1 &&
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(message.constData()),
                       size_t(message.size())) == 1;
    if (!signedOk)
        return {};
    signature.truncate(qsizetype(length));
    return signature;
}

QByteArray Ed25519Signer::privatePem() const
{
    std::unique_ptr<BIO, decltype(&BIO_free)> output(BIO_new(BIO_s_mem()), BIO_free);
    if (!output ||
        PEM_write_bio_PrivateKey(output.get(), m_key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char *data = nullptr;
    const long length = BIO_get_mem_data(output.get(), &data);
    return QByteArray(data, qsizetype(length));
}

QJsonObject Ed25519Signer::keyringEntry() const
{
    return {{QStringLiteral("signatureType"), QStringLiteral("ed25519-sha256")},
            {QStringLiteral("signingKeyID"), keyId()},
            {QStringLiteral("publicKey"), QString::fromLatin1(publicKey().toBase64())}};
}

QByteArray Ed25519Signer::keyring(const QList<Ed25519Signer> &signers)
{
    QJsonArray keys;
    for (const Ed25519Signer &signer : signers)
        keys.append(signer.keyringEntry());
    return QJsonDocument(QJsonObject{{QStringLiteral("keys"), keys}}).toJson();
}

QByteArray Ed25519Signer::keyringPublicKey(const QByteArray &keyringJson, const QString &keyId)
{
    const QJsonArray keys =
        QJsonDocument::fromJson(keyringJson).object().value(QStringLiteral("keys")).toArray();
    for (const QJsonValue &entry : keys) {
        const QJsonObject key = entry.toObject();
        if (key.value(QStringLiteral("signingKeyID")).toString() == keyId)
            return QByteArray::fromBase64(key.value(QStringLiteral("publicKey")).toString().toLatin1());
    }
    return {};
}

} // namespace quorin::test
