#pragma once

#include "update/UpdateCandidate.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

// The pure rules of the self-update: version order, whether an offer is newer, acceptable URLs
// and file names, reading the release service's answer, the rollback-guarded clock and the
// Ed25519 check of an installer's digest. No state, no files, settings or network; Qt Core and
// libcrypto only, so the fuzz build can take it alone.
class UpdatePolicy
{
public:
    // The answer's failures: fixed English texts, never translated.
    inline static const QString InvalidJsonError = QStringLiteral("Invalid update response JSON");
    inline static const QString InvalidRequiredFieldsError =
        QStringLiteral("Update response contains invalid required fields");
    inline static const QString InvalidDownloadMetadataError =
        QStringLiteral("Update download metadata is invalid");

    // Negative when lhs is the lower version, 0 when equal, positive when higher. Texts that are
    // not semantic versions compare as text.
    [[nodiscard]] static int compareVersions(const QString &lhs, const QString &rhs);
    [[nodiscard]] static bool isNewer(const UpdateCandidate &candidate, const QString &version, qint64 build);
    // A valid https URL with a host and without user information.
    [[nodiscard]] static bool validHttpsUrl(const QUrl &url);
    // The name itself, or empty when it could leave its folder or is no name at all.
    [[nodiscard]] static QString safeFilename(const QString &name);
    // Reads the answer into candidate. On failure candidate is untouched, error (when given)
    // receives one of the three fixed texts above, and the result is false.
    [[nodiscard]] static bool parseResponse(const QByteArray &body, bool stable, UpdateCandidate &candidate,
                                            QString *error = nullptr);
    // The latest of the three, in UTC; invalid observed or stored times are ignored.
    [[nodiscard]] static QDateTime monotonicNow(const QDateTime &now, const QDateTime &observed,
                                                const QDateTime &stored);
    // Pure Ed25519 over the 32 digest bytes as the message.
    [[nodiscard]] static bool verifyEd25519Digest(const QByteArray &publicKey, const QByteArray &digest,
                                                  const QByteArray &signature);

    // The answer's whole-string rules, for callers that check a record against them.
    [[nodiscard]] static bool isVersion(const QString &text);
    [[nodiscard]] static bool hasPreRelease(const QString &version);
    [[nodiscard]] static bool isSigningKeyId(const QString &text);
};
