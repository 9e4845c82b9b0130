#include "media/CryptoManager.h"

#include "media/ResourceCache.h"
#include "net/CredentialStore.h"
#include "net/VaultStartHook.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QMutexLocker>
#include <QThread>
#include <array>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

using CounterBlock = std::array<unsigned char, CryptoManager::IvBytes>;
using KeyBlock = std::array<unsigned char, CryptoManager::KeyBytes>;

// OpenSSL takes lengths as int: longer chunks go through in pieces of this size.
constexpr qsizetype kLargestCipherPiece = qsizetype(1) << 30;

// This thread's cipher context, made on its first chunk and freed when the thread ends. A context
// is never shared between threads, and reused (reset and re-keyed) for every chunk.
class ThreadCipherContext
{
public:
    ThreadCipherContext()
        : m_context(EVP_CIPHER_CTX_new())
    {
    }
    ~ThreadCipherContext() { EVP_CIPHER_CTX_free(m_context); }
    ThreadCipherContext(const ThreadCipherContext &) = delete;
    ThreadCipherContext &operator=(const ThreadCipherContext &) = delete;

    [[nodiscard]] EVP_CIPHER_CTX *get() const { return m_context; }

private:
    EVP_CIPHER_CTX *m_context;
};

EVP_CIPHER_CTX *threadCipherContext()
{
    thread_local const ThreadCipherContext context;
    return context.get();
}

// AES-256-CTR, looked up once. OpenSSL 3 looks EVP_aes_256_ctr() up again in its provider store
// on every initialisation, which on a 188-byte chunk costs about as much as the cipher itself.
const EVP_CIPHER *aes256Ctr()
{
    static const std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> fetched(
        EVP_CIPHER_fetch(nullptr, "AES-256-CTR", nullptr), &EVP_CIPHER_free);
    return fetched ? fetched.get() : EVP_aes_256_ctr();
}

// Adds blocks to the counter block read as one 128-bit big-endian number, wrapping modulo 2^128.
void advanceCounter(CounterBlock &counter, quint64 blocks)
{
    for (auto byte = counter.rbegin(); byte != counter.rend() && blocks != 0; ++byte) {
        const unsigned sum = unsigned(*byte) + unsigned(blocks & 0xffu);
        *byte = static_cast<unsigned char>(sum);
        blocks = (blocks >> 8) + (sum >> 8);
    }
}

// The keystream exclusive or of size bytes of input into output (which may be the input itself),
// starting skip bytes into the block counter addresses. False when any OpenSSL call fails.
bool runCipher(EVP_CIPHER_CTX *context, const KeyBlock &key, const CounterBlock &counter, int skip,
               const unsigned char *input, unsigned char *output, qsizetype size)
{
    if (EVP_CIPHER_CTX_reset(context) != 1 ||
        EVP_EncryptInit_ex(context, aes256Ctr(), nullptr, key.data(), counter.data()) != 1)
        return false;
    std::array<unsigned char, CryptoManager::IvBytes> scratch{};
    int written = 0;
    if (skip > 0 && EVP_EncryptUpdate(context, scratch.data(), &written, scratch.data(), skip) != 1)
        return false;
    for (qsizetype done = 0; done < size; done += written) {
        const int piece = int(qMin(size - done, kLargestCipherPiece));
        if (EVP_EncryptUpdate(context, output + done, &written, input + done, piece) != 1 || written != piece)
            return false;
    }
    // Counter mode adds nothing at the end; the scratch block only gives the call somewhere to write.
    return EVP_EncryptFinal_ex(context, scratch.data(), &written) == 1 && written == 0;
}

QString unavailableText()
{
    return CryptoManager::tr("The operating system secure vault is unavailable. Unlock it and retry.");
}

} // namespace

CryptoManager::CryptoManager()
{
    // Whichever thread asks first creates the object; it belongs with the other controllers.
    if (const QCoreApplication *application = QCoreApplication::instance())
        moveToThread(application->thread());
}

CryptoManager *CryptoManager::instance()
{
    static CryptoManager manager;
    return &manager;
}

void CryptoManager::installStartHook()
{
    quorin::VaultStartHook::install([] { instance()->init(); });
}

QString CryptoManager::masterKeyItem()
{
    return QStringLiteral("offlineDeviceMasterKey");
}

void CryptoManager::init()
{
    {
        const QMutexLocker locker(&m_mutex);
        if (m_state == Initializing)
            return;
        // The key stays: transfers running during a re-initialisation keep using it.
        m_state = Initializing;
        m_errorString.clear();
    }
    Q_EMIT vaultStateChanged();

    const std::unique_ptr<CredentialStore> store = CredentialStore::createNative();
    const QString stored = store->read(masterKeyItem());
    // A failed read looks like an empty item. Making a key then would overwrite the one every
    // offline file is encrypted with, so only a clean "not found" leads to a new key.
    if (!store->errorString().isEmpty()) {
        qWarning().noquote() << "Native secure vault failed; offline downloads remain disabled:"
                             << store->errorString();
        finish(Failed, {}, unavailableText());
        return;
    }
    const QByteArray storedKey = QByteArray::fromBase64(stored.toLatin1());
    if (storedKey.size() == KeyBytes) {
        reconcileCache(storedKey, false);
        finish(ReadySecretService, storedKey, {});
        return;
    }

    // Absent, or a value that is no key: nothing can have been encrypted with it.
    QByteArray key(KeyBytes, Qt::Uninitialized);
    const bool made = RAND_bytes(reinterpret_cast<unsigned char *>(key.data()), KeyBytes) == 1;
    if (!made || !store->write(masterKeyItem(), QString::fromLatin1(key.toBase64()))) {
        qWarning().noquote() << "Native secure vault failed; offline downloads remain disabled:"
                             << store->errorString();
        finish(Failed, {}, unavailableText());
        return;
    }
    // Whatever the cache holds was written under another key, or is the remnant of one.
    reconcileCache(key, true);
    finish(ReadySecretService, key, {});
}

void CryptoManager::reconcileCache(const QByteArray &key, bool keyIsNew)
{
    const VaultCacheCheck::Outcome outcome =
        VaultCacheCheck::reconcile(*ResourceCache::instance(), cacheCheckValue(key), keyIsNew);
    const QMutexLocker locker(&m_mutex);
    m_cacheCheck = outcome;
}

QByteArray CryptoManager::cacheCheckValue(const QByteArray &key)
{
    KeyBlock keyBlock;
    std::copy(key.cbegin(), key.cend(), keyBlock.begin());
    // A counter block of its own: item IVs are hashes of lecture and URL, so no file shares it.
    const QByteArray label =
        QCryptographicHash::hash(VaultCacheCheck::checkBlock(), QCryptographicHash::Sha256).left(IvBytes);
    CounterBlock counter;
    std::copy(label.cbegin(), label.cend(), counter.begin());
    EVP_CIPHER_CTX *context = threadCipherContext();
    const QByteArray block = VaultCacheCheck::checkBlock();
    QByteArray value(block.size(), Qt::Uninitialized);
    const bool made = context && runCipher(context, keyBlock, counter, 0,
                                           reinterpret_cast<const unsigned char *>(block.constData()),
                                           reinterpret_cast<unsigned char *>(value.data()), block.size());
    OPENSSL_cleanse(keyBlock.data(), keyBlock.size());
    return made ? value : QByteArray();
}

void CryptoManager::finish(VaultState state, const QByteArray &key, const QString &error)
{
    {
        const QMutexLocker locker(&m_mutex);
        m_masterKey = key;
        m_state = state;
        m_errorString = error;
    }
    Q_EMIT vaultStateChanged();
}

CryptoManager::VaultState CryptoManager::vaultState() const
{
    const QMutexLocker locker(&m_mutex);
    return m_state;
}

std::optional<VaultCacheCheck::Outcome> CryptoManager::cacheCheck() const
{
    const QMutexLocker locker(&m_mutex);
    return m_cacheCheck;
}

QString CryptoManager::errorString() const
{
    const QMutexLocker locker(&m_mutex);
    return m_errorString;
}

bool CryptoManager::hasSecureVault() const
{
    const VaultState state = vaultState();
    return state == ReadyTpm || state == ReadySecretService;
}

bool CryptoManager::copyKey(KeyBlock &key) const
{
    const QMutexLocker locker(&m_mutex);
    if (m_masterKey.size() != KeyBytes)
        return false;
    std::copy(m_masterKey.cbegin(), m_masterKey.cend(), key.begin());
    return true;
}

QByteArray CryptoManager::getOrCreateMasterIv(const QString &lectureId) const
{
    KeyBlock key;
    if (!copyKey(key)) {
        // Callers store this IV with their data, so the fallback stays as it always was.
        qWarning("CryptoManager: Master key is not initialized! Returning zero IV.");
        return QByteArray(IvBytes, '\0');
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(key.data(), key.size()));
    hash.addData(lectureId.toUtf8());
    OPENSSL_cleanse(key.data(), key.size());
    return hash.result().left(IvBytes);
}

QByteArray CryptoManager::itemIv(const QByteArray &masterIv, const QString &url)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(masterIv);
    hash.addData(url.toUtf8());
    return hash.result().left(IvBytes);
}

QByteArray CryptoManager::processChunk(const QByteArray &data, qint64 offset, const QByteArray &iv) const
{
    if (data.isEmpty())
        return data;
    QByteArray output(data.size(), Qt::Uninitialized);
    if (!transformInto(data.constData(), output.data(), data.size(), offset, iv))
        return {};
    return output;
}

bool CryptoManager::transformInto(const char *data, char *output, qsizetype size, qint64 offset,
                                  const QByteArray &iv) const
{
    if (size <= 0)
        return size == 0;
    // The key is held from the first successful init until an init fails, re-initialisations
    // included, so it alone tells whether data can be transformed. Handing the input back instead
    // would store plaintext as if it were encrypted.
    KeyBlock key;
    if (iv.size() != IvBytes || offset < 0 || !copyKey(key))
        return false;
    EVP_CIPHER_CTX *context = threadCipherContext();
    if (!context)
        return false;

    CounterBlock counter;
    std::copy(iv.cbegin(), iv.cend(), counter.begin());
    advanceCounter(counter, quint64(offset) / IvBytes);
    const bool done =
        runCipher(context, key, counter, int(offset % IvBytes), reinterpret_cast<const unsigned char *>(data),
                  reinterpret_cast<unsigned char *>(output), size);
    OPENSSL_cleanse(key.data(), key.size());
    return done;
}
