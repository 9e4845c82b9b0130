#pragma once

#include <QByteArray>

namespace quorin::test {

// AES-128-CBC with PKCS#7 padding, as HLS encrypts segments, done with OpenSSL so tests check the
// client's media against an independent implementation.
class Aes128Cbc
{
public:
    // Empty when the key or IV has the wrong size or the padding does not check out.
    [[nodiscard]] static QByteArray decrypt(const QByteArray &cipherText, const QByteArray &key,
                                            const QByteArray &iv);
    // With PKCS#7 padding; empty when the key or IV has the wrong size.
    [[nodiscard]] static QByteArray encrypt(const QByteArray &plainText, const QByteArray &key,
                                            const QByteArray &iv);
};

} // namespace quorin::test
