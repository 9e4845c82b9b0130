#include "update/Sha256Hasher.h"

#include <QIODevice>
#include <openssl/evp.h>

namespace quorin {
namespace {

// Large enough that a read costs little next to the hashing, small enough to stay in the cache.
constexpr qint64 ReadChunkBytes = 256 * 1024;

} // namespace

Sha256Hasher::Sha256Hasher()
    : m_context(EVP_MD_CTX_new())
{
    m_failed = m_context == nullptr || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1;
}

Sha256Hasher::~Sha256Hasher()
{
    EVP_MD_CTX_free(m_context);
}

void Sha256Hasher::addData(QByteArrayView data)
{
    if (m_failed || m_finished || data.isEmpty())
        return;
    if (EVP_DigestUpdate(m_context, data.data(), size_t(data.size())) != 1)
        m_failed = true;
}

bool Sha256Hasher::addData(QIODevice &device)
{
    QByteArray buffer(ReadChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device.read(buffer.data(), buffer.size());
        if (read < 0)
            return false;
        if (read == 0)
            return device.atEnd();
        addData(QByteArrayView(buffer.constData(), read));
    }
}

QByteArray Sha256Hasher::result()
{
    if (!m_finished && !m_failed) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(m_context, digest, &length) == 1)
            m_digest = QByteArray(reinterpret_cast<const char *>(digest), int(length));
        else
            m_failed = true;
    }
    m_finished = true;
    return m_failed ? QByteArray() : m_digest;
}

} // namespace quorin
