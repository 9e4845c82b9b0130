#pragma once

#include <QObject>
#include <QString>

// The user's preferences as the rest of the application sees them. This is the part start-up
// and the telemetry client rely on; the preferences store, the theme and the other settings
// arrive with the preferences work and replace this class whole.
class SettingsController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(bool usageTelemetryEnabled READ usageTelemetryEnabled NOTIFY usageTelemetryChanged)
    Q_PROPERTY(float animationSpeedMultiplier READ animationSpeedMultiplier WRITE setAnimationSpeedMultiplier
                   NOTIFY animationSpeedMultiplierChanged)

public:
    [[nodiscard]] static SettingsController *instance();

    [[nodiscard]] QString language() const { return m_language; }
    void setLanguage(const QString &language);
    [[nodiscard]] bool usageTelemetryEnabled() const { return true; }
    [[nodiscard]] float animationSpeedMultiplier() const { return m_animationSpeedMultiplier; }
    void setAnimationSpeedMultiplier(float multiplier);

Q_SIGNALS:
    void languageChanged();
    void animationSpeedMultiplierChanged();
    void usageTelemetryChanged();

private:
    SettingsController() = default;

    QString m_language = QStringLiteral("en");
    float m_animationSpeedMultiplier = 1.0F;
};
