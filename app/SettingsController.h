#pragma once

#include "app/AppFailure.h"
#include "app/RestRequester.h"
#include "app/SystemThemeResolver.h"

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QTranslator>
#include <QVariantMap>
#include <functional>
#include <memory>

// The user's preferences, and their effect on the running application: theme mode and the
// effective dark flag, interface language with its locale, layout direction and translation,
// notifications switch, animation speed, usage-telemetry consent and the window of detailed
// diagnostics. It also carries what the settings and support screens do for the user: the client
// configuration with the support link, the Telegram link, opening links, copying text, each
// course's view state and the diagnostic bundle. The interface reaches it as the singleton
// "SettingsController".
class SettingsController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "SettingsController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QString themeMode READ themeMode WRITE setThemeMode NOTIFY themeChanged)
    Q_PROPERTY(bool effectiveDark READ effectiveDark NOTIFY themeChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(int layoutDirection READ layoutDirection NOTIFY layoutDirectionChanged)
    Q_PROPERTY(bool notificationsEnabled READ notificationsEnabled WRITE setNotificationsEnabled NOTIFY
                   notificationsChanged)
    Q_PROPERTY(bool telegramIsLoading READ telegramIsLoading NOTIFY telegramStatusChanged)
    Q_PROPERTY(bool telegramIsConnected READ telegramIsConnected NOTIFY telegramStatusChanged)
    Q_PROPERTY(QString supportUrl READ supportUrl NOTIFY clientConfigChanged)
    // The product website, where the legal pages are; fixed for the run.
    Q_PROPERTY(QString websiteUrl READ websiteUrl CONSTANT)
    Q_PROPERTY(bool usageTelemetryEnabled READ usageTelemetryEnabled WRITE setUsageTelemetryEnabled NOTIFY
                   usageTelemetryChanged)
    Q_PROPERTY(QString lastDiagnosticBundlePath READ lastDiagnosticBundlePath NOTIFY diagnosticBundleChanged)
    Q_PROPERTY(bool detailedDiagnosticsEnabled READ detailedDiagnosticsEnabled WRITE
                   setDetailedDiagnosticsEnabled NOTIFY detailedDiagnosticsChanged)
    Q_PROPERTY(
        QDateTime detailedDiagnosticsExpiry READ detailedDiagnosticsExpiry NOTIFY detailedDiagnosticsChanged)
    Q_PROPERTY(float animationSpeedMultiplier READ animationSpeedMultiplier WRITE setAnimationSpeedMultiplier
                   NOTIFY animationSpeedMultiplierChanged)
    Q_PROPERTY(AppFailure telegramFailure READ telegramFailure NOTIFY telegramFailureChanged)

public:
    using ProcessorCount = std::function<int()>;

    static constexpr qint64 kDetailedWindowSeconds = 10800;

    // The application's controller over the preferences store; created on first use.
    [[nodiscard]] static SettingsController *instance();
    // A controller of its own over the given store, for tests. processorCount decides the
    // first-run animation default; the machine's when empty.
    [[nodiscard]] static std::unique_ptr<SettingsController>
    createWithStore(std::unique_ptr<QSettings> store, ProcessorCount processorCount = {});
    ~SettingsController() override;

    [[nodiscard]] QString themeMode() const;
    void setThemeMode(const QString &mode);
    [[nodiscard]] bool effectiveDark() const;

    [[nodiscard]] QString language() const;
    void setLanguage(const QString &language);
    [[nodiscard]] int layoutDirection() const;
    void applyLanguage();
    // "ar" for anything that starts with "ar" once trimmed and lower-cased, else "en".
    [[nodiscard]] static QString normalizedLanguage(const QString &language);

    [[nodiscard]] bool notificationsEnabled() const;
    void setNotificationsEnabled(bool enabled);

    [[nodiscard]] float animationSpeedMultiplier() const;
    void setAnimationSpeedMultiplier(float multiplier);

    [[nodiscard]] bool usageTelemetryEnabled() const;
    void setUsageTelemetryEnabled(bool enabled);

    [[nodiscard]] bool detailedDiagnosticsEnabled() const;
    [[nodiscard]] QDateTime detailedDiagnosticsExpiry() const;
    void setDetailedDiagnosticsEnabled(bool enabled);

    // Where the backend calls go; start-up plugs in the REST client. Without one the calls that
    // need the backend do nothing.
    void setRestRequester(quorin::RestRequester requester);

    // Telegram and support. One Telegram request at a time: calls made while one runs are dropped.
    Q_INVOKABLE void fetchTelegramStatus();
    Q_INVOKABLE void disconnectTelegram();
    Q_INVOKABLE void linkTelegram();
    Q_INVOKABLE void openSupportChat();
    [[nodiscard]] Q_INVOKABLE QString normalizedSupportUrl(const QString &url) const;
    // The view state the course page saved for this user and course; empty when there is none.
    [[nodiscard]] Q_INVOKABLE QVariantMap courseViewState(const QString &userId,
                                                          const QString &courseId) const;
    Q_INVOKABLE void saveCourseViewState(const QString &userId, const QString &courseId,
                                         const QVariantMap &state);
    Q_INVOKABLE void refreshClientConfig();
    // The bundle's path, or an empty text when it could not be written.
    Q_INVOKABLE QString saveDiagnosticBundle(const QString &failureCode);
    Q_INVOKABLE QString saveDiagnosticBundle();
    Q_INVOKABLE void revealDiagnosticBundle();
    // Opens web links and local folders only; anything else is refused with a warning.
    Q_INVOKABLE void openUrl(const QString &url);
    Q_INVOKABLE void copyText(const QString &text);

    [[nodiscard]] bool telegramIsLoading() const { return m_telegramLoading; }
    [[nodiscard]] bool telegramIsConnected() const { return m_telegramConnected; }
    [[nodiscard]] QString supportUrl() const { return m_supportUrl; }
    [[nodiscard]] QString websiteUrl() const;
    [[nodiscard]] QString lastDiagnosticBundlePath() const { return m_lastBundlePath; }
    [[nodiscard]] AppFailure telegramFailure() const { return m_telegramFailure; }

    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    void themeChanged();
    void languageChanged();
    void layoutDirectionChanged();
    void notificationsChanged();
    void telegramStatusChanged();
    void telegramError(const AppFailure &failure);
    void telegramFailureChanged();
    void animationSpeedMultiplierChanged();
    void clientConfigChanged();
    void usageTelemetryChanged();
    void diagnosticBundleChanged();
    void detailedDiagnosticsChanged();

private:
    SettingsController(std::unique_ptr<QSettings> store, const ProcessorCount &processorCount);

    void migrateTheme();
    void writeAnimationDefault(const ProcessorCount &processorCount);
    void followPlatformAppearance();
    [[nodiscard]] bool followsSystemTheme() const;
    [[nodiscard]] SystemThemeResolver::ColorScheme platformColorScheme() const;
    void sendTelegramRequest(quorin::RestMethod method, const QJsonObject &body,
                             void (SettingsController::*onSuccess)(const QJsonObject &));
    void reportTelegramFailure(const AppFailure &failure);
    void applyTelegramStatus(const QJsonObject &status);
    void applyTelegramUnlinked(const QJsonObject &reply);
    void applyClientConfig(const QJsonObject &config);

    std::unique_ptr<QSettings> m_store;
    QTranslator m_translator;
    bool m_telegramLoading = false;
    bool m_telegramConnected = false;
    QString m_telegramUserId;
    QString m_supportUrl;
    QString m_lastBundlePath;
    // The platform's own appearance hint; none is read on this platform.
    int m_appearanceHint = -1;
    AppFailure m_telegramFailure;
    quorin::RestRequester m_restRequester;
};
