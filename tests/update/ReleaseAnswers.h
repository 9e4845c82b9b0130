#pragma once

#include "update/UpdateCandidate.h"

#include <QByteArray>
#include <QJsonObject>
#include <QUrl>

namespace quorin::test {

// Answers of the release service for the update tests: an offer of release 1.0.9 (build 23) as a
// download, the candidate the release policy reads from it, and the answer that offers nothing.
class ReleaseAnswers
{
public:
    // The offer's members, its "action" object among them, for a test to change before encoding.
    [[nodiscard]] static QJsonObject offer(bool required = false, qint64 build = 23);
    // The answer offering this installer at that URL, signed with that key: its size and digest,
    // the key id and the signature over the digest.
    [[nodiscard]] static QJsonObject withInstaller(QJsonObject answer, const QUrl &url,
                                                   const QByteArray &installer, const QString &keyId,
                                                   const QByteArray &signature);
    [[nodiscard]] static QByteArray encode(const QJsonObject &answer);
    [[nodiscard]] static QByteArray encodedOffer(bool required = false, qint64 build = 23)
    {
        return encode(offer(required, build));
    }
    [[nodiscard]] static QByteArray nothingOffered();
    // What UpdatePolicy::parseResponse makes of offer() under the given channel rule.
    [[nodiscard]] static UpdateCandidate expectedCandidate(bool stable = true);

    [[nodiscard]] static QByteArray installerDigest();
    [[nodiscard]] static QByteArray signature();
};

} // namespace quorin::test
