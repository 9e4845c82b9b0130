#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QSslCertificate>
#include <QUrl>

namespace quorin {

// Where this build talks to: the backend, the telemetry collector, the release service, the
// product website and the outside AI chat page that quizzes fall back to. Build settings give the defaults;
// environment variables of the same names override them at run time, and QUORIN_CA_FILE adds a certificate
// authority that every network manager of the process trusts. Read once, in this one place.
class Endpoints
{
public:
    struct Defaults
    {
        QString apiBaseUrl;
        QString telemetryUrl;
        QString releaseUrl;
        QString websiteUrl;
        QString aiChatUrl;
    };

    // The process-wide values: build defaults overridden by the process environment.
    [[nodiscard]] static const Endpoints &instance();

    // Resolves the values from the given environment; refused overrides are reported as one
    // warning each and leave the default in force.
    [[nodiscard]] static Endpoints resolve(const QProcessEnvironment &environment, const Defaults &defaults);
    [[nodiscard]] static Defaults buildDefaults();

    // Adds the extra authority to the default SSL configuration. Call before any network
    // manager exists: managers copy the default configuration into each request.
    void installCertificateAuthority() const;

    [[nodiscard]] QUrl apiBaseUrl() const { return m_apiBaseUrl; }
    [[nodiscard]] QUrl telemetryUrl() const { return m_telemetryUrl; }
    [[nodiscard]] QUrl releaseUrl() const { return m_releaseUrl; }
    [[nodiscard]] QUrl websiteUrl() const { return m_websiteUrl; }
    [[nodiscard]] QUrl aiChatUrl() const { return m_aiChatUrl; }
    [[nodiscard]] QString certificateAuthorityFile() const { return m_caFile; }
    [[nodiscard]] QList<QSslCertificate> extraCertificateAuthorities() const { return m_extraAuthorities; }

private:
    QUrl m_apiBaseUrl;
    QUrl m_telemetryUrl;
    QUrl m_releaseUrl;
    QUrl m_websiteUrl;
    QUrl m_aiChatUrl;
    QString m_caFile;
    QList<QSslCertificate> m_extraAuthorities;
};

} // namespace quorin
