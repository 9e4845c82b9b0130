// Feeds arbitrary bytes to the release policy and aborts when a promise of its rules breaks: as
// a release answer under both channel rules, and split at the first line break as two version
// texts and a file name.
#include "update/UpdatePolicy.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

int signOf(int value)
{
    return (value > 0) - (value < 0);
}

// What the caller held before: a refused answer must leave it exactly so.
UpdateCandidate prefilled()
{
    UpdateCandidate candidate;
    candidate.id = 41;
    candidate.version = QStringLiteral("0.1.0");
    candidate.buildNumber = 5;
    candidate.updateAvailable = true;
    candidate.actionType = QStringLiteral("store");
    candidate.url = QUrl(QStringLiteral("https://store.example/app"));
    candidate.stable = true;
    return candidate;
}

bool isEmptyRecord(UpdateCandidate candidate)
{
    candidate.stable = false;
    return candidate == UpdateCandidate();
}

void checkDownloadFields(const UpdateCandidate &c)
{
    require(!c.filename.isEmpty() && UpdatePolicy::safeFilename(c.filename) == c.filename);
    require(c.size >= 0);
    require(c.sha256.size() == 32);
    require(c.signatureType == QLatin1String("ed25519-sha256"));
    require(UpdatePolicy::isSigningKeyId(c.signingKeyID));
    require(c.signature.size() == 64);
}

void checkStoreFields(const UpdateCandidate &c)
{
    require(c.filename.isEmpty() && c.size == -1 && c.sha256.isEmpty());
    require(c.signatureType.isEmpty() && c.signingKeyID.isEmpty() && c.signature.isEmpty());
}

void checkOffer(const UpdateCandidate &c, bool stable)
{
    require(c.id >= 0 && c.buildNumber >= 0);
    require(UpdatePolicy::isVersion(c.version));
    require(!(stable && UpdatePolicy::hasPreRelease(c.version)));
    require(c.updateAvailable);
    require(UpdatePolicy::validHttpsUrl(c.url));
    if (c.actionType == QLatin1String("download"))
        checkDownloadFields(c);
    else if (c.actionType == QLatin1String("store"))
        checkStoreFields(c);
    else
        require(false);
}

void checkAnswer(const QByteArray &body, bool stable)
{
    UpdateCandidate candidate = prefilled();
    QString error;
    if (!UpdatePolicy::parseResponse(body, stable, candidate, &error)) {
        require(candidate == prefilled());
        require(error == UpdatePolicy::InvalidJsonError ||
                error == UpdatePolicy::InvalidRequiredFieldsError ||
                error == UpdatePolicy::InvalidDownloadMetadataError);
        return;
    }
    require(error.isEmpty());
    require(candidate.stable == stable);
    if (!isEmptyRecord(candidate))
        checkOffer(candidate, stable);
}

void checkTexts(const QByteArray &bytes)
{
    const qsizetype lineBreak = bytes.indexOf('\n');
    const QString a = QString::fromUtf8(lineBreak < 0 ? bytes : bytes.left(lineBreak));
    const QString b = lineBreak < 0 ? QString() : QString::fromUtf8(bytes.mid(lineBreak + 1));
    require(signOf(UpdatePolicy::compareVersions(a, b)) == -signOf(UpdatePolicy::compareVersions(b, a)));
    const QString safe = UpdatePolicy::safeFilename(a);
    require(safe.isEmpty() || safe == a);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkAnswer(bytes, true);
    checkAnswer(bytes, false);
    checkTexts(bytes);
    return 0;
}
