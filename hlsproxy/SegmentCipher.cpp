#include "hlsproxy/SegmentCipher.h"

#include <QDebug>
#include <openssl/evp.h>

namespace quorin {

namespace {

constexpr int BlockBytes = 16;
constexpr qsizetype KeyBytes = 16;

const unsigned char *bytes(const QByteArray &array)
{
    return reinterpret_cast<const unsigned char *>(array.constData());
}

// Room for size more bytes at the end of out, which grows (geometrically) only when it must.
unsigned char *appendRoom(QByteArray &out, qsizetype size)
{
    const qsizetype start = out.size();
    if (out.capacity() < start + size)
        out.reserve(qMax(start + size, 2 * out.capacity()));
    out.resize(start + size);
    return reinterpret_cast<unsigned char *>(out.data()) + start;
}

} // namespace

void SegmentCipher::ContextDeleter::operator()(EVP_CIPHER_CTX *context) const
{
    EVP_CIPHER_CTX_free(context);
}

SegmentCipher::SegmentCipher()
    : m_playback(EVP_CIPHER_CTX_new())
    , m_source(EVP_CIPHER_CTX_new())
{
}

SegmentCipher::~SegmentCipher() = default;

bool SegmentCipher::startPlayback(const QByteArray &key, const QByteArray &iv)
{
    return m_playback && key.size() == KeyBytes && iv.size() == BlockBytes &&
           EVP_EncryptInit_ex(m_playback.get(), EVP_aes_128_cbc(), nullptr, bytes(key), bytes(iv)) == 1;
}

bool SegmentCipher::startSource(const QByteArray &key, const QByteArray &iv)
{
    m_sourceActive =
        m_source && key.size() == KeyBytes && iv.size() == BlockBytes &&
        EVP_DecryptInit_ex(m_source.get(), EVP_aes_128_cbc(), nullptr, bytes(key), bytes(iv)) == 1;
    m_sourceFailed = false;
    return m_sourceActive;
}

bool SegmentCipher::process(const char *source, qsizetype size, QByteArray &out)
{
    if (m_sourceFailed)
        return false;
    if (!m_sourceActive) {
        encrypt(source, size, out);
        return true;
    }
    // One block more than the input: decryption holds the last block back until it knows whether
    // it is the padding.
    if (m_plaintext.capacity() < size + BlockBytes)
        m_plaintext.reserve(size + BlockBytes);
    m_plaintext.resize(size + BlockBytes);
    int produced = 0;
    if (size > 0 &&
        EVP_DecryptUpdate(m_source.get(), reinterpret_cast<unsigned char *>(m_plaintext.data()), &produced,
                          reinterpret_cast<const unsigned char *>(source), int(size)) != 1) {
        m_sourceFailed = true;
        return false;
    }
    encrypt(m_plaintext.constData(), produced, out);
    return true;
}

bool SegmentCipher::finish(QByteArray &out)
{
    if (m_sourceFailed)
        return false;
    if (m_sourceActive) {
        unsigned char tail[2 * BlockBytes];
        int produced = 0;
        if (EVP_DecryptFinal_ex(m_source.get(), tail, &produced) != 1) {
            qWarning("HlsProxyServer: source AES-128 segment failed authentication/padding");
            m_sourceFailed = true;
            return false;
        }
        encrypt(reinterpret_cast<const char *>(tail), produced, out);
    }
    unsigned char *room = appendRoom(out, BlockBytes);
    int produced = 0;
    if (EVP_EncryptFinal_ex(m_playback.get(), room, &produced) != 1)
        produced = 0;
    out.resize(out.size() - BlockBytes + produced);
    return true;
}

void SegmentCipher::encrypt(const char *plaintext, qsizetype size, QByteArray &out)
{
    if (size <= 0)
        return;
    // CBC encryption may release one block more than it is given, from what it held before.
    unsigned char *room = appendRoom(out, size + BlockBytes);
    int produced = 0;
    if (EVP_EncryptUpdate(m_playback.get(), room, &produced,
                          reinterpret_cast<const unsigned char *>(plaintext), int(size)) != 1)
        produced = 0;
    out.resize(out.size() - (size + BlockBytes) + produced);
}

} // namespace quorin
