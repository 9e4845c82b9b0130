// Runs the client's start-up sequence, as the real executable does, with the root document named
// by QUORIN_PROBE_ROOT (the real one when unset). After the last start-up step it reports what
// it sees as "key=value" lines on standard output, applies the change QUORIN_PROBE_CHANGE names,
// and quits after the first turn of the event loop, unless the root document failed. With
// QUORIN_PROBE_SIGNED_IN_USER set it starts as that user's returning session: an in-memory keychain
// holds a sign-in whose token names the user.
#include "app/SettingsController.h"
#include "app/UiPerformanceTracker.h"
#include "app/startup/StartupSequence.h"
#include "learning/LearningProgressController.h"
#include "net/UserIdentityController.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/JwtMaker.h"
#include "update/UpdateController.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <memory>

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

void applyChange(QQmlApplicationEngine &engine, const QByteArray &change)
{
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
    }
    return quorin::runApplication(argc, argv, rootDocument, [change](QQmlApplicationEngine &engine) {
        reportState(engine);
        applyChange(engine, change);
        if (engine.rootObjects().isEmpty())
            return; // the failure path ends the run
        // Queued after the update check, so it sees the check's first turn.
        QTimer::singleShot(0, qApp, [] {
            report("update_state", int(UpdateController::instance()->state()));
            QCoreApplication::quit();
        });
    });
}
