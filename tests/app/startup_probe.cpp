// Runs the client's start-up sequence, as the real executable does, with the root document named
// by QUORIN_PROBE_ROOT (the real one when unset). After the last start-up step it reports what
// it sees as "key=value" lines on standard output, applies the change QUORIN_PROBE_CHANGE names,
// and quits after the first turn of the event loop, unless the root document failed. With
// QUORIN_PROBE_SIGNED_IN_USER set it starts as that user's returning session: an in-memory keychain
// holds a sign-in whose token names the user. The changes "client-config" and "sign-in" talk to
// the backend that QUORIN_API_BASE_URL names: the first waits for the client configuration, the
// second waits until the sign-in page is shown, signs in (with an empty in-memory keychain) and
// then waits for the configuration; each then makes one request of its own, so that anything the
// client sent before has reached the backend, reports the support link and quits.
#include "app/SettingsController.h"
#include "app/UiPerformanceTracker.h"
#include "app/startup/StartupSequence.h"
#include "learning/LearningProgressController.h"
#include "net/NetworkManager.h"
#include "net/UserIdentityController.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/JwtMaker.h"
#include "testsupport/NamedObjectFinder.h"
#include "update/UpdateController.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

void report(const char *key, const QVariant &value)
{
    std::printf("%s=%s\n", key, qPrintable(value.toString()));
    std::fflush(stdout);
}

bool qmlSeesTheProcessWideControllers(QQmlApplicationEngine &engine)
{
    QQmlComponent component(&engine);
    component.setData(
        "import QtQml\nimport Quorin.Controllers\n"
        "QtObject { property QtObject settings: SettingsController; "
        "property QtObject progress: LearningProgress; property QtObject identity: UserIdentity; "
        "property QtObject tracker: UiPerformance }",
        QUrl());
    const std::unique_ptr<QObject> probe(component.create());
    const auto sees = [&probe](const char *name, QObject *controller) {
        return probe->property(name).value<QObject *>() == controller;
    };
    return probe && sees("settings", SettingsController::instance()) &&
           sees("progress", LearningProgressController::instance()) &&
           sees("identity", UserIdentityController::instance()) &&
           sees("tracker", UiPerformanceTracker::instance());
}

void reportState(QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    report("root_is_window", window != nullptr);
    report("title", window ? window->title() : QString());
    report("window_icon_set", window && !window->icon().isNull());
    report("application_font", QGuiApplication::font().family());
    report("font_registered", QFontDatabase::families().contains(QStringLiteral("IBM Plex Sans Arabic")));
    report("organization", QCoreApplication::organizationName());
    report("organization_domain", QCoreApplication::organizationDomain());
    report("application", QCoreApplication::applicationName());
    report("display_name", QGuiApplication::applicationDisplayName());
    report("version", QCoreApplication::applicationVersion());
    report("fresh_installation", qApp->property("quorinFreshInstallation"));
    report("import_paths", engine.importPathList().join(QLatin1Char(',')));
    report("identity_user", UserIdentityController::instance()->userId());
    report("progress_user", LearningProgressController::instance()->userId());
    report("progress_recent", LearningProgressController::instance()->recentItems().size());
    report("ui_language", engine.uiLanguage());
    report("reduced_motion", UiPerformanceTracker::instance()->reducedMotion());
    report("controllers_shared", qmlSeesTheProcessWideControllers(engine));
}

constexpr int kBackendWaitMs = 20000;

// One request of the probe's own, answered after everything the client sent before it has reached
// the backend; then the report and the end of the run.
void reportSupportLinkAfterARoundTrip()
{
    NetworkManager::instance()->sendRequestDetailed(
        NetworkManager::HttpMethod::Get, QStringLiteral("institutions"), {},
        [](const QJsonDocument &, const NetworkFailure &) {
            report("support_url", SettingsController::instance()->supportUrl());
            QCoreApplication::quit();
        });
}

// Once the client configuration has changed the support link, or the wait is over.
void finishAfterTheClientConfiguration()
{
    auto finished = std::make_shared<bool>(false);
    const auto finish = [finished] {
        if (std::exchange(*finished, true))
            return;
        reportSupportLinkAfterARoundTrip();
    };
    QObject::connect(SettingsController::instance(), &SettingsController::clientConfigChanged, qApp, finish);
    QTimer::singleShot(kBackendWaitMs, qApp, finish);
}

// Waits until the sign-in page is on show, then signs in through the backend.
void signInOnceTheSignInPageShows(QQmlApplicationEngine &engine)
{
    auto *poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, qApp, [poll, &engine] {
        const QList<QObject *> roots = engine.rootObjects();
        if (roots.isEmpty() || !quorin::test::findNamedObject(roots.first(), QStringLiteral("loginPage")))
            return;
        poll->deleteLater();
        report("sign_in_page_shown", true);
        QObject::connect(NetworkManager::instance(), &NetworkManager::loginSuccess, qApp, [] {
            report("signed_in", true);
            finishAfterTheClientConfiguration();
        });
        NetworkManager::instance()->login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"),
                                          QString());
    });
    poll->start();
}

// True when the change ends the run itself.
bool applyChange(QQmlApplicationEngine &engine, const QByteArray &change)
{
    if (change == "client-config") {
        finishAfterTheClientConfiguration();
        return true;
    }
    if (change == "sign-in") {
        signInOnceTheSignInPageShows(engine);
        return true;
    }
    if (change == "language") {
        SettingsController::instance()->setLanguage(QStringLiteral("ar"));
        report("ui_language_after", engine.uiLanguage());
    } else if (change == "animation") {
        SettingsController::instance()->setAnimationSpeedMultiplier(0);
        report("reduced_motion_at_zero", UiPerformanceTracker::instance()->reducedMotion());
        SettingsController::instance()->setAnimationSpeedMultiplier(0.5F);
        report("reduced_motion_at_half", UiPerformanceTracker::instance()->reducedMotion());
    } else if (change == "progress") {
        // A checkpoint that only the shutdown's flush can write before the process ends.
        LearningProgressController::instance()->updateVideoPosition(QStringLiteral("r-1"), 4242, 10000,
                                                                    false);
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString root = qEnvironmentVariable("QUORIN_PROBE_ROOT");
    const QUrl rootDocument = root.isEmpty() ? QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml"))
                                             : QUrl::fromLocalFile(root);
    const QByteArray change = qgetenv("QUORIN_PROBE_CHANGE");
    quorin::test::InMemoryKeychain keychain;
    const QString signedInUser = qEnvironmentVariable("QUORIN_PROBE_SIGNED_IN_USER");
    if (!signedInUser.isEmpty()) {
        keychain.setValue(QStringLiteral("accessToken"),
                          QString::fromLatin1(quorin::test::JwtMaker::expiringIn(3600, signedInUser)));
        keychain.setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-1"));
        keychain.installAsNative();
    } else if (change == "sign-in") {
        keychain.installAsNative();
    }
    return quorin::runApplication(argc, argv, rootDocument, [change](QQmlApplicationEngine &engine) {
        reportState(engine);
        if (applyChange(engine, change))
            return;
        if (engine.rootObjects().isEmpty())
            return; // the failure path ends the run
        // Queued after the update check, so it sees the check's first turn.
        QTimer::singleShot(0, qApp, [] {
            report("update_state", int(UpdateController::instance()->state()));
            QCoreApplication::quit();
        });
    });
}
