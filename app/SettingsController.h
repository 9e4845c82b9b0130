#pragma once

#include "app/SystemThemeResolver.h"

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QTranslator>
#include <functional>
#include <memory>

// The user's preferences, and their effect on the running application: theme mode and the
// effective dark flag, interface language with its locale, layout direction and translation,
// notifications switch, animation speed, usage-telemetry consent and the window of detailed
// diagnostics. The interface reaches it as the singleton "SettingsController".
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
    Q_PROPERTY(bool usageTelemetryEnabled READ usageTelemetryEnabled WRITE setUsageTelemetryEnabled NOTIFY
                   usageTelemetryChanged)
    Q_PROPERTY(bool detailedDiagnosticsEnabled READ detailedDiagnosticsEnabled WRITE
                   setDetailedDiagnosticsEnabled NOTIFY detailedDiagnosticsChanged)
    Q_PROPERTY(
        QDateTime detailedDiagnosticsExpiry READ detailedDiagnosticsExpiry NOTIFY detailedDiagnosticsChanged)
    Q_PROPERTY(float animationSpeedMultiplier READ animationSpeedMultiplier WRITE setAnimationSpeedMultiplier
                   NOTIFY animationSpeedMultiplierChanged)

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

    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    void themeChanged();
    void languageChanged();
    void layoutDirectionChanged();
    void notificationsChanged();
    void animationSpeedMultiplierChanged();
    void usageTelemetryChanged();
    void detailedDiagnosticsChanged();

private:
    SettingsController(std::unique_ptr<QSettings> store, const ProcessorCount &processorCount);

    void migrateTheme();
    void writeAnimationDefault(const ProcessorCount &processorCount);
    void followPlatformAppearance();
    [[nodiscard]] bool followsSystemTheme() const;
    [[nodiscard]] SystemThemeResolver::ColorScheme platformColorScheme() const;

    std::unique_ptr<QSettings> m_store;
    QTranslator m_translator;
    // The platform's own appearance hint; none is read on this platform.
    int m_appearanceHint = -1;
};
