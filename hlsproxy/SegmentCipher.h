#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <memory>
#include <openssl/types.h>

namespace quorin {

// The two AES-128-CBC steps of every segment answer: decryption of the upstream encryption when
// the stream is keyed, then encryption under the playback session's key for the player. What the
// player gets is appended to the caller's buffer, so that one turn of a transfer collects its
// output in one place and hands it to the socket in one write; the plaintext between the steps
// stays in a buffer of its own that is reused for every piece. One per connection, on its thread.
class SegmentCipher
{
public:
    SegmentCipher();
    ~SegmentCipher();
    SegmentCipher(const SegmentCipher &) = delete;
    SegmentCipher &operator=(const SegmentCipher &) = delete;

    // Starts the answer's encryption for the player; false when the contexts refuse the key or IV.
    [[nodiscard]] bool startPlayback(const QByteArray &key, const QByteArray &iv);
    // Starts the decryption of a keyed source; false when the contexts refuse the key or IV.
    [[nodiscard]] bool startSource(const QByteArray &key, const QByteArray &iv);
    [[nodiscard]] bool sourceActive() const { return m_sourceActive; }

    // Decrypts (when keyed) and re-encrypts size bytes of source, appending the player's bytes to
    // out. False when the source does not decrypt; from then on nothing more is produced.
    [[nodiscard]] bool process(const char *source, qsizetype size, QByteArray &out);
    // The final blocks: the source's padding checked and removed, the player's padding added.
    // False when the source's padding does not check out.
    [[nodiscard]] bool finish(QByteArray &out);

private:
    struct ContextDeleter
    {
        void operator()(EVP_CIPHER_CTX *context) const;
    };
    using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter>;

    void encrypt(const char *plaintext, qsizetype size, QByteArray &out);

    Context m_playback;
    Context m_source;
    bool m_sourceActive = false;
    bool m_sourceFailed = false;
    QByteArray m_plaintext; // the source decrypted, between the two steps
};

} // namespace quorin
