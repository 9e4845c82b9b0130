#include "testsupport/Aes128Cbc.h"

#include <memory>
#include <openssl/evp.h>

namespace quorin::test {

namespace {

// One whole AES-128-CBC pass with PKCS#7 padding; empty on any failure.
QByteArray transform(bool encrypt, const QByteArray &input, const QByteArray &key, const QByteArray &iv)
{
    if (key.size() != 16 || iv.size() != 16)
        return {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    QByteArray output(input.size() + 16, Qt::Uninitialized);
    auto *bytes = reinterpret_cast<unsigned char *>(output.data());
    int written = 0;
    int finalWritten = 0;
    const bool done =
        EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr,
                          reinterpret_cast<const unsigned char *>(key.constData()),
                          reinterpret_cast<const unsigned char *>(iv.constData()), encrypt ? 1 : 0) == 1 &&
        EVP_CipherUpdate(context.get(), bytes, &written,
                         reinterpret_cast<const unsigned char *>(input.constData()),
                         int(input.size())) == 1 &&
        EVP_CipherFinal_ex(context.get(), bytes + written, &finalWritten) == 1;
    if (!done)
        return {};
    output.truncate(written + finalWritten);
    return output;
}

} // namespace

QByteArray Aes128Cbc::decrypt(const QByteArray &cipherText, const QByteArray &key, const QByteArray &iv)
{
    return transform(false, cipherText, key, iv);
}

QByteArray Aes128Cbc::encrypt(const QByteArray &plainText, const QByteArray &key, const QByteArray &iv)
{
    return transform(true, plainText, key, iv);
}

} // namespace quorin::test
