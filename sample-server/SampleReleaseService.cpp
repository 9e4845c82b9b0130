#include "sample-server/SampleReleaseService.h"

#include "testsupport/Ed25519Signer.h"
#include "update/UpdatePolicy.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocale>
#include <QUrlQuery>

namespace {

QByteArray httpDate()
{
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

SampleReleaseService::Response dated(SampleReleaseService::Response response)
{
    return response.withHeader("Date", httpDate());
}

} // namespace

std::optional<SampleReleaseService::Mode> SampleReleaseService::modeFromName(const QString &name)
{
    if (name == QLatin1String("optional"))
        return Mode::Optional;
    if (name == QLatin1String("required"))
        return Mode::Required;
    if (name == QLatin1String("none"))
        return Mode::None;
    if (name == QLatin1String("corrupt"))
        return Mode::Corrupt;
    if (name == QLatin1String("unavailable"))
        return Mode::Unavailable;
    return std::nullopt;
}

SampleReleaseService::SampleReleaseService(Options options)
    : m_options(std::move(options))
{
}

bool SampleReleaseService::prepare()
{
    QFile data(QDir(m_options.dataFolder).filePath(QStringLiteral("release.json")));
    m_release =
        data.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(data.readAll()).object() : QJsonObject();
    const QString filename = m_release.value(QStringLiteral("filename")).toString();
    QFile installer(QDir(m_options.releaseFolder).filePath(filename));
    if (filename.isEmpty() || !installer.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("no release installer %1 in %2").arg(filename, m_options.releaseFolder);
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&installer);
    m_installerDigest = hash.result();
    m_installerSize = installer.size();
    if (m_options.mode == Mode::Corrupt)
        m_installerDigest[0] = char(m_installerDigest.at(0) ^ 0x01);

    std::optional<quorin::test::Ed25519Signer> signer =
        quorin::test::Ed25519Signer::fromPemFile(m_options.signingKeyFile);
    if (!signer) {
        m_warning = QStringLiteral("no Ed25519 key in %1; a throwaway key signs the release, which the "
                                   "client's keyring will not accept")
                        .arg(m_options.signingKeyFile);
        signer = quorin::test::Ed25519Signer::generate();
    }
    m_signingKeyId = signer->keyId();
    m_installerSignature = signer->sign(m_installerDigest);
    return true;
}

void SampleReleaseService::addTo(quorin::test::FixtureServer &server)
{
    m_server = &server;
    // Slowed to about four seconds, so that a demo shows the download's progress.
    Response throttled;
    throttled.bytesPerSecond = qMax<qint64>(1, m_installerSize / InstallerTransferSeconds);
    server.serveDirectory(QStringLiteral("/releases/"), m_options.releaseFolder, throttled);
    server.setHandler(QStringLiteral("/v2/releases/latest"),
                      [this](const Request &request) { return latest(request); });
}

QJsonObject SampleReleaseService::offer() const
{
    const QString filename = m_release.value(QStringLiteral("filename")).toString();
    QJsonObject offer = m_release;
    offer.remove(QStringLiteral("filename"));
    offer.insert(QStringLiteral("updateAvailable"), true);
    offer.insert(QStringLiteral("updateRequired"), m_options.mode == Mode::Required);
    offer.insert(
        QStringLiteral("action"),
        QJsonObject{
            {QStringLiteral("type"), QStringLiteral("download")},
            {QStringLiteral("url"), m_server->url(QStringLiteral("/releases/") + filename).toString()},
            {QStringLiteral("filename"), filename},
            {QStringLiteral("size"), m_installerSize},
            {QStringLiteral("sha256"), QString::fromLatin1(m_installerDigest.toHex())},
            {QStringLiteral("signatureType"), QStringLiteral("ed25519-sha256")},
            {QStringLiteral("signingKeyID"), m_signingKeyId},
            {QStringLiteral("detachedSignature"), QString::fromLatin1(m_installerSignature.toBase64())}});
    return offer;
}

SampleReleaseService::Response SampleReleaseService::latest(const Request &request) const
{
    if (request.method != "GET")
        return dated(Response(405));
    if (m_options.mode == Mode::Unavailable)
        return dated(
            Response::json(R"({"error":"unavailable","message":"The release service is down"})", 503));
    const QUrlQuery query = request.queryItems();
    const bool knownTarget =
        query.queryItemValue(QStringLiteral("product")) == QLatin1String("quorin-desktop") &&
        query.queryItemValue(QStringLiteral("platform")) == QLatin1String("linux") &&
        query.queryItemValue(QStringLiteral("packageType")) == QLatin1String("deb");
    if (!knownTarget)
        return dated(Response::json(
            R"({"error":"unsupported-target","message":"This service has releases of quorin-desktop for linux as deb only"})",
            400));

    UpdateCandidate offered;
    offered.version = m_release.value(QStringLiteral("version")).toString();
    offered.buildNumber = m_release.value(QStringLiteral("buildNumber")).toInteger();
    bool buildRead = false;
    const qint64 currentBuild =
        query.queryItemValue(QStringLiteral("currentBuildNumber")).toLongLong(&buildRead);
    const bool clientIsOlder = UpdatePolicy::isNewer(
        offered, query.queryItemValue(QStringLiteral("currentVersion")), buildRead ? currentBuild : 0);
    if (m_options.mode == Mode::None || !clientIsOlder)
        return dated(Response::json(R"({"updateAvailable": false})"));
    return dated(Response::json(QJsonDocument(offer()).toJson(QJsonDocument::Compact)));
}
