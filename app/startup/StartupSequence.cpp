#include "app/startup/StartupSequence.h"

#include "app/AppFailure.h"
#include "app/BuildVersion.h"
#include "app/DiagnosticLogger.h"
#include "app/Endpoints.h"
#include "app/EventLoopStallMonitor.h"
#include "app/SettingsController.h"
#include "app/SvgAssetVerifier.h"
#include "app/TelemetryClient.h"
#include "app/UiPerformanceTracker.h"
#include "app/startup/ClientConfigRequests.h"
#include "app/startup/ControllerRegistration.h"
#include "learning/LearningProgressController.h"
#include "media/CryptoManager.h"
#include "net/InstallationIdentity.h"
#include "net/NetworkManager.h"
#include "net/UserIdentityController.h"
#include "pdf/PdfController.h"
#include "update/UpdateController.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>
#include <QQuickWindow>
#include <QTimer>
#include <memory>

Q_IMPORT_QML_PLUGIN(QuorinPlugin)

namespace quorin {
namespace {

const QString kVerifyOption = QStringLiteral("--verify-svg-assets");
const QString kAssetFolder = QStringLiteral(":/qt/qml/Quorin/assets");
const QString kFontFamily = QStringLiteral("IBM Plex Sans Arabic");
const QString kIconPath = QStringLiteral(":/qt/qml/Quorin/assets/icon.ico");
const QString kDisplayName = QStringLiteral("Quorin Desktop");

void registerBundledFonts()
{
    static const char *const faces[] = {"Regular", "Medium", "SemiBold", "Bold"};
    for (const char *face : faces) {
        const QString path =
            QStringLiteral(":/qt/qml/Quorin/assets/fonts/IBMPlexSansArabic-%1.ttf").arg(QLatin1String(face));
        if (QFontDatabase::addApplicationFont(path) < 0)
            qWarning() << "Unable to register bundled application font" << path;
    }
}

// Decides where the settings stores and the data folders lie, so it precedes anything that
// opens one.
void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setOrganizationDomain(Endpoints::instance().websiteUrl().host());
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));
    QGuiApplication::setApplicationDisplayName(kDisplayName);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(BuildVersion::applicationVersion));
}

void logStartup()
{
    DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("startup"),
                          {{QStringLiteral("qt_version"), QString::fromLatin1(qVersion())},
                           {QStringLiteral("platform"), QGuiApplication::platformName()}});
}

void connectShutdownHandler(QGuiApplication &application, TelemetryClient &telemetry)
{
    QObject::connect(
        &application, &QCoreApplication::aboutToQuit, &application,
        [&telemetry] {
            LearningProgressController::instance()->flush();
            PdfController::instance()->releaseAll();
            DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("shutdown"));
            telemetry.stop();
            DiagnosticLogger::shutdown();
        },
        Qt::DirectConnection);
}

// The progress store follows whoever is signed in, from before the interface exists.
void followSignedInUser()
{
    UserIdentityController *identity = UserIdentityController::instance();
    LearningProgressController *progress = LearningProgressController::instance();
    QObject::connect(identity, &UserIdentityController::identityChanged, progress,
                     [identity] { LearningProgressController::instance()->setUserId(identity->userId()); });
    progress->setUserId(identity->userId());
}

// Returns the exit path for a root document that could not be created. It runs once, however
// often it is reached: Qt reports some failures with objectCreationFailed and leaves others
// without a root object and without a signal, and either way the process must not go on
// without a window.
std::function<void()> rootCreationFailureHandler()
{
    auto handled = std::make_shared<bool>(false);
    return [handled] {
        if (*handled)
            return;
        *handled = true;
        DiagnosticLogger::log(QStringLiteral("qml"), QStringLiteral("critical"),
                              QStringLiteral("root_creation_failed"));
        QCoreApplication::exit(-1);
    };
}

void followInterfaceLanguage(QQmlApplicationEngine &engine, SettingsController &settings)
{
    engine.setUiLanguage(settings.language());
    QObject::connect(&settings, &SettingsController::languageChanged, &engine,
                     [&engine, &settings] { engine.setUiLanguage(settings.language()); });
}

void loadRootDocument(QQmlApplicationEngine &engine, const QUrl &rootDocument)
{
    QElapsedTimer loading;
    loading.start();
    engine.load(rootDocument);
    const qsizetype rootCount = engine.rootObjects().size();
    DiagnosticLogger::log(
        QStringLiteral("qml"), rootCount > 0 ? QStringLiteral("info") : QStringLiteral("critical"),
        QStringLiteral("root_created"),
        {{QStringLiteral("duration_ms"), loading.elapsed()}, {QStringLiteral("root_count"), rootCount}});
}

void prepareMainWindow(const QQmlApplicationEngine &engine, const QIcon &icon,
                       const SettingsController &settings)
{
    const QList<QObject *> roots = engine.rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!window)
        return;
    window->setTitle(kDisplayName);
    window->setIcon(icon);
    UiPerformanceTracker::instance()->attachWindow(window);
    UiPerformanceTracker::instance()->setReducedMotion(settings.animationSpeedMultiplier() <= 0);
}

void followAnimationSpeed(SettingsController &settings)
{
    UiPerformanceTracker *tracker = UiPerformanceTracker::instance();
    QObject::connect(
        &settings, &SettingsController::animationSpeedMultiplierChanged, tracker,
        [tracker, &settings] { tracker->setReducedMotion(settings.animationSpeedMultiplier() <= 0); });
}

} // namespace

int runApplication(int &argc, char **argv, const QUrl &rootDocument, const StartupHook &afterStartup)
{
    // Failure records travel in variants and queued signals from the first moment on.
    AppFailure::registerMetaType();
    QGuiApplication application(argc, argv);
    if (QCoreApplication::arguments().contains(kVerifyOption))
        return SvgAssetVerifier::verify(kAssetFolder);

    registerBundledFonts();
    QGuiApplication::setFont(QFont(kFontFamily));
    setApplicationIdentity();
    DiagnosticLogger::initialize();
    // Before anything makes the network manager, whose construction starts the offline vault.
    CryptoManager::installStartHook();
    application.setProperty("quorinFreshInstallation", InstallationIdentity::isFirstInstallation());

    // Before the first network manager: every one of them copies the default configuration.
    Endpoints::instance().installCertificateAuthority();
    TelemetryClient telemetry(Endpoints::instance().telemetryUrl(), &application);
    telemetry.start();
    logStartup();
    connectShutdownHandler(application, telemetry);

    EventLoopStallMonitor stallMonitor;
    stallMonitor.start();
    const QIcon windowIcon(kIconPath);
    QGuiApplication::setWindowIcon(windowIcon);
    SettingsController *settings = SettingsController::instance();
    registerControllers();
    // The preferences live below the REST client's layer; their backend calls go through it.
    settings->setRestRequester(NetworkManager::instance()->restRequester());
    requestClientConfigPerSession(*NetworkManager::instance(), *settings);
    followSignedInUser();

    QQmlApplicationEngine engine;
    const std::function<void()> failRootCreation = rootCreationFailureHandler();
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &application, failRootCreation,
                     Qt::QueuedConnection);
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    followInterfaceLanguage(engine, *settings);
    loadRootDocument(engine, rootDocument);
    if (engine.rootObjects().isEmpty())
        QMetaObject::invokeMethod(&application, failRootCreation, Qt::QueuedConnection);
    prepareMainWindow(engine, windowIcon, *settings);
    followAnimationSpeed(*settings);
    QTimer::singleShot(0, UpdateController::instance(), &UpdateController::startupCheck);

    if (afterStartup)
        afterStartup(engine);
    return QGuiApplication::exec();
}

} // namespace quorin
