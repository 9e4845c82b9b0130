#include "tests/update/ReleaseAnswers.h"

#include <QCryptographicHash>
#include <QJsonDocument>

namespace quorin::test {
namespace {

const QString kInstallerUrl =
    QStringLiteral("https://releases.example/releases/quorin-desktop_1.0.9-23_amd64.deb");
const QString kFilename = QStringLiteral("quorin-desktop_1.0.9-23_amd64.deb");
const QString kKeyId = QStringLiteral("ed25519-0123456789abcdef");
const QString kNotes = QStringLiteral("Courses open faster.");
constexpr qint64 kSize = 297600;

} // namespace

QByteArray ReleaseAnswers::installerDigest()
{
    return QCryptographicHash::hash("sample installer", QCryptographicHash::Sha256);
}

QByteArray ReleaseAnswers::signature()
{
    return QByteArray(64, '\x5a');
}

QJsonObject ReleaseAnswers::offer(bool required, qint64 build)
{
    const QJsonObject action{
        {QStringLiteral("type"), QStringLiteral("download")},
        {QStringLiteral("url"), kInstallerUrl},
        {QStringLiteral("filename"), kFilename},
        {QStringLiteral("size"), kSize},
        {QStringLiteral("sha256"), QString::fromLatin1(installerDigest().toHex())},
        {QStringLiteral("signatureType"), QStringLiteral("ed25519-sha256")},
        {QStringLiteral("signingKeyID"), kKeyId},
        {QStringLiteral("detachedSignature"), QString::fromLatin1(signature().toBase64())}};
    return {{QStringLiteral("updateAvailable"), true},
            {QStringLiteral("id"), 109023},
            {QStringLiteral("version"), QStringLiteral("1.0.9")},
            {QStringLiteral("buildNumber"), build},
            {QStringLiteral("releaseNotes"), kNotes},
            {QStringLiteral("minimumVersion"), QStringLiteral("1.0.0")},
            {QStringLiteral("updateRequired"), required},
            {QStringLiteral("action"), action}};
}

QJsonObject ReleaseAnswers::withInstaller(QJsonObject answer, const QUrl &url, const QByteArray &installer,
                                          const QString &keyId, const QByteArray &signature)
{
    QJsonObject action = answer.value(QStringLiteral("action")).toObject();
    action.insert(QStringLiteral("url"), url.toString());
    action.insert(QStringLiteral("size"), installer.size());
    action.insert(
        QStringLiteral("sha256"),
        QString::fromLatin1(QCryptographicHash::hash(installer, QCryptographicHash::Sha256).toHex()));
    action.insert(QStringLiteral("signingKeyID"), keyId);
    action.insert(QStringLiteral("detachedSignature"), QString::fromLatin1(signature.toBase64()));
    answer.insert(QStringLiteral("action"), action);
    return answer;
}

QByteArray ReleaseAnswers::encode(const QJsonObject &answer)
{
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

QByteArray ReleaseAnswers::nothingOffered()
{
    return QByteArrayLiteral(R"({"updateAvailable":false})");
}

UpdateCandidate ReleaseAnswers::expectedCandidate(bool stable)
{
    UpdateCandidate candidate;
    candidate.id = 109023;
    candidate.version = QStringLiteral("1.0.9");
    candidate.buildNumber = 23;
    candidate.releaseNotes = kNotes;
    candidate.minimumVersion = QStringLiteral("1.0.0");
    candidate.updateAvailable = true;
    candidate.actionType = QStringLiteral("download");
    candidate.url = QUrl(kInstallerUrl);
    candidate.filename = kFilename;
    candidate.size = kSize;
    candidate.sha256 = installerDigest();
    candidate.signatureType = QStringLiteral("ed25519-sha256");
    candidate.signingKeyID = kKeyId;
    candidate.signature = signature();
    candidate.stable = stable;
    return candidate;
}

} // namespace quorin::test
