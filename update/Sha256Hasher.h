#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QIODevice;

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace quorin {

// SHA-256 over data that arrives in pieces: an installer as it downloads, or a file on disk read
// once. OpenSSL's digest runs several times faster than QCryptographicHash on CPUs with SHA
// extensions: a download is hashed on the GUI thread chunk by chunk, and a file on disk is waited
// for before it is installed.
class Sha256Hasher
{
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher &) = delete;
    Sha256Hasher &operator=(const Sha256Hasher &) = delete;

    void addData(QByteArrayView data);
    // Feeds the device from its position to its end. False when a read fails; the digest is then
    // of no use.
    [[nodiscard]] bool addData(QIODevice &device);
    // The 32 digest bytes; empty when OpenSSL failed. Ends the hashing: later data is ignored.
    [[nodiscard]] QByteArray result();

private:
    EVP_MD_CTX *m_context = nullptr;
    bool m_failed = false;
    bool m_finished = false;
    QByteArray m_digest;
};

} // namespace quorin
