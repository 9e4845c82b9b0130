#include "update/UpdatePolicy.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QStringList>
#include <memory>
#include <openssl/evp.h>
#include <optional>

namespace {

constexpr qsizetype kDigestBytes = 32;
constexpr qsizetype kPublicKeyBytes = 32;
constexpr qsizetype kSignatureBytes = 64;
const QString kSignatureType = QStringLiteral("ed25519-sha256");
const QString kStoreAction = QStringLiteral("store");
const QString kDownloadAction = QStringLiteral("download");

// Compiled once, when the program starts; only read afterwards.
const QRegularExpression kVersionPattern(QStringLiteral(
    R"(^(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)(?:-([0-9A-Za-z-]+(?:\.[0-9A-Za-z-]+)*))?(?:\+[0-9A-Za-z-]+(?:\.[0-9A-Za-z-]+)*)?$)"));
const QRegularExpression kSigningKeyIdPattern(QStringLiteral("^ed25519-[0-9a-f]{16}$"));

// "$" also matches before a final line break, so "1.0.9\n" would pass as a version and travel
// into the settings and the dismissed-release key. Only a match of the whole text counts.
QRegularExpressionMatch wholeMatch(const QRegularExpression &pattern, const QString &text)
{
    QRegularExpressionMatch match = pattern.match(text);
    if (match.hasMatch() && match.capturedLength(0) != text.size())
        return QRegularExpressionMatch();
    return match;
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

// A number too large for 64 bits reads as 0.
quint64 versionNumber(QStringView digits)
{
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok);
    return ok ? value : 0;
}

bool isAllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar character : text) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The value of an identifier that counts as numeric: all digits and within 64 bits.
std::optional<quint64> numericIdentifier(QStringView identifier)
{
    if (!isAllDigits(identifier))
        return std::nullopt;
    bool ok = false;
    const quint64 value = identifier.toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

int comparePreRelease(const QString &lhs, const QString &rhs)
{
    const QStringList left = lhs.split(QLatin1Char('.'));
    const QStringList right = rhs.split(QLatin1Char('.'));
    const qsizetype common = qMin(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const std::optional<quint64> leftNumber = numericIdentifier(left.at(i));
        const std::optional<quint64> rightNumber = numericIdentifier(right.at(i));
        if (leftNumber && rightNumber && *leftNumber != *rightNumber)
            return *leftNumber > *rightNumber ? 1 : -1;
        if (leftNumber.has_value() != rightNumber.has_value())
            return leftNumber ? -1 : 1; // numeric identifiers rank below alphanumeric ones
        // Equal values written differently ("01" and "1") are decided here too.
        const int byText = sign(QString::compare(left.at(i), right.at(i), Qt::CaseSensitive));
        if (byText != 0)
            return byText;
    }
    return sign(int(left.size() - right.size()));
}

// The answer's lenient reading: a whole number that fits in 64 bits, else -1.
qint64 wholeNumber(const QJsonObject &object, const QString &key)
{
    return object.value(key).toInteger(-1);
}

QString text(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

bool flag(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isBool() && value.toBool();
}

// Standard Base64; any invalid input decodes to nothing.
QByteArray strictBase64(const QString &encoded)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(encoded.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool requiredFieldsValid(const UpdateCandidate &read, bool stable)
{
    const bool knownAction = read.actionType == kStoreAction || read.actionType == kDownloadAction;
    return read.id >= 0 && UpdatePolicy::isVersion(read.version) &&
           !(stable && UpdatePolicy::hasPreRelease(read.version)) && read.buildNumber >= 0 &&
           read.updateAvailable && knownAction && UpdatePolicy::validHttpsUrl(read.url);
}

bool downloadMetadataValid(const UpdateCandidate &read)
{
    return !UpdatePolicy::safeFilename(read.filename).isEmpty() && read.size >= 0 &&
           read.sha256.size() == kDigestBytes && read.signatureType == kSignatureType &&
           UpdatePolicy::isSigningKeyId(read.signingKeyID) && read.signature.size() == kSignatureBytes;
}

void readDownloadFields(const QJsonObject &action, UpdateCandidate &read)
{
    read.filename = text(action, QStringLiteral("filename"));
    read.size = wholeNumber(action, QStringLiteral("size"));
    // Every character that is not a hexadecimal digit is skipped ("ab:cd" is two bytes).
    read.sha256 = QByteArray::fromHex(text(action, QStringLiteral("sha256")).toLatin1());
    read.signatureType = text(action, QStringLiteral("signatureType"));
    read.signingKeyID = text(action, QStringLiteral("signingKeyID"));
    read.signature = strictBase64(text(action, QStringLiteral("detachedSignature")));
}

struct PublicKeyDeleter
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};

struct VerifyContextDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

bool UpdatePolicy::isVersion(const QString &text)
{
    return wholeMatch(kVersionPattern, text).hasMatch();
}

bool UpdatePolicy::hasPreRelease(const QString &version)
{
    return wholeMatch(kVersionPattern, version).hasCaptured(4);
}

bool UpdatePolicy::isSigningKeyId(const QString &text)
{
    return wholeMatch(kSigningKeyIdPattern, text).hasMatch();
}

int UpdatePolicy::compareVersions(const QString &lhs, const QString &rhs)
{
    const QRegularExpressionMatch left = wholeMatch(kVersionPattern, lhs);
    const QRegularExpressionMatch right = wholeMatch(kVersionPattern, rhs);
    if (!left.hasMatch() || !right.hasMatch())
        return sign(QString::compare(lhs, rhs, Qt::CaseSensitive));

    for (int part = 1; part <= 3; ++part) {
        const quint64 leftNumber = versionNumber(left.capturedView(part));
        const quint64 rightNumber = versionNumber(right.capturedView(part));
        if (leftNumber != rightNumber)
            return leftNumber > rightNumber ? 1 : -1;
    }

    const bool leftPreRelease = left.hasCaptured(4);
    const bool rightPreRelease = right.hasCaptured(4);
    if (leftPreRelease != rightPreRelease)
        return leftPreRelease ? -1 : 1;
    if (!leftPreRelease)
        return 0; // build metadata never takes part
    return comparePreRelease(left.captured(4), right.captured(4));
}

bool UpdatePolicy::isNewer(const UpdateCandidate &candidate, const QString &version, qint64 build)
{
    const int order = compareVersions(candidate.version, version);
    return order > 0 || (order == 0 && candidate.buildNumber > build);
}

bool UpdatePolicy::validHttpsUrl(const QUrl &url)
{
    // An "@" with nothing before it still opens a user information part.
    return url.isValid() && url.scheme() == QLatin1String("https") &&
           !url.host(QUrl::FullyDecoded).isEmpty() && url.userInfo().isEmpty() &&
           !url.authority().contains(QLatin1Char('@'));
}

QString UpdatePolicy::safeFilename(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return {};
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QChar(0)))
        return {};
    return name;
}

bool UpdatePolicy::parseResponse(const QByteArray &body, bool stable, UpdateCandidate &candidate,
                                 QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fail(error, InvalidJsonError);

    const QJsonObject root = document.object();
    const QJsonValue available = root.value(QStringLiteral("updateAvailable"));
    if (available.isBool() && !available.toBool()) {
        candidate = UpdateCandidate();
        candidate.stable = stable;
        return true;
    }

    UpdateCandidate read;
    read.id = wholeNumber(root, QStringLiteral("id"));
    read.version = text(root, QStringLiteral("version"));
    read.buildNumber = wholeNumber(root, QStringLiteral("buildNumber"));
    read.releaseNotes = text(root, QStringLiteral("releaseNotes"));
    read.minimumVersion = text(root, QStringLiteral("minimumVersion"));
    read.updateAvailable = flag(root, QStringLiteral("updateAvailable"));
    read.updateRequired = flag(root, QStringLiteral("updateRequired"));
    const QJsonObject action = root.value(QStringLiteral("action")).toObject();
    read.actionType = text(action, QStringLiteral("type"));
    read.url = QUrl(text(action, QStringLiteral("url")), QUrl::TolerantMode);
    if (!requiredFieldsValid(read, stable))
        return fail(error, InvalidRequiredFieldsError);

    if (read.actionType == kDownloadAction) {
        readDownloadFields(action, read);
        if (!downloadMetadataValid(read))
            return fail(error, InvalidDownloadMetadataError);
    }
    read.stable = stable;
    candidate = read;
    return true;
}

QDateTime UpdatePolicy::monotonicNow(const QDateTime &now, const QDateTime &observed, const QDateTime &stored)
{
    QDateTime result = now.toUTC();
    if (observed.isValid() && observed > result)
        result = observed.toUTC();
    if (stored.isValid() && stored > result)
        result = stored.toUTC();
    return result;
}

bool UpdatePolicy::verifyEd25519Digest(const QByteArray &publicKey, const QByteArray &digest,
                                       const QByteArray &signature)
{
    if (publicKey.size() != kPublicKeyBytes || digest.size() != kDigestBytes ||
        signature.size() != kSignatureBytes)
        return false;
    const std::unique_ptr<EVP_PKEY, PublicKeyDeleter> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(publicKey.constData()),
        size_t(publicKey.size())));
    const std::unique_ptr<EVP_MD_CTX, VerifyContextDeleter> context(EVP_MD_CTX_new());
    if (!key || !context)
        return false;
    // Ed25519 hashes internally: no digest is named, and the 32 digest bytes are the message.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(digest.constData()),
                            size_t(digest.size())) == 1;
}
