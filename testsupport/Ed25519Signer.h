#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

namespace quorin::test {

// An Ed25519 key pair for tests and the sample platform: made fresh or loaded from a PEM file,
// it signs the 32 digest bytes of an installer and describes its public half as a keyring
// entry of the client's update keyring.
class Ed25519Signer
{
public:
    // A fresh pair; never fails on a working OpenSSL.
    [[nodiscard]] static Ed25519Signer generate();
    // A private key in PEM (PKCS#8, as "openssl genpkey" writes it); nothing for any other key.
    [[nodiscard]] static std::optional<Ed25519Signer> fromPem(const QByteArray &pem);
    [[nodiscard]] static std::optional<Ed25519Signer> fromPemFile(const QString &path);

    // The raw 32-byte public key.
    [[nodiscard]] QByteArray publicKey() const;
    // "ed25519-" and the first 16 hexadecimal digits of the public key's SHA-256.
    [[nodiscard]] QString keyId() const;
    // The 64-byte signature over message (for an installer: its 32 digest bytes).
    [[nodiscard]] QByteArray sign(const QByteArray &message) const;
    [[nodiscard]] QByteArray privatePem() const;

    // { signatureType, signingKeyID, publicKey } as the keyring holds it.
    [[nodiscard]] QJsonObject keyringEntry() const;
    // A keyring document { "keys": [...] } of the given signers, in order.
    [[nodiscard]] static QByteArray keyring(const QList<Ed25519Signer> &signers);
    // The public key a keyring document gives for the id, empty when it has none.
    [[nodiscard]] static QByteArray keyringPublicKey(const QByteArray &keyringJson, const QString &keyId);

private:
    explicit Ed25519Signer(std::shared_ptr<EVP_PKEY> key);

    std::shared_ptr<EVP_PKEY> m_key;
};

} // namespace quorin::test
