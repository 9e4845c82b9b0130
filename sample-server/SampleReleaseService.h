#pragma once

#include "testsupport/FixturePaths.h"
#include "testsupport/FixtureServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// The release service of the sample platform: "/v2/releases/latest" offers the sample release of
// release.json to an older Linux client, as a download of the installer served below "/releases/"
// (slowly, so the client's progress shows), signed at start with the build's demo key. Every
// answer carries a Date header. Two modes show the client's failures: an offer whose installer
// fails verification, and a service that answers every check with 503.
class SampleReleaseService
{
public:
    using Request = quorin::test::FixtureServer::Request;
    using Response = quorin::test::FixtureServer::Response;

    // What the service offers: the sample release as optional, as required, or nothing; the
    // optional release with a digest its installer does not have (signed all the same, so the
    // download fails its digest check); or nothing but 503.
    enum class Mode { Optional, Required, None, Corrupt, Unavailable };

    struct Options
    {
        Mode mode = Mode::Optional;
        // Holds release.json.
        QString dataFolder;
        // Served below "/releases/"; holds the installer release.json names.
        QString releaseFolder = quorin::test::FixturePaths::releaseFolder();
        // The PEM private key that signs the installer's digest.
        QString signingKeyFile = quorin::test::FixturePaths::updateSigningKeyFile();
    };

    // How long the installer takes to download, about.
    static constexpr qint64 InstallerTransferSeconds = 4;

    // "optional", "required", "none", "corrupt" or "unavailable".
    [[nodiscard]] static std::optional<Mode> modeFromName(const QString &name);

    explicit SampleReleaseService(Options options);

    // Reads the offer, hashes the installer and signs its digest. False, with errorString(), when
    // the installer is missing; an unreadable key is replaced by a throwaway one, with
    // warningString().
    [[nodiscard]] bool prepare();
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] QString warningString() const { return m_warning; }

    // The routes answer on this server, which must outlive them.
    void addTo(quorin::test::FixtureServer &server);

private:
    [[nodiscard]] Response latest(const Request &request) const;
    [[nodiscard]] QJsonObject offer() const;

    Options m_options;
    const quorin::test::FixtureServer *m_server = nullptr;
    QJsonObject m_release; // release.json
    QByteArray m_installerDigest;
    qint64 m_installerSize = 0;
    QString m_signingKeyId;
    QByteArray m_installerSignature;
    QString m_error;
    QString m_warning;
};
