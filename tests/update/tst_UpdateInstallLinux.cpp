#include "app/PreferencesStore.h"
#include "tests/update/ReleaseAnswers.h"
#include "testsupport/DesktopUrlRecorder.h"
#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "update/LinuxPackageInstaller.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <optional>

using quorin::LinuxPackageInstaller;
using quorin::test::Ed25519Signer;
using quorin::test::FixtureServer;
using Response = FixtureServer::Response;
using Command = LinuxPackageInstaller::Command;
using CommandResult = LinuxPackageInstaller::CommandResult;

namespace {

const QString kLatest = QStringLiteral("/v2/releases/latest");
const QString kInstallerName = QStringLiteral("quorin-desktop_1.0.9-23_amd64.deb");
const QString kInstallerRoute = QStringLiteral("/releases/") + kInstallerName;
const QString kHandlerId = QStringLiteral("org.example.PackageInstaller.desktop");
const QString kRevealedText =
    QStringLiteral("Open the downloaded package with your system's software installer.");

QString targetPath()
{
    return qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/quorin/desktop/updates/1.0.9-23/") +
           kInstallerName;
}

QString applicationsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

CommandResult ranWith(int exitCode, const QByteArray &output = {})
{
    CommandResult result;
    result.started = true;
    result.exitCode = exitCode;
    result.output = output;
    return result;
}

} // namespace

Q_DECLARE_METATYPE(CommandResult)

// Installing a verified Debian package: the desktop is asked which application handles the type,
// the package opens with that one and the client quits only once it has started; without one the
// package's folder is shown and the client stays open, saying what to do; a launch that fails is
// an error. The desktop's programs are answered here; the real runner is tried on the shell.
class tst_UpdateInstallLinux : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FixtureServer> m_server;
    quorin::test::InMemoryKeychain m_keychain;
    QTemporaryDir m_keyringFolder;
    QString m_keyringPath;
    std::optional<Ed25519Signer> m_signer;
    QByteArray m_installer;
    std::unique_ptr<quorin::test::DesktopUrlRecorder> m_desktop;
    int m_quits = 0;

    // What the desktop's programs answer, by program; a program not listed could not be run.
    QHash<QString, CommandResult> m_answers;
    QList<Command> m_commands;
    // The launcher's answer waits here until the test gives it.
    std::function<void()> m_heldLaunch;

    std::unique_ptr<UpdateController> readyController()
    {
        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = m_server->url();
        configuration.keyringPath = m_keyringPath;
        configuration.quit = [this] { ++m_quits; };
        configuration.commandRunner = [this](const Command &command, QObject *context,
                                             const LinuxPackageInstaller::CommandDone &done) {
            m_commands.append(command);
            const CommandResult answer = m_answers.value(command.program);
            if (command.program == QLatin1String("gio")) {
                m_heldLaunch = [done, answer] { done(answer); };
                return;
            }
            QTimer::singleShot(0, context, [done, answer] { done(answer); });
        };
        auto controller = std::make_unique<UpdateController>(std::move(configuration));
        controller->checkForUpdates();
        if (!QTest::qWaitFor([&] { return controller->state() == UpdateController::Available; }, 20000))
            return nullptr;
        controller->download();
        if (!QTest::qWaitFor([&] { return controller->state() == UpdateController::Ready; }, 20000))
            return nullptr;
        return controller;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QVERIFY(!qEnvironmentVariable("XDG_DATA_HOME").isEmpty());
        QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration());
        m_keychain.installAsNative();
        quorin::PreferencesStore::open()->setValue(QStringLiteral("installationUuid"),
                                                   QStringLiteral("3f2b8c1e-5d4a-4e6f-9b7c-0a1d2e3f4a5b"));
        m_signer = Ed25519Signer::generate();
        QVERIFY(m_keyringFolder.isValid());
        m_keyringPath = m_keyringFolder.filePath(QStringLiteral("update-keyring.json"));
        QVERIFY(writeFile(m_keyringPath, Ed25519Signer::keyring({*m_signer})));
        QRandomGenerator generator(23);
        m_installer.resize(256 * 1024);
        for (char &byte : m_installer)
            byte = char(generator.generate() & 0xff);
        m_desktop = std::make_unique<quorin::test::DesktopUrlRecorder>(QStringList{QStringLiteral("file")});
    }

    void cleanupTestCase() { m_desktop.reset(); }

    void init()
    {
        m_server = std::make_unique<FixtureServer>();
        QVERIFY(m_server->listen());
        using quorin::test::ReleaseAnswers;
        const QByteArray digest = QCryptographicHash::hash(m_installer, QCryptographicHash::Sha256);
        const QJsonObject offer =
            ReleaseAnswers::withInstaller(ReleaseAnswers::offer(), m_server->url(kInstallerRoute),
                                          m_installer, m_signer->keyId(), m_signer->sign(digest));
        m_server->setResponse(kLatest, Response::json(ReleaseAnswers::encode(offer)));
        m_server->setResponse(kInstallerRoute,
                              Response(200, m_installer, "application/vnd.debian.binary-package"));

        std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
        settings->remove(QStringLiteral("updates"));
        QVERIFY(QDir(applicationsFolder()).removeRecursively());
        m_answers.clear();
        m_commands.clear();
        m_heldLaunch = {};
        m_quits = 0;
        m_desktop->clear();
    }

    void cleanup() { m_server.reset(); }

    void install_data()
    {
        QTest::addColumn<QByteArray>("query"); // what xdg-mime prints; empty: it could not be run
        QTest::addColumn<bool>("entry");       // the named desktop entry is installed
        QTest::addColumn<QString>("launch");   // "starts", "fails" or "missing"
        QTest::addColumn<QString>("outcome");  // "opened", "revealed" or "failed"

        const QByteArray handler = kHandlerId.toLatin1() + '\n';
        QTest::newRow("installer application") << handler << true << "starts"
                                               << "opened";
        QTest::newRow("installer application fails to start") << handler << true << "fails"
                                                              << "failed";
        QTest::newRow("no launcher") << handler << true << "missing"
                                     << "failed";
        QTest::newRow("none registered") << QByteArray("\n") << false << "starts"
                                         << "revealed";
        QTest::newRow("no xdg-mime") << QByteArray() << false << "starts"
                                     << "revealed";
        QTest::newRow("registered, not installed") << handler << false << "starts"
                                                   << "revealed";
        QTest::newRow("a path, not a desktop id")
            << QByteArray("/usr/share/applications/x.desktop\n") << false << "starts"
            << "revealed";
    }

    void install()
    {
        QFETCH(QByteArray, query);
        QFETCH(bool, entry);
        QFETCH(QString, launch);
        QFETCH(QString, outcome);
        const QString entryPath = applicationsFolder() + QLatin1Char('/') + kHandlerId;
        if (entry) {
            QVERIFY(QDir().mkpath(applicationsFolder()));
            QVERIFY(writeFile(entryPath, "[Desktop Entry]\nType=Application\nName=Packages\nExec=true %f\n"));
        }
        if (!query.isEmpty())
            m_answers.insert(QStringLiteral("xdg-mime"), ranWith(0, query));
        if (launch != QLatin1String("missing"))
            m_answers.insert(QStringLiteral("gio"), ranWith(launch == QLatin1String("starts") ? 0 : 1));

        const std::unique_ptr<UpdateController> controller = readyController();
        QVERIFY(controller);
        QSignalSpy stateChanges(controller.get(), &UpdateController::stateChanged);
        QSignalSpy failed(controller.get(), &UpdateController::downloadFailed);
        controller->install();
        QTRY_VERIFY(!m_commands.isEmpty());
        const Command asked = m_commands.first();
        QCOMPARE(asked.program, QStringLiteral("xdg-mime"));
        QCOMPARE(asked.arguments, QStringList({QStringLiteral("query"), QStringLiteral("default"),
                                               QStringLiteral("application/vnd.debian.binary-package")}));
        QVERIFY(asked.readsOutput);

        if (outcome == QLatin1String("revealed")) {
            QTRY_COMPARE(stateChanges.size(), 1);
            QCOMPARE(m_commands.size(), 1);
            QCOMPARE(m_desktop->opened(),
                     QList<QUrl>({QUrl::fromLocalFile(QFileInfo(targetPath()).absolutePath())}));
            QCOMPARE(controller->state(), UpdateController::Ready);
            QCOMPARE(controller->errorMessage(), kRevealedText);
            QCOMPARE(m_quits, 0);
            QVERIFY(failed.isEmpty());
            return;
        }

        // The launcher has the package; the client waits for it to say the application started.
        QTRY_COMPARE(m_commands.size(), 2);
        const Command launched = m_commands.at(1);
        QCOMPARE(launched.program, QStringLiteral("gio"));
        QCOMPARE(launched.arguments, QStringList({QStringLiteral("launch"), entryPath, targetPath()}));
        QVERIFY(!launched.readsOutput);
        QCOMPARE(m_quits, 0);
        QCOMPARE(controller->state(), UpdateController::Ready);
        m_heldLaunch();

        QVERIFY(m_desktop->opened().isEmpty());
        if (outcome == QLatin1String("opened")) {
            QCOMPARE(m_quits, 1);
            QCOMPARE(controller->state(), UpdateController::Ready);
            QVERIFY(failed.isEmpty());
            return;
        }
        QCOMPARE(m_quits, 0);
        QCOMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The installer could not be opened."));
        QCOMPARE(failed.size(), 1);
    }

    // The runner the client uses: real processes, their exit codes and, when asked, their output.
    void processRunner_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("readsOutput");
        QTest::addColumn<CommandResult>("expected");

        const QStringList printsAndEnds{QStringLiteral("-c"),
                                        QStringLiteral("printf 'a.desktop\\n'; exit 3")};
        QTest::newRow("output read") << QStringLiteral("sh") << printsAndEnds << true
                                     << ranWith(3, "a.desktop\n");
        QTest::newRow("output not read") << QStringLiteral("sh") << printsAndEnds << false << ranWith(3);
        QTest::newRow("killed") << QStringLiteral("sh")
                                << QStringList{QStringLiteral("-c"), QStringLiteral("kill -9 $$")} << true
                                << ranWith(-1);
        QTest::newRow("no such program")
            << QStringLiteral("quorin-no-such-program") << QStringList() << true << CommandResult();
    }

    void processRunner()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, readsOutput);
        QFETCH(CommandResult, expected);
        QObject context;
        QList<CommandResult> results;
        LinuxPackageInstaller::processRunner()({program, arguments, readsOutput}, &context,
                                               [&](const CommandResult &result) { results.append(result); });
        QTRY_COMPARE(results.size(), 1);
        QCOMPARE(results.first().started, expected.started);
        QCOMPARE(results.first().exitCode, expected.exitCode);
        QCOMPARE(results.first().output, expected.output);
        // Reported once: a later turn of the event loop brings nothing more.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(results.size(), 1);
    }

    void processRunnerIsSilentOnceItsContextIsGone()
    {
        auto context = std::make_unique<QObject>();
        int results = 0;
        LinuxPackageInstaller::processRunner()(
            {QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 30")}, false}, context.get(),
            [&](const CommandResult &) { ++results; });
        auto *process = qobject_cast<QProcess *>(context->children().value(0));
        QVERIFY(process);
        QTRY_COMPARE(process->state(), QProcess::Running);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Destroyed while process")));
        context.reset();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(results, 0);
    }
};

QTEST_MAIN(tst_UpdateInstallLinux)
#include "tst_UpdateInstallLinux.moc"
