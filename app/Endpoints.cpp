#include "app/Endpoints.h"

#include "app/HttpsUrl.h"

#include <QFileInfo>
#include <QSslConfiguration>

namespace quorin {
namespace {

QUrl withTrailingSlash(QUrl url)
{
    // Relative REST paths resolve under the base only when it ends in a slash.
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

QUrl resolveUrl(const QProcessEnvironment &environment, const char *name, const QString &buildDefault)
{
    const QUrl fallback(buildDefault);
    const QString variable = QString::fromLatin1(name);
    if (!environment.contains(variable))
        return fallback;
    const QString value = environment.value(variable).trimmed();
    const QUrl candidate(value, QUrl::StrictMode);
    if (!HttpsUrl::isAbsoluteWithHost(candidate)) {
        qWarning("%s is not an absolute https URL; the build default stays in force", name);
        return fallback;
    }
    return candidate;
}

QList<QSslCertificate> readAuthorities(const QString &path)
{
    if (path.isEmpty())
        return {};
    if (!QFileInfo(path).isReadable()) {
        qWarning("QUORIN_CA_FILE cannot be read; no extra certificate authority is trusted");
        return {};
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (certificates.isEmpty())
        qWarning("QUORIN_CA_FILE holds no PEM certificate; no extra certificate authority is trusted");
    return certificates;
}

} // namespace

Endpoints::Defaults Endpoints::buildDefaults()
{
    return {QStringLiteral(QUORIN_DEFAULT_API_BASE_URL), QStringLiteral(QUORIN_DEFAULT_TELEMETRY_URL),
            QStringLiteral(QUORIN_DEFAULT_RELEASE_URL), QStringLiteral(QUORIN_DEFAULT_WEBSITE_URL),
            QStringLiteral(QUORIN_DEFAULT_AI_CHAT_URL)};
}

const Endpoints &Endpoints::instance()
{
    static const Endpoints endpoints = resolve(QProcessEnvironment::systemEnvironment(), buildDefaults());
    return endpoints;
}

Endpoints Endpoints::resolve(const QProcessEnvironment &environment, const Defaults &defaults)
{
    Endpoints endpoints;
    endpoints.m_apiBaseUrl =
        withTrailingSlash(resolveUrl(environment, "QUORIN_API_BASE_URL", defaults.apiBaseUrl));
    endpoints.m_telemetryUrl = resolveUrl(environment, "QUORIN_TELEMETRY_URL", defaults.telemetryUrl);
    endpoints.m_releaseUrl = resolveUrl(environment, "QUORIN_RELEASE_URL", defaults.releaseUrl);
    endpoints.m_websiteUrl = resolveUrl(environment, "QUORIN_WEBSITE_URL", defaults.websiteUrl);
    endpoints.m_aiChatUrl = resolveUrl(environment, "QUORIN_AI_CHAT_URL", defaults.aiChatUrl);
    const QString caFile = environment.value(QStringLiteral("QUORIN_CA_FILE")).trimmed();
    endpoints.m_extraAuthorities = readAuthorities(caFile);
    if (!endpoints.m_extraAuthorities.isEmpty())
        endpoints.m_caFile = caFile;
    return endpoints;
}

void Endpoints::installCertificateAuthority() const
{
    if (m_extraAuthorities.isEmpty())
        return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(m_extraAuthorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

} // namespace quorin
