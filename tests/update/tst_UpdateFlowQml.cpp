#include "app/PreferencesStore.h"
#include "app/ProgramOwnership.h"
#include "tests/update/ReleaseAnswers.h"
#include "testsupport/DesktopUrlRecorder.h"
#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/NamedObjectFinder.h"
#include "testsupport/ShellTestSetup.h"
#include "update/LinuxPackageInstaller.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtQuickTest/quicktest.h>
#include <memory>

using quorin::test::Ed25519Signer;
using quorin::test::FixtureServer;
using Response = FixtureServer::Response;

namespace {

const QString kLatest = QStringLiteral("/v2/releases/latest");
const QString kInstallerRoute = QStringLiteral("/releases/quorin-desktop_1.0.9-23_amd64.deb");

// The controller the window of the next engine binds to.
UpdateController *currentController = nullptr;

// The shell's set-up with the real update controller in place of its double.
class FlowSetup : public quorin::test::ShellTestSetup
{
    Q_OBJECT

protected:
    void registerUpdateController() override
    {
        qmlRegisterSingletonType<UpdateController>(
            "Quorin.Controllers", 1, 0, "UpdateController",
            [](QQmlEngine *, QJSEngine *) -> QObject * { return quorin::ownedByProgram(currentController); });
    }
};

QByteArray installerBytes()
{
    QRandomGenerator generator(51);
    QByteArray bytes(512 * 1024, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.generate() & 0xff);
    return bytes;
}

} // namespace

// The self-update as a user meets it: the main window, bound to a real UpdateController that talks
// to a fixture release service, shows the banner and the required-update dialog, and its buttons
// download, install, dismiss and retry. Each launch is a new engine and a new controller over the
// same settings, as a restart of the client is.
class tst_UpdateFlowQml : public QObject
{
    Q_OBJECT

private:
    FlowSetup m_setup;
    std::unique_ptr<FixtureServer> m_releases;
    QTemporaryDir m_keyringFolder;
    QString m_keyringPath;
    std::optional<Ed25519Signer> m_signer;
    QByteArray m_installer;
    QDateTime m_now;
    int m_quits = 0;
    std::unique_ptr<quorin::test::DesktopUrlRecorder> m_files;

    std::unique_ptr<UpdateController> m_controller;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;

    void answer(bool required, qint64 build = 23)
    {
        using quorin::test::ReleaseAnswers;
        const QByteArray digest = QCryptographicHash::hash(m_installer, QCryptographicHash::Sha256);
        const QJsonObject offer = ReleaseAnswers::withInstaller(ReleaseAnswers::offer(required, build),
                                                                m_releases->url(kInstallerRoute), m_installer,
                                                                m_signer->keyId(), m_signer->sign(digest));
        m_releases->setResponse(kLatest, Response::json(ReleaseAnswers::encode(offer)));
    }

    // The installer waits until release(), so the download can be seen running.
    void holdInstaller()
    {
        Response held(200, m_installer, "application/vnd.debian.binary-package");
        held.held = true;
        m_releases->setResponse(kInstallerRoute, held);
    }

    // Starts the client: a new controller over the stored settings, a new engine and the main
    // window; the release check starts when checkNow, as the start-up queues it.
    void launch(const QUrl &releaseBaseUrl = QUrl(), bool checkNow = true)
    {
        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = releaseBaseUrl.isEmpty() ? m_releases->url() : releaseBaseUrl;
        configuration.currentTime = [this] { return m_now; };
        configuration.keyringPath = m_keyringPath;
        configuration.quit = [this] { ++m_quits; };
        // A desktop without xdg-utils: no program runs, so no installer application is known.
        configuration.commandRunner = [](const quorin::LinuxPackageInstaller::Command &, QObject *context,
                                         const quorin::LinuxPackageInstaller::CommandDone &done) {
            QTimer::singleShot(0, context, [done] { done({}); });
        };
        m_controller = std::make_unique<UpdateController>(std::move(configuration));
        currentController = m_controller.get();

        m_engine = std::make_unique<QQmlEngine>();
        m_setup.qmlEngineAvailable(m_engine.get());
        QQmlComponent component(m_engine.get(),
                                QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml")));
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        QVERIFY2(m_window, qPrintable(component.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        auto *splash = qobject_cast<QQuickItem *>(find("splash"));
        QVERIFY(splash);
        QTRY_VERIFY_WITH_TIMEOUT(!splash->isVisible(), 10000);
        if (checkNow)
            checkAndWait();
    }

    // In the grace period the state stays as it is while the check runs: the check has ended at
    // the first change of state that is not to Checking.
    void checkAndWait()
    {
        QSignalSpy stateChanges(m_controller.get(), &UpdateController::stateChanged);
        m_controller->startupCheck();
        QTRY_VERIFY_WITH_TIMEOUT(
            !stateChanges.isEmpty() && m_controller->state() != UpdateController::Checking, 20000);
    }

    void quitClient()
    {
        m_window.reset();
        m_engine.reset();
        currentController = nullptr;
        m_controller.reset();
    }

    [[nodiscard]] QObject *find(const char *objectName) const
    {
        return quorin::test::findNamedObject(m_window.get(), QLatin1String(objectName));
    }

    [[nodiscard]] QQuickItem *item(const char *objectName) const
    {
        return qobject_cast<QQuickItem *>(find(objectName));
    }

    [[nodiscard]] bool shown(const char *objectName) const
    {
        QObject *object = find(objectName);
        return object && object->property("visible").toBool();
    }

    [[nodiscard]] QString text(const char *objectName) const
    {
        QObject *object = find(objectName);
        return object ? object->property("text").toString() : QStringLiteral("<no %1>").arg(objectName);
    }

    void click(const char *objectName)
    {
        QQuickItem *target = item(objectName);
        QVERIFY2(target, objectName);
        QVERIFY2(target->isVisible() && target->isEnabled(), objectName);
        // A layout that just changed places its items at the next polish.
        QVERIFY(QQuickTest::qWaitForPolish(m_window.get()));
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centre.toPoint());
    }

    // A value the window's own QML sees, such as a singleton's property.
    [[nodiscard]] QVariant evaluate(const QString &expression) const
    {
        QQmlExpression lookup(qmlContext(m_window.get()), m_window.get(), expression);
        return lookup.evaluate();
    }

    [[nodiscard]] QString targetPath(qint64 build = 23) const
    {
        return qEnvironmentVariable("XDG_CACHE_HOME") +
               QStringLiteral("/quorin/desktop/updates/1.0.9-%1/quorin-desktop_1.0.9-23_amd64.deb")
                   .arg(build);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_setup.applicationAvailable();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        m_signer = Ed25519Signer::generate();
        QVERIFY(m_keyringFolder.isValid());
        m_keyringPath = m_keyringFolder.filePath(QStringLiteral("update-keyring.json"));
        QFile keyring(m_keyringPath);
        QVERIFY(keyring.open(QIODevice::WriteOnly));
        QVERIFY(keyring.write(Ed25519Signer::keyring({*m_signer})) > 0);
        keyring.close();
        m_installer = installerBytes();
        m_files = std::make_unique<quorin::test::DesktopUrlRecorder>(QStringList{QStringLiteral("file")});
    }

    void cleanupTestCase()
    {
        quitClient();
        m_files.reset();
        m_releases.reset();
        m_setup.cleanupTestCase();
    }

    void init()
    {
        // The window must run without a warning of the interface.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        m_releases = std::make_unique<FixtureServer>();
        QVERIFY(m_releases->listen());
        m_releases->setResponse(kInstallerRoute,
                                Response(200, m_installer, "application/vnd.debian.binary-package"));
        std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
        settings->remove(QStringLiteral("updates"));
        QVERIFY(QDir(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/quorin/desktop/updates"))
                    .removeRecursively());
        m_now = QDateTime(QDate(2025, 6, 1), QTime(9, 30), Qt::UTC);
        m_quits = 0;
        m_files->clear();
    }

    void cleanup()
    {
        quitClient();
        m_releases.reset();
    }

    void optionalOffer()
    {
        answer(false);
        holdInstaller();
        launch();
        QCOMPARE(m_controller->state(), UpdateController::Available);
        QQuickItem *banner = item("updateBanner");
        QVERIFY(banner);
        QVERIFY(banner->isVisible());
        QCOMPARE(banner->z(), 200.0);
        QCOMPARE(banner->y(), 16.0);
        QCOMPARE(text("updateBannerTitle"), QStringLiteral("Quorin 1.0.9 is available"));
        QVERIFY(!shown("requiredUpdateDialog"));

        click("updateBannerPrimaryButton");
        QTRY_VERIFY(shown("updateBannerProgress"));
        QVERIFY(!shown("updateBannerPrimaryButton"));
        QCOMPARE(text("updateBannerBody"), QStringLiteral("Downloading update…"));
        m_releases->release(kInstallerRoute);
        QTRY_COMPARE_WITH_TIMEOUT(text("updateBannerPrimaryButton"), QStringLiteral("Install"), 20000);
        QVERIFY(!shown("updateBannerProgress"));
        QCOMPARE(text("updateBannerBody"), QStringLiteral("The verified installer is ready."));

        // No installer application on this desktop: the folder opens, the client stays and the
        // banner says what to do.
        click("updateBannerPrimaryButton");
        QTRY_COMPARE(text("updateBannerBody"),
                     QStringLiteral("Open the downloaded package with your system's software installer."));
        QCOMPARE(m_files->opened(),
                 QList<QUrl>({QUrl::fromLocalFile(QFileInfo(targetPath()).absolutePath())}));
        QCOMPARE(m_quits, 0);
        QVERIFY(banner->isVisible());
        QCOMPARE(text("updateBannerPrimaryButton"), QStringLiteral("Install"));
        QVERIFY(!shown("snackbarCard"));

        click("updateBannerDismissButton");
        QTRY_VERIFY(!banner->isVisible());
        QVERIFY(m_controller->dismissed());

        // The next start: the dismissed release stays hidden, a new build of it shows.
        quitClient();
        launch();
        QCOMPARE(m_controller->state(), UpdateController::Available);
        QTRY_COMPARE(m_controller->verifiedPath(), targetPath());
        QVERIFY(!shown("updateBanner"));
        quitClient();
        answer(false, 24);
        launch();
        QCOMPARE(m_controller->availableBuildNumber(), 24);
        QVERIFY(shown("updateBanner"));
        QCOMPARE(text("updateBannerPrimaryButton"), QStringLiteral("Update"));
        QCOMPARE(m_releases->requestCount(kInstallerRoute), 1);
    }

    // The banner hides when the download fails; the reason comes once as a snackbar whose
    // "Try again" downloads again.
    void failedOptionalDownloadOffersTryAgain()
    {
        answer(false);
        m_releases->setResponse(kInstallerRoute, Response(503, "busy"));
        launch();
        QCOMPARE(m_controller->state(), UpdateController::Available);
        click("updateBannerPrimaryButton");
        QTRY_COMPARE(m_controller->state(), UpdateController::Error);
        QTRY_VERIFY(!shown("updateBanner"));
        QTRY_COMPARE(text("snackbarMessage"), QStringLiteral("The update download failed."));
        QCOMPARE(evaluate(QStringLiteral("Snackbar.severity")).toString(), QStringLiteral("error"));
        QVERIFY(shown("snackbarActionButton"));
        QCOMPARE(text("snackbarActionButton"), QStringLiteral("Try again"));
        QCOMPARE(evaluate(QStringLiteral("Snackbar.pending.length")).toInt(), 0);
        QCOMPARE(m_releases->requestCount(kInstallerRoute), 1);

        m_releases->setResponse(kInstallerRoute,
                                Response(200, m_installer, "application/vnd.debian.binary-package"));
        click("snackbarActionButton");
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), UpdateController::Ready, 20000);
        QCOMPARE(m_releases->requestCount(kInstallerRoute), 2);
        QVERIFY(shown("updateBanner"));
        QCOMPARE(text("updateBannerPrimaryButton"), QStringLiteral("Install"));
        QVERIFY(evaluate(QStringLiteral("Snackbar.message")).toString().isEmpty());
    }

    void requiredOffer()
    {
        answer(true);
        holdInstaller();
        launch(QUrl(), false);
        // A lecture plays when the answer comes.
        // The window's own singleton, as the page stack reaches it.
        QQmlExpression sessionLookup(qmlContext(m_window.get()), m_window.get(),
                                     QStringLiteral("VideoPlaybackSession"));
        QObject *session = sessionLookup.evaluate().value<QObject *>();
        QVERIFY(session);
        QSignalSpy stopped(session, SIGNAL(sessionStopped(QString)));
        QVariant started;
        QVERIFY(QMetaObject::invokeMethod(
            session, "open", Q_RETURN_ARG(QVariant, started),
            Q_ARG(QVariant, QVariantMap({{QStringLiteral("lectureId"), QStringLiteral("r-1001")},
                                         {QStringLiteral("videoUrl"),
                                          QStringLiteral("https://media.example/lecture/master.m3u8")}})),
            Q_ARG(QVariant, QVariant()), Q_ARG(QVariant, 0)));
        QVERIFY(started.toBool());

        checkAndWait();
        QCOMPARE(m_controller->state(), UpdateController::Required);
        QTRY_VERIFY(shown("requiredUpdateDialog"));
        QVERIFY(!shown("updateBanner"));
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(stopped.first().first().toString(), QStringLiteral("required_update"));
        QCOMPARE(text("requiredUpdateBody"),
                 QStringLiteral("Quorin 1.0.9 must be installed before you can continue."));
        QCOMPARE(text("requiredUpdatePrimaryButton"), QStringLiteral("Update"));

        click("requiredUpdatePrimaryButton");
        QTRY_VERIFY(shown("requiredUpdateProgress"));
        QVERIFY(!item("requiredUpdatePrimaryButton")->isEnabled());
        QVERIFY(!item("requiredUpdateRetryButton")->isEnabled());
        QVERIFY(item("requiredUpdateExitButton")->isEnabled());
        m_releases->release(kInstallerRoute);
        QTRY_COMPARE_WITH_TIMEOUT(text("requiredUpdatePrimaryButton"), QStringLiteral("Install"), 20000);
        QVERIFY(item("requiredUpdatePrimaryButton")->isEnabled());
        QVERIFY(!shown("requiredUpdateProgress"));
        QVERIFY(shown("requiredUpdateDialog"));

        click("requiredUpdateExitButton");
        QCOMPARE(m_quits, 1);
        QVERIFY(m_files->opened().isEmpty());
    }

    void restartWithoutTheServiceAfterARequiredAnswer()
    {
        answer(true);
        launch();
        QCOMPARE(m_controller->state(), UpdateController::Required);
        quitClient();

        QUrl unreachable;
        {
            FixtureServer gone;
            QVERIFY(gone.listen());
            unreachable = gone.url();
        }
        m_now = m_now.addSecs(3600);
        launch(unreachable);
        QCOMPARE(m_controller->state(), UpdateController::OfflineGrace);
        QVERIFY(m_controller->required());
        QVERIFY(shown("updateBanner"));
        QVERIFY(!shown("requiredUpdateDialog"));
        QCOMPARE(text("updateBannerTitle"), QStringLiteral("A required update could not be checked"));
        QCOMPARE(text("updateBannerBody"), QStringLiteral("Connect within 71 hours to keep using Quorin."));
        QVERIFY(!shown("updateBannerPrimaryButton"));
        QVERIFY(!shown("updateBannerDismissButton"));

        // Past the deadline, at the next grace tick.
        m_now = m_now.addSecs(72 * 3600);
        auto *graceTimer = m_controller->findChild<QTimer *>(QStringLiteral("graceTimer"));
        QVERIFY(graceTimer);
        QMetaObject::invokeMethod(graceTimer, "timeout");
        QCOMPARE(m_controller->state(), UpdateController::Required);
        QTRY_VERIFY(shown("requiredUpdateDialog"));
        QVERIFY(!shown("updateBanner"));
        QCOMPARE(
            text("requiredUpdateBody"),
            QStringLiteral("Quorin must reconnect to verify a required update before you can continue."));
        QVERIFY(!shown("requiredUpdatePrimaryButton"));
        QVERIFY(shown("requiredUpdateRetryButton"));
        QVERIFY(shown("requiredUpdateExitButton"));
        QVERIFY(shown("requiredUpdateError"));
        QCOMPARE(text("requiredUpdateError"),
                 QStringLiteral("The required-update grace period has expired."));

        // Retry without the service: the error line says so in a sentence, without the request.
        click("requiredUpdateRetryButton");
        QTRY_COMPARE(text("requiredUpdateError"), QStringLiteral("The update service could not be reached."));
        QCOMPARE(m_controller->state(), UpdateController::Required);
        QVERIFY(shown("requiredUpdateDialog"));
    }
};

QTEST_MAIN(tst_UpdateFlowQml)
#include "tst_UpdateFlowQml.moc"
