#pragma once

#include "update/UpdateCandidate.h"

#include <QByteArray>
#include <QString>

namespace quorin {

// Whether a file on disk is an offer's installer: its size, its SHA-256 digest, and an Ed25519
// signature over that digest by a key of the keyring. It reads only the file and the keyring it is
// given and keeps no state, so it runs on any thread: hashing a large installer takes long enough
// to freeze a window, and the controller runs it on a worker.
class InstallerVerifier
{
public:
    // The first check a file fails, in the order they are made; Verified when it passes them all.
    enum class Verdict {
        Verified,
        NoFile,           // no path was given
        WrongSize,        // unreadable, or another size than the offer declares
        ChecksumMismatch, // another digest, or a read failed on the way
        UnknownKey,       // the offer's signing key is not in the keyring
        BadSignature,
    };

    InstallerVerifier() = delete;

    [[nodiscard]] static Verdict verify(const QString &path, const UpdateCandidate &offer,
                                        const QString &keyringPath);
    // The keyring's public key of that id, empty when it has none or cannot be read.
    [[nodiscard]] static QByteArray publicKey(const QString &keyringPath, const QString &signingKeyId);
};

} // namespace quorin
