#include "testsupport/Aes128Cbc.h"

#include <memory>
#include <openssl/evp.h>

namespace quorin::test {

QByteArray Aes128Cbc::decrypt(const QByteArray &cipherText, const QByteArray &key, const QByteArray &iv)
{
    if (key.size() != 16 || iv.size() != 16)
        return {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    QByteArray plain(cipherText.size() + 16, Qt::Uninitialized);
    auto *output = reinterpret_cast<unsigned char *>(plain.data());
    int written = 0;
    int finalWritten = 0;
    const bool decrypted = EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr,
                                              reinterpret_cast<const unsigned char *>(key.constData()),
                                              reinterpret_cast<const unsigned char *>(iv.constData())) == 1 &&
                           EVP_DecryptUpdate(context.get(), output, &written,
                                             reinterpret_cast<const unsigned char *>(cipherText.constData()),
                                             int(cipherText.size())) == 1 &&
                           EVP_DecryptFinal_ex(context.get(), output + written, &finalWritten) == 1;
    if (!decrypted)
        return {};
    plain.truncate(written + finalWritten);
    return plain;
}

QByteArray Aes128Cbc::encrypt(const QByteArray &plainText, const QByteArray &key, const QByteArray &iv)
{
    if (key.size() != 16 || iv.size() != 16)
        return {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    QByteArray cipherText(plainText.size() + 16, Qt::Uninitialized);
    auto *output = reinterpret_cast<unsigned char *>(cipherText.data());
    int written = 0;
    int finalWritten = 0;
    const bool encrypted = EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr,
                                              reinterpret_cast<const unsigned char *>(key.constData()),
                                              reinterpret_cast<const unsigned char *>(iv.constData())) == 1 &&
                           EVP_EncryptUpdate(context.get(), output, &written,
                                             reinterpret_cast<const unsigned char *>(plainText.constData()),
                                             int(plainText.size())) == 1 &&
                           EVP_EncryptFinal_ex(context.get(), output + written, &finalWritten) == 1;
    if (!encrypted)
        return {};
    cipherText.truncate(written + finalWritten);
    return cipherText;
}

} // namespace quorin::test
