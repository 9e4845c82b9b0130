#pragma once

#include "media/VaultCacheCheck.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <array>
#include <optional>

// The offline vault's cipher. It holds the device master key (kept in the keychain) and applies
// the one transform of data at rest, AES-256-CTR at any byte offset of a file, so an encrypted file
// is exactly as long as its plain data and any chunk of it can be read or written alone. It also
// derives each lecture's master IV. Callable from any thread; the cipher runs outside the lock.
class CryptoManager : public QObject
{
    Q_OBJECT

public:
    enum VaultState {
        Uninitialized = 0,
        Initializing = 1,
        // Counts as ready wherever readiness is tested; no operation enters it on this platform.
        ReadyTpm = 2,
        ReadySecretService = 3,
        Failed = 4,
    };
    Q_ENUM(VaultState)

    static constexpr int KeyBytes = 32;
    static constexpr int IvBytes = 16;

    [[nodiscard]] static CryptoManager *instance();
    // Makes every NetworkManager start this vault (init on the global thread pool) when it is
    // constructed. Start-up calls it before the first manager exists.
    static void installStartHook();
    // The keychain item that holds the device master key as standard base64.
    [[nodiscard]] static QString masterKeyItem();

    // Loads the device master key from the keychain, or makes and stores one when the keychain
    // reports the item absent (or holds a value that is not a key), then reconciles the resource
    // cache with the key before the vault reports ready: a cache written under another key is
    // emptied. Blocking: run it on a pool thread. Returns at once, without a signal, while
    // another init runs.
    void init();

    [[nodiscard]] VaultState vaultState() const;
    // What the last start that obtained a key found in the resource cache; empty before then.
    // Offline downloads read it once the vault is ready: Emptied means their files are gone.
    [[nodiscard]] std::optional<VaultCacheCheck::Outcome> cacheCheck() const;
    [[nodiscard]] QString errorString() const;
    // The state alone: false while a re-initialisation runs, even though transforms go on.
    [[nodiscard]] bool hasSecureVault() const;

    // The first 16 bytes of SHA-256(key || UTF-8 lecture id); 16 zero bytes without a key.
    [[nodiscard]] QByteArray getOrCreateMasterIv(const QString &lectureId) const;
    // The IV of one cached or downloaded item of a lecture: the first 16 bytes of
    // SHA-256(master IV || UTF-8 URL). Every writer and reader of the item derives it the same way.
    [[nodiscard]] static QByteArray itemIv(const QByteArray &masterIv, const QString &url);

    // The AES-256-CTR transform of data as the bytes at offset of a file whose item IV is iv; the
    // same call encrypts and decrypts, and the result is as long as data. When the data cannot be
    // transformed (no key, an IV that is not 16 bytes, a negative offset, an OpenSSL failure) a
    // non-empty input gives an empty array: callers treat any shorter result as "vault not
    // ready" and never write it.
    [[nodiscard]] QByteArray processChunk(const QByteArray &data, qint64 offset, const QByteArray &iv) const;
    // The same transform of size bytes into output, which may be data itself: for callers that
    // reuse their buffers. False when it cannot be done; output then holds nothing to keep.
    [[nodiscard]] bool transformInto(const char *data, char *output, qsizetype size, qint64 offset,
                                     const QByteArray &iv) const;

Q_SIGNALS:
    // After every change of state, on the thread that changed it.
    void vaultStateChanged();

private:
    CryptoManager();

    // Copies the key out under the mutex, so transforms share no data with a concurrent init.
    // False when there is none.
    [[nodiscard]] bool copyKey(std::array<unsigned char, KeyBytes> &key) const;
    // Sets the state and, on failure, clears the key; the error text goes with the state.
    void finish(VaultState state, const QByteArray &key, const QString &error);
    // Empties the resource cache unless its check shows it was written under this key.
    void reconcileCache(const QByteArray &key, bool keyIsNew);
    // The cache's check block encrypted under the key: it tells keys apart and reveals neither.
    [[nodiscard]] static QByteArray cacheCheckValue(const QByteArray &key);

    // Guards the four fields below, and only them: never held while calling out or ciphering.
    mutable QMutex m_mutex;
    QByteArray m_masterKey;
    VaultState m_state = Uninitialized;
    QString m_errorString;
    std::optional<VaultCacheCheck::Outcome> m_cacheCheck;
};
