#include "app/SettingsController.h"

SettingsController *SettingsController::instance()
{
    static SettingsController controller;
    return &controller;
}

void SettingsController::setLanguage(const QString &language)
{
    if (language == m_language)
        return;
    m_language = language;
    Q_EMIT languageChanged();
}

void SettingsController::setAnimationSpeedMultiplier(float multiplier)
{
    if (qFuzzyCompare(multiplier, m_animationSpeedMultiplier))
        return;
    m_animationSpeedMultiplier = multiplier;
    Q_EMIT animationSpeedMultiplierChanged();
}
