#include "app/SettingsController.h"

#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QStyleHints>
#include <QThread>

namespace {

const QString kThemeModeKey = QStringLiteral("themeMode");
const QString kLegacyDarkThemeKey = QStringLiteral("isDarkTheme");
const QString kLanguageKey = QStringLiteral("language");
const QString kNotificationsKey = QStringLiteral("notificationsEnabled");
const QString kAnimationSpeedKey = QStringLiteral("animationSpeedMultiplier");
const QString kUsageTelemetryKey = QStringLiteral("usageTelemetryEnabled");

const QString kDark = QStringLiteral("dark");
const QString kLight = QStringLiteral("light");
const QString kSystem = QStringLiteral("system");
const QString kArabic = QStringLiteral("ar");
const QString kEnglish = QStringLiteral("en");
const QString kArabicTranslation = QStringLiteral(":/i18n/quorin_ar.qm");

float animationDefaultFor(int processors)
{
    // Slower machines drop frames on the interface's animations; fewer of them keep it smooth.
    if (processors >= 8)
        return 1.0F;
    if (processors >= 4)
        return 0.5F;
    return 0.0F;
}

} // namespace

SettingsController *SettingsController::instance()
{
    static SettingsController controller(quorin::PreferencesStore::open(), ProcessorCount());
    return &controller;
}

std::unique_ptr<SettingsController> SettingsController::createWithStore(std::unique_ptr<QSettings> store,
                                                                        ProcessorCount processorCount)
{
    return std::unique_ptr<SettingsController>(new SettingsController(std::move(store), processorCount));
}

SettingsController::SettingsController(std::unique_ptr<QSettings> store, const ProcessorCount &processorCount)
    : m_store(std::move(store))
{
    migrateTheme();
    writeAnimationDefault(processorCount ? processorCount : ProcessorCount(&QThread::idealThreadCount));
    applyLanguage();
    connect(qGuiApp, &QGuiApplication::layoutDirectionChanged, this,
            &SettingsController::layoutDirectionChanged);
    followPlatformAppearance();
}

SettingsController::~SettingsController()
{
    // The application object may be gone when the process-wide controller goes at exit.
    if (QCoreApplication::instance())
        QCoreApplication::removeTranslator(&m_translator);
}

void SettingsController::migrateTheme()
{
    if (m_store->contains(kThemeModeKey))
        return;
    if (m_store->contains(kLegacyDarkThemeKey))
        m_store->setValue(kThemeModeKey, m_store->value(kLegacyDarkThemeKey).toBool() ? kDark : kLight);
    else
        m_store->setValue(kThemeModeKey, kSystem);
    m_store->remove(kLegacyDarkThemeKey);
}

void SettingsController::writeAnimationDefault(const ProcessorCount &processorCount)
{
    if (!m_store->contains(kAnimationSpeedKey))
        m_store->setValue(kAnimationSpeedKey, animationDefaultFor(processorCount()));
}

void SettingsController::followPlatformAppearance()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, this, [this] {
        if (followsSystemTheme())
            Q_EMIT themeChanged();
    });
#endif
    // Before Qt 6.5 a palette change is the only sign that the platform's appearance changed.
    QCoreApplication::instance()->installEventFilter(this);
}

bool SettingsController::eventFilter(QObject *watched, QEvent *event)
{
    // Sees every event of the application: compare the cheap things first.
    if (event->type() == QEvent::ApplicationPaletteChange && watched == QCoreApplication::instance() &&
        followsSystemTheme())
        Q_EMIT themeChanged();
    return QObject::eventFilter(watched, event);
}

QString SettingsController::themeMode() const
{
    const QString stored = m_store->value(kThemeModeKey, kSystem).toString().toLower();
    return stored == kDark || stored == kLight ? stored : kSystem;
}

void SettingsController::setThemeMode(const QString &mode)
{
    const QString lowered = mode.toLower();
    if (lowered != kDark && lowered != kLight && lowered != kSystem)
        return;
    if (lowered == themeMode())
        return;
    m_store->setValue(kThemeModeKey, lowered);
    Q_EMIT themeChanged();
}

bool SettingsController::followsSystemTheme() const
{
    return themeMode() == kSystem;
}

SystemThemeResolver::ColorScheme SettingsController::platformColorScheme() const
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QGuiApplication::styleHints()->colorScheme();
#else
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return SystemThemeResolver::schemeFromWindowLightness(window.lightnessF());
#endif
}

bool SettingsController::effectiveDark() const
{
    const double lightness = QGuiApplication::palette().color(QPalette::Window).lightnessF();
    return SystemThemeResolver::effectiveDark(themeMode(), platformColorScheme(), m_appearanceHint,
                                              lightness);
}

QString SettingsController::normalizedLanguage(const QString &language)
{
    return language.trimmed().toLower().startsWith(kArabic) ? kArabic : kEnglish;
}

QString SettingsController::language() const
{
    return normalizedLanguage(m_store->value(kLanguageKey, kEnglish).toString());
}

void SettingsController::setLanguage(const QString &language)
{
    const QString normalised = normalizedLanguage(language);
    if (normalised == this->language())
        return;
    m_store->setValue(kLanguageKey, normalised);
    applyLanguage();
    Q_EMIT languageChanged();
}

int SettingsController::layoutDirection() const
{
    return int(QGuiApplication::layoutDirection());
}

void SettingsController::applyLanguage()
{
    const bool arabic = language() == kArabic;
    QLocale::setDefault(QLocale(arabic ? QStringLiteral("ar_EG") : QStringLiteral("en_US")));
    QGuiApplication::setLayoutDirection(arabic ? Qt::RightToLeft : Qt::LeftToRight);
    QCoreApplication::removeTranslator(&m_translator);
    // English is the source language; without the Arabic file the source texts stay.
    if (arabic && m_translator.load(kArabicTranslation))
        QCoreApplication::installTranslator(&m_translator);
}

bool SettingsController::notificationsEnabled() const
{
    return m_store->value(kNotificationsKey, true).toBool();
}

void SettingsController::setNotificationsEnabled(bool enabled)
{
    // Announced even when unchanged, so a switch that the user flicked always shows the stored value.
    m_store->setValue(kNotificationsKey, enabled);
    Q_EMIT notificationsChanged();
}

float SettingsController::animationSpeedMultiplier() const
{
    return m_store->value(kAnimationSpeedKey, 1.0F).toFloat();
}

void SettingsController::setAnimationSpeedMultiplier(float multiplier)
{
    // Relative comparison, so that a slider's rounding noise is no change and 0 equals only 0.
    if (qFuzzyCompare(animationSpeedMultiplier(), multiplier))
        return;
    m_store->setValue(kAnimationSpeedKey, multiplier);
    Q_EMIT animationSpeedMultiplierChanged();
}

bool SettingsController::usageTelemetryEnabled() const
{
    return m_store->value(kUsageTelemetryKey, true).toBool();
}

void SettingsController::setUsageTelemetryEnabled(bool enabled)
{
    if (enabled == usageTelemetryEnabled())
        return;
    m_store->setValue(kUsageTelemetryKey, enabled);
    Q_EMIT usageTelemetryChanged();
}

bool SettingsController::detailedDiagnosticsEnabled() const
{
    return DiagnosticLogger::detailed();
}

QDateTime SettingsController::detailedDiagnosticsExpiry() const
{
    return DiagnosticLogger::detailedUntil();
}

void SettingsController::setDetailedDiagnosticsEnabled(bool enabled)
{
    if (enabled == DiagnosticLogger::detailed())
        return;
    DiagnosticLogger::setDetailedUntil(
        enabled ? QDateTime::currentDateTimeUtc().addSecs(kDetailedWindowSeconds) : QDateTime());
    Q_EMIT detailedDiagnosticsChanged();
}
