#pragma once

#include <QByteArray>
#include <QString>

class ResourceCache;

// Whether the files of the resource cache were written under the vault's current device key. A
// key that changed (the keychain item was reset, or restored from another installation) leaves
// every cached file decrypting to noise, and nothing in an encrypted file tells: so a small check
// value lies beside the cache folder, a fixed block encrypted under the key the files were
// written with. It is never the key, nor anything the key can be computed from.
//
// The vault reconciles the cache with its key at every start, before it reports ready, so that
// no cached copy is served or written in between; offline downloads read the outcome to learn
// that their files are gone.
class VaultCacheCheck
{
public:
    enum class Outcome {
        // The check matched: the cache was written under this key.
        Kept,
        // No check yet and a key the keychain already held: the files are taken as this key's
        // (they were written before the check existed), and the check is written.
        Recorded,
        // The check did not match, or the key was made in this start: every file of the cache
        // is gone, and the check names the key.
        Emptied,
        // Nothing could be decided or done as it should: the check could not be read (the cache
        // is kept, the check left alone), or a file could not be removed (the check is not
        // written, so the next start empties again). Logged.
        Unverified,
    };

    VaultCacheCheck() = delete;

    static constexpr qsizetype CheckBytes = 32;

    // The file that holds the check: beside the cache folder, not in it, so that emptying the
    // folder never takes it.
    [[nodiscard]] static QString checkPath(const ResourceCache &cache);
    // The fixed block that the check value is the encryption of.
    [[nodiscard]] static QByteArray checkBlock();
    // checkValue: checkBlock() encrypted under the current key; keyIsNew: the vault made the key
    // in this start, so no file can have been written under it.
    [[nodiscard]] static Outcome reconcile(ResourceCache &cache, const QByteArray &checkValue, bool keyIsNew);

private:
    enum class Stored { Absent, Readable, Unreadable };

    [[nodiscard]] static Stored readCheck(const QString &path, QByteArray &value);
    [[nodiscard]] static bool writeCheck(const QString &path, const QByteArray &value);
    [[nodiscard]] static Outcome empty(ResourceCache &cache, const QByteArray &checkValue,
                                       const QString &reason);
};
