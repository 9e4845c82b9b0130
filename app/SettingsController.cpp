#include "app/SettingsController.h"

#include "app/DiagnosticBundle.h"
#include "app/DiagnosticLogger.h"
#include "app/Endpoints.h"
#include "app/PreferencesStore.h"
#include "app/TelegramLinks.h"

#include <QClipboard>
#include <QColor>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPalette>
#include <QPointer>
#include <QStyleHints>
#include <QThread>
#include <QUrl>

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
const QString kClientConfigPath = QStringLiteral("desktop/client-config");
const QString kTelegramPath = QStringLiteral("notifications/telegram");

using quorin::RestMethod;

float animationDefaultFor(int processors)
{
    // Slower machines drop frames on the interface's animations; fewer of them keep it smooth.
    if (processors >= 8)
        return 1.0F;
    if (processors >= 4)
        return 0.5F;
    return 0.0F;
}

// Web links, and local folders for the file manager. Handing the system opener anything else
// would start whatever handles it: files open in their applications, network shares mount,
// custom schemes reach other programs.
bool mayOpen(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return url.isValid() && !url.host().isEmpty();
    return url.isLocalFile() && url.host().isEmpty() && QFileInfo(url.toLocalFile()).isDir();
}

// One key per user and course; the ids are hashed exactly as given, spaces included.
QString courseViewKey(const QString &userId, const QString &courseId)
{
    QByteArray material = userId.toUtf8();
    material.append('\0');
    material.append(courseId.toUtf8());
    return QStringLiteral("courseView/") +
           QString::fromLatin1(QCryptographicHash::hash(material, QCryptographicHash::Sha256).toHex());
}

bool hasBothIds(const QString &userId, const QString &courseId)
{
    return !userId.trimmed().isEmpty() && !courseId.trimmed().isEmpty();
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
    , m_supportUrl(quorin::TelegramLinks::defaultSupportUrl())
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

void SettingsController::setRestRequester(quorin::RestRequester requester)
{
    m_restRequester = std::move(requester);
}

void SettingsController::sendTelegramRequest(RestMethod method, const QJsonObject &body,
                                             void (SettingsController::*onSuccess)(const QJsonObject &))
{
    // Status and unlink share one flag: one Telegram request at a time, later calls dropped.
    if (m_telegramLoading || !m_restRequester)
        return;
    m_telegramLoading = true;
    Q_EMIT telegramStatusChanged();
    m_restRequester(
        method, kTelegramPath, body,
        [self = QPointer(this), onSuccess](const QJsonDocument &reply, const AppFailure &failure) {
            if (!self)
                return;
            self->m_telegramLoading = false;
            if (!failure.code.isEmpty())
                self->reportTelegramFailure(failure);
            else
                (self.data()->*onSuccess)(reply.object());
            Q_EMIT self->telegramStatusChanged();
        });
}

void SettingsController::reportTelegramFailure(const AppFailure &failure)
{
    // Kept until another failure replaces it; the integrations pane clears its own notice.
    m_telegramFailure = failure;
    Q_EMIT telegramFailureChanged();
    Q_EMIT telegramError(failure);
}

void SettingsController::fetchTelegramStatus()
{
    sendTelegramRequest(RestMethod::Get, {}, &SettingsController::applyTelegramStatus);
}

void SettingsController::applyTelegramStatus(const QJsonObject &status)
{
    // Any value but null means linked, even 0, false or an empty text.
    m_telegramConnected = status.contains(QLatin1String("telegramChatId")) &&
                          !status.value(QLatin1String("telegramChatId")).isNull();
    if (status.contains(QLatin1String("userId"))) {
        const QJsonValue userId = status.value(QLatin1String("userId"));
        m_telegramUserId = userId.isString() ? userId.toString() : QString();
    }
}

void SettingsController::disconnectTelegram()
{
    sendTelegramRequest(RestMethod::Patch, {{QStringLiteral("chatId"), QJsonValue::Null}},
                        &SettingsController::applyTelegramUnlinked);
}

void SettingsController::applyTelegramUnlinked(const QJsonObject &)
{
    // The Telegram user id stays: linking again needs no new status.
    m_telegramConnected = false;
}

void SettingsController::linkTelegram()
{
    if (m_telegramUserId.isEmpty()) {
        reportTelegramFailure(
            AppFailure::local(QStringLiteral("TELEGRAM_USER_ID_MISSING"),
                              tr("Cannot link Telegram: user ID missing. Please refresh the status first."),
                              QStringLiteral("validation"), false));
        return;
    }
    // The page asks for the status again when the user comes back and presses refresh.
    QDesktopServices::openUrl(quorin::TelegramLinks::botLink(m_telegramUserId));
}

void SettingsController::openSupportChat()
{
    QDesktopServices::openUrl(QUrl(m_supportUrl));
}

QString SettingsController::normalizedSupportUrl(const QString &url) const
{
    return quorin::TelegramLinks::normalizedSupportUrl(url);
}

void SettingsController::refreshClientConfig()
{
    if (!m_restRequester)
        return;
    m_restRequester(RestMethod::Get, kClientConfigPath, {},
                    [self = QPointer(this)](const QJsonDocument &reply, const AppFailure &failure) {
                        if (!self)
                            return;
                        if (failure.code.isEmpty()) {
                            self->applyClientConfig(reply.object());
                            return;
                        }
                        // The current link stays; the user is not told.
                        DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("warning"),
                                              QStringLiteral("client_config_failed"),
                                              {{QStringLiteral("code"), failure.code},
                                               {QStringLiteral("status"), failure.httpStatus}});
                    });
}

void SettingsController::applyClientConfig(const QJsonObject &config)
{
    QString link = config.value(QLatin1String("telegramSupportUrl")).toString();
    const QJsonValue support = config.value(QLatin1String("support"));
    if (link.isEmpty() && support.isObject())
        link = support.toObject().value(QLatin1String("telegramUrl")).toString();
    const QString normalized = quorin::TelegramLinks::normalizedSupportUrl(link);
    if (normalized.isEmpty() || normalized == m_supportUrl)
        return;
    m_supportUrl = normalized;
    Q_EMIT clientConfigChanged();
}

QString SettingsController::websiteUrl() const
{
    return quorin::Endpoints::instance().websiteUrl().toString();
}

void SettingsController::openUrl(const QString &text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!mayOpen(url)) {
        // The scheme alone: the rest of a link may carry tokens or personal paths.
        DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("warning"),
                              QStringLiteral("url_open_refused"), {{QStringLiteral("scheme"), url.scheme()}});
        return;
    }
    QDesktopServices::openUrl(url);
}

void SettingsController::copyText(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

QVariantMap SettingsController::courseViewState(const QString &userId, const QString &courseId) const
{
    if (!hasBothIds(userId, courseId))
        return {};
    const QJsonDocument stored =
        QJsonDocument::fromJson(m_store->value(courseViewKey(userId, courseId)).toByteArray());
    return stored.isObject() ? stored.object().toVariantMap() : QVariantMap();
}

void SettingsController::saveCourseViewState(const QString &userId, const QString &courseId,
                                             const QVariantMap &state)
{
    if (!hasBothIds(userId, courseId))
        return;
    m_store->setValue(courseViewKey(userId, courseId),
                      QJsonDocument(QJsonObject::fromVariantMap(state)).toJson(QJsonDocument::Compact));
}

QString SettingsController::saveDiagnosticBundle(const QString &failureCode)
{
    m_lastBundlePath = quorin::DiagnosticBundle::save(failureCode, animationSpeedMultiplier());
    Q_EMIT diagnosticBundleChanged();
    return m_lastBundlePath;
}

QString SettingsController::saveDiagnosticBundle()
{
    return saveDiagnosticBundle(QString());
}

void SettingsController::revealDiagnosticBundle()
{
    if (m_lastBundlePath.isEmpty())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_lastBundlePath).absolutePath()));
}
