#include "hlsproxy/PrefetchWorker.h"

#include "media/CryptoManager.h"

#include <QFile>
#include <QUuid>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace quorin {

namespace {

constexpr int AesBlockBytes = 16;

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};

bool decryptsToSomething(const QByteArray &body, const QByteArray &key, const QByteArray &iv)
{
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context || body.isEmpty())
        return false;
    const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *ivBytes = reinterpret_cast<const unsigned char *>(iv.constData());
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, keyBytes, ivBytes) != 1)
        return false;
    QByteArray plain(body.size() + AesBlockBytes, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    int written = 0;
    int finalWritten = 0;
    const bool decrypted =
        EVP_DecryptUpdate(context.get(), out, &written,
                          reinterpret_cast<const unsigned char *>(body.constData()), int(body.size())) == 1 &&
        EVP_DecryptFinal_ex(context.get(), out + written, &finalWritten) == 1;
    PrefetchWorker::wipe(plain);
    return decrypted && written + finalWritten > 0;
}

// Writes the encrypted body to a new staging file beside the cache entry and publishes it.
bool stageAndPublish(const PrefetchTransfer &transfer, const QByteArray &encrypted,
                     const std::function<bool()> &sessionActive)
{
    ResourceCache *cache = ResourceCache::instance();
    const QString stagingPath = cache->getTempPath(transfer.cacheKey) + QStringLiteral(".prefetch-") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!sessionActive())
        return false;
    QFile staging(stagingPath);
    if (!staging.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = staging.write(encrypted) == encrypted.size() && staging.flush();
    staging.close();
    // The session may have ended while the file was written.
    if (!written || !sessionActive()) {
        staging.remove();
        return false;
    }
    return cache->publishTempFile(transfer.cacheKey, stagingPath);
}

} // namespace

void PrefetchWorker::wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        OPENSSL_cleanse(bytes.data(), size_t(bytes.size()));
}

bool PrefetchWorker::sourceCheckPasses(const QByteArray &body, QByteArray &sourceKey,
                                       const QByteArray &sourceIv)
{
    const bool passes = sourceKey.size() == AesBlockBytes && sourceIv.size() == AesBlockBytes &&
                        decryptsToSomething(body, sourceKey, sourceIv);
    wipe(sourceKey);
    return passes;
}

bool PrefetchWorker::store(PrefetchTransfer &transfer, const std::function<bool()> &sessionActive)
{
    const bool keyed = !transfer.sourceKey.isEmpty();
    const bool checked =
        !keyed || sourceCheckPasses(transfer.body, transfer.sourceKey, transfer.token.sourceIv);
    CryptoManager *vault = CryptoManager::instance();
    // Without the vault processChunk hands the body back unchanged: that plaintext must never be
    // stored as if it were encrypted. A shorter result is the cipher's failure.
    QByteArray encrypted;
    if (checked && vault->hasSecureVault())
        encrypted = vault->processChunk(transfer.body, 0, transfer.token.cacheIv);
    const bool encryptedWhole = !encrypted.isEmpty() && encrypted.size() == transfer.body.size();
    wipe(transfer.body);
    transfer.body.clear();
    return checked && encryptedWhole && vault->hasSecureVault() &&
           stageAndPublish(transfer, encrypted, sessionActive);
}

} // namespace quorin
