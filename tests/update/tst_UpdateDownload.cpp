#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "tests/update/ReleaseAnswers.h"
#include "testsupport/DesktopUrlRecorder.h"
#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/LogLineParser.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>

using quorin::test::Ed25519Signer;
using quorin::test::FixtureServer;
using quorin::test::LogLineParser;
using Response = FixtureServer::Response;
using Command = quorin::LinuxPackageInstaller::Command;

Q_DECLARE_METATYPE(UpdateController::State)

namespace {

const QString kLatest = QStringLiteral("/v2/releases/latest");
const QString kInstallationId = QStringLiteral("3f2b8c1e-5d4a-4e6f-9b7c-0a1d2e3f4a5b");
const QString kInstallerName = QStringLiteral("quorin-desktop_1.0.9-23_amd64.deb");
const QString kInstallerRoute = QStringLiteral("/releases/") + kInstallerName;
constexpr qint64 kInstallerSize = 3 * 1024 * 1024 + 17;
constexpr qint64 kPlentyOfSpace = qint64(1) << 40;

QByteArray randomBytes(qint64 size)
{
    QRandomGenerator generator(37);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 index = 0; index < size; ++index)
        bytes[index] = char(generator.generate() & 0xff);
    return bytes;
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

std::unique_ptr<QSettings> updateSettings()
{
    std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
    settings->beginGroup(QStringLiteral("updates"));
    return settings;
}

// The recorded required release, as stored.
QVariantList requiredRecord()
{
    const std::unique_ptr<QSettings> settings = updateSettings();
    QVariantList record;
    for (const char *key : {"requiredVersion", "requiredBuild", "requiredDeadline", "requiredResponse"})
        record.append(settings->value(QLatin1String(key)));
    return record;
}

QString updatesFolder()
{
    return qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/quorin/desktop/updates");
}

QString installerFolder()
{
    return updatesFolder() + QStringLiteral("/1.0.9-23");
}

QString targetPath()
{
    return installerFolder() + QLatin1Char('/') + kInstallerName;
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Every verification started so far has given its verdict, and the verdict has reached the
// controller: the worker is done, and the event it posted to the GUI thread is delivered.
void settleVerifications()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

int modeOf(const QString &path)
{
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

} // namespace

// An offered installer against a fixture release service: its download into the cache folder,
// every way the transfer or the verification can fail, the remembered installer, installing, and
// the signing keys it is checked against.
class tst_UpdateDownload : public QObject
{
    Q_OBJECT

public:
    enum class Fault {
        LongerBody,
        FarLongerBody,
        ShorterBody,
        OtherBytes,
        NotFound,
        RedirectToPlainHttp,
        Hung,
        UnknownKey,
        OtherKey,
        FolderWhileHeld,
        FolderBefore,
        FreeSpaceShort,
        NoVolume,
        HugeSize,
    };
    Q_ENUM(Fault)

private:
    // What the release answer says of the installer.
    struct Release
    {
        QByteArray installer; // its size and digest are declared
        QString keyId;
        QByteArray signature;
        bool required = false;
        std::optional<qint64> size; // declared instead of the installer's own
    };

    std::unique_ptr<FixtureServer> m_server;
    quorin::test::InMemoryKeychain m_keychain;
    QTemporaryDir m_keyringFolder;
    QString m_keyringPath;
    std::optional<Ed25519Signer> m_signer;   // its key is in the keyring
    std::optional<Ed25519Signer> m_stranger; // its key is not
    QByteArray m_installer;
    std::optional<qint64> m_freeSpace;
    QStringList m_freeSpaceFolders;
    int m_quits = 0;
    // The commands the installation ran; each is answered as a desktop without xdg-utils would.
    QList<Command> m_commands;
    std::function<void()> m_verificationStarted;
    QUrl m_releaseBaseUrl; // empty: the fixture server
    std::unique_ptr<quorin::test::DesktopUrlRecorder> m_desktop;

    [[nodiscard]] Release goodRelease(bool required = false) const
    {
        return {m_installer, m_signer->keyId(), m_signer->sign(sha256(m_installer)), required, std::nullopt};
    }

    void answerWith(const Release &release, bool held = false)
    {
        QJsonObject answer = quorin::test::ReleaseAnswers::offer(release.required);
        QJsonObject action = answer.value(QStringLiteral("action")).toObject();
        action.insert(QStringLiteral("url"), m_server->url(kInstallerRoute).toString());
        action.insert(QStringLiteral("filename"), kInstallerName);
        action.insert(QStringLiteral("size"), release.size.value_or(release.installer.size()));
        action.insert(QStringLiteral("sha256"), QString::fromLatin1(sha256(release.installer).toHex()));
        action.insert(QStringLiteral("signingKeyID"), release.keyId);
        action.insert(QStringLiteral("detachedSignature"), QString::fromLatin1(release.signature.toBase64()));
        answer.insert(QStringLiteral("action"), action);
        Response response = Response::json(quorin::test::ReleaseAnswers::encode(answer));
        response.held = held;
        m_server->setResponse(kLatest, response);
    }

    void serve(const Response &response) { m_server->setResponse(kInstallerRoute, response); }
    [[nodiscard]] static Response installerResponse(const QByteArray &bytes)
    {
        return Response(200, bytes, "application/vnd.debian.binary-package");
    }

    std::unique_ptr<UpdateController> makeController(int stallTimeoutMs = 20000,
                                                     const QString &keyringPath = QString())
    {
        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = m_releaseBaseUrl.isEmpty() ? m_server->url() : m_releaseBaseUrl;
        configuration.stallTimeoutMs = stallTimeoutMs;
        configuration.keyringPath = keyringPath.isEmpty() ? m_keyringPath : keyringPath;
        configuration.freeSpace = [this](const QString &folder) {
            m_freeSpaceFolders.append(folder);
            return m_freeSpace;
        };
        configuration.quit = [this] { ++m_quits; };
        configuration.commandRunner = [this](const Command &command, QObject *context,
                                             const quorin::LinuxPackageInstaller::CommandDone &done) {
            m_commands.append(command);
            QTimer::singleShot(0, context, [done] { done({}); });
        };
        configuration.verificationStarted = [this] {
            if (m_verificationStarted)
                m_verificationStarted();
        };
        return std::make_unique<UpdateController>(std::move(configuration));
    }

    // Begins a check and waits until the discovery has ended.
    static void check(UpdateController &controller)
    {
        QSignalSpy stateChanges(&controller, &UpdateController::stateChanged);
        controller.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(!stateChanges.isEmpty() && controller.state() != UpdateController::Checking,
                                 20000);
    }

    std::unique_ptr<UpdateController> offeredController(const Release &release, int stallTimeoutMs = 20000)
    {
        answerWith(release);
        std::unique_ptr<UpdateController> controller = makeController(stallTimeoutMs);
        check(*controller);
        return controller;
    }

    static void downloadToEnd(UpdateController &controller)
    {
        controller.download();
        QTRY_VERIFY_WITH_TIMEOUT(controller.state() != UpdateController::Downloading, 30000);
    }

    // A controller whose download of the good installer has reached Ready.
    std::unique_ptr<UpdateController> readyController()
    {
        serve(installerResponse(m_installer));
        std::unique_ptr<UpdateController> controller = offeredController(goodRelease());
        downloadToEnd(*controller);
        return controller;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QVERIFY(!qEnvironmentVariable("XDG_CACHE_HOME").isEmpty());
        QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration());
        m_keychain.installAsNative();
        quorin::PreferencesStore::open()->setValue(QStringLiteral("installationUuid"), kInstallationId);
        m_signer = Ed25519Signer::generate();
        m_stranger = Ed25519Signer::generate();
        QVERIFY(m_keyringFolder.isValid());
        m_keyringPath = m_keyringFolder.filePath(QStringLiteral("update-keyring.json"));
        // The key that signs comes second, after a key that signs nothing here.
        QVERIFY(writeFile(m_keyringPath, Ed25519Signer::keyring({Ed25519Signer::generate(), *m_signer})));
        m_installer = randomBytes(kInstallerSize);
        m_desktop = std::make_unique<quorin::test::DesktopUrlRecorder>(
            QStringList{QStringLiteral("file"), QStringLiteral("https")});
    }

    void cleanupTestCase() { m_desktop.reset(); }

    void init()
    {
        m_server = std::make_unique<FixtureServer>();
        QVERIFY(m_server->listen());
        updateSettings()->remove(QString());
        QVERIFY(QDir(updatesFolder()).removeRecursively());
        m_freeSpace = kPlentyOfSpace;
        m_freeSpaceFolders.clear();
        m_quits = 0;
        m_desktop->clear();
        m_commands.clear();
        m_verificationStarted = {};
        m_releaseBaseUrl.clear();
    }

    void cleanup() { m_server.reset(); }

    void downloadsVerifiesAndCommits_data()
    {
        QTest::addColumn<QByteArray>("installer");
        QTest::newRow("a few MiB") << randomBytes(kInstallerSize);
        QTest::newRow("empty") << QByteArray();
    }

    void downloadsVerifiesAndCommits()
    {
        QFETCH(QByteArray, installer);
        Response served = installerResponse(installer);
        served.bytesPerSecond = 8 * 1024 * 1024; // a few dozen progress reports
        serve(served);
        const std::unique_ptr<UpdateController> controller = offeredController(
            {installer, m_signer->keyId(), m_signer->sign(sha256(installer)), false, std::nullopt});
        QCOMPARE(controller->state(), UpdateController::Available);

        QStringList events;
        QList<double> progressValues;
        connect(controller.get(), &UpdateController::stateChanged, controller.get(), [&] {
            events.append(QStringLiteral("state %1").arg(controller->state()));
            progressValues.append(controller->progress());
        });
        connect(controller.get(), &UpdateController::progressChanged, controller.get(), [&] {
            events.append(QStringLiteral("progress"));
            progressValues.append(controller->progress());
        });
        connect(controller.get(), &UpdateController::candidateChanged, controller.get(),
                [&] { events.append(QStringLiteral("candidate")); });
        downloadToEnd(*controller);

        QCOMPARE(controller->state(), UpdateController::Ready);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(events.first(), QStringLiteral("state %1").arg(UpdateController::Downloading));
        QCOMPARE(progressValues.first(), 0.0);
        for (qsizetype index = 1; index < progressValues.size(); ++index) {
            QVERIFY2(progressValues.at(index) >= progressValues.at(index - 1), qPrintable(events.join(',')));
            QVERIFY(progressValues.at(index) <= 1.0);
        }
        QCOMPARE(events.mid(events.size() - 3),
                 QStringList({QStringLiteral("progress"), QStringLiteral("candidate"),
                              QStringLiteral("state %1").arg(UpdateController::Ready)}));
        QCOMPARE(controller->progress(), 1.0);

        QCOMPARE(controller->verifiedPath(), targetPath());
        QCOMPARE(updateSettings()->value(QStringLiteral("verifiedPath")).toString(), targetPath());
        QCOMPARE(fileBytes(targetPath()), installer);
        QVERIFY(QFileInfo(targetPath()).isFile());
        QCOMPARE(folderEntries(installerFolder()), QStringList({kInstallerName}));
        QCOMPARE(modeOf(installerFolder()), 0700);
        QCOMPARE(modeOf(updatesFolder()), 0700);
        QCOMPARE(m_server->requestCount(kInstallerRoute), 1);
        QVERIFY(!m_server->requests(kInstallerRoute).first().hasHeader("Authorization"));
    }

    void failures_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("requested"); // the installer route was asked

        const QString larger =
            QStringLiteral("The downloaded update is larger than expected or could not be saved.");
        const QString verification = QStringLiteral("The downloaded update failed verification.");
        const QString failed = QStringLiteral("The update download failed.");
        const QString space = QStringLiteral("There is not enough free disk space for the update.");
        QTest::newRow("one byte more") << Fault::LongerBody << larger << true;
        QTest::newRow("four times the size, throttled") << Fault::FarLongerBody << larger << true;
        QTest::newRow("one byte fewer") << Fault::ShorterBody << verification << true;
        QTest::newRow("same size, other bytes") << Fault::OtherBytes << verification << true;
        QTest::newRow("404") << Fault::NotFound << failed << true;
        QTest::newRow("redirect to plain http") << Fault::RedirectToPlainHttp << failed << true;
        QTest::newRow("hung, past the stall interval")
            << Fault::Hung << QStringLiteral("The download stalled.") << true;
        QTest::newRow("key not in the keyring")
            << Fault::UnknownKey << QStringLiteral("The update was signed by an unknown key.") << true;
        QTest::newRow("signed by another key")
            << Fault::OtherKey << QStringLiteral("The update signature is invalid.") << true;
        QTest::newRow("folder made at the target while held")
            << Fault::FolderWhileHeld << QStringLiteral("The verified update could not be committed to disk.")
            << true;
        QTest::newRow("folder at the target beforehand")
            << Fault::FolderBefore << QStringLiteral("The update could not be saved to disk.") << false;
        QTest::newRow("one byte short of the margin") << Fault::FreeSpaceShort << space << false;
        QTest::newRow("no volume") << Fault::NoVolume << space << false;
        QTest::newRow("size 2^63 - 1") << Fault::HugeSize << space << false;
    }

    void failures()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, text);
        QFETCH(bool, requested);

        Release release = goodRelease(true);
        Response served = installerResponse(m_installer);
        int stallTimeoutMs = 20000;
        FixtureServer plain(FixtureServer::Transport::PlainHttp);
        QVERIFY(plain.listen());
        plain.setResponse(kInstallerRoute, installerResponse(m_installer));
        switch (fault) {
        case Fault::LongerBody:
            served.body.append('x');
            break;
        case Fault::FarLongerBody:
            served.body = m_installer.repeated(4);
            served.bytesPerSecond = 2 * kInstallerSize;
            break;
        case Fault::ShorterBody:
            served.body.chop(1);
            break;
        case Fault::OtherBytes:
            served.body[1000] = char(served.body.at(1000) ^ 1);
            break;
        case Fault::NotFound:
            served = Response(404, "no such release");
            break;
        case Fault::RedirectToPlainHttp:
            served = Response::redirect(plain.url(kInstallerRoute).toEncoded());
            break;
        case Fault::Hung:
            served = Response::hung();
            stallTimeoutMs = 300;
            break;
        case Fault::UnknownKey:
            release.keyId = m_stranger->keyId();
            release.signature = m_stranger->sign(sha256(m_installer));
            break;
        case Fault::OtherKey:
            release.signature = m_stranger->sign(sha256(m_installer));
            break;
        case Fault::FolderWhileHeld:
            served.held = true;
            break;
        case Fault::FolderBefore:
            QVERIFY(QDir().mkpath(targetPath()));
            break;
        case Fault::FreeSpaceShort:
            m_freeSpace = kInstallerSize + UpdateController::FreeSpaceMarginBytes - 1;
            break;
        case Fault::NoVolume:
            m_freeSpace.reset();
            break;
        case Fault::HugeSize:
            release.size = std::numeric_limits<qint64>::max();
            break;
        }
        serve(served);
        const std::unique_ptr<UpdateController> controller = offeredController(release, stallTimeoutMs);
        QCOMPARE(controller->state(), UpdateController::Required);
        const QVariantList record = requiredRecord();
        QVERIFY(!record.first().toString().isEmpty());
        const qint64 sentBefore = m_server->bytesSent();
        QSignalSpy failed(controller.get(), &UpdateController::downloadFailed);

        controller->download();
        if (fault == Fault::FolderWhileHeld) {
            QTRY_COMPARE(m_server->requestCount(kInstallerRoute), 1);
            QVERIFY(QDir().mkdir(targetPath()));
            m_server->release(kInstallerRoute);
        }
        QTRY_VERIFY_WITH_TIMEOUT(controller->state() != UpdateController::Downloading, 30000);

        QCOMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), text);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), text);
        QVERIFY(controller->progress() >= 0.0 && controller->progress() <= 1.0);
        QCOMPARE(m_server->requestCount(kInstallerRoute), requested ? 1 : 0);
        QCOMPARE(plain.connectionCount(), 0);
        QVERIFY(controller->verifiedPath().isEmpty());
        QVERIFY(!updateSettings()->contains(QStringLiteral("verifiedPath")));
        QCOMPARE(requiredRecord(), record);
        QVERIFY(controller->required());
        const bool folderInTheWay = fault == Fault::FolderWhileHeld || fault == Fault::FolderBefore;
        QCOMPARE(folderEntries(installerFolder()),
                 folderInTheWay ? QStringList({kInstallerName}) : QStringList());
        QVERIFY(folderInTheWay ? QFileInfo(targetPath()).isDir() : !QFileInfo::exists(targetPath()));
        if (fault == Fault::FarLongerBody) {
            // Cut off at the chunk that went past the size: most of the body was never sent.
            QTRY_COMPARE(m_server->requestsInFlight(), 0);
            QVERIFY2(m_server->bytesSent() - sentBefore < 2 * kInstallerSize,
                     qPrintable(QString::number(m_server->bytesSent() - sentBefore)));
        }

        // Once the fault is gone, a new download succeeds.
        if (folderInTheWay)
            QVERIFY(QDir(targetPath()).removeRecursively());
        m_freeSpace = kPlentyOfSpace;
        serve(installerResponse(m_installer));
        if (release.keyId != m_signer->keyId() || release.size ||
            release.signature != goodRelease().signature) {
            answerWith(goodRelease(true));
            check(*controller);
            QCOMPARE(controller->state(), UpdateController::Required);
        }
        downloadToEnd(*controller);
        QCOMPARE(controller->state(), UpdateController::Ready);
        QCOMPARE(fileBytes(targetPath()), m_installer);
    }

    // What the user reads of a failure is a short sentence; the network layer's text, which names
    // the request's URL with the installation id, goes to the diagnostics log, masked there.
    void failureTextsHideTheDetail_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("detailField");
        QTest::addColumn<QString>("detail"); // part of that field's logged value

        const QString check = QStringLiteral("update_check_failed");
        const QString download = QStringLiteral("update_download_failed");
        const QString field = QStringLiteral("detail");
        QTest::newRow("refused connection")
            << QStringLiteral("refused") << QStringLiteral("The update service could not be reached.")
            << check << QStringLiteral("NetworkError") << field << QStringLiteral("Connection refused");
        QTest::newRow("503") << QStringLiteral("503")
                             << QStringLiteral("The update service answered with an error (status 503).")
                             << check << QStringLiteral("NetworkError") << field
                             << QStringLiteral("[redacted-url] - server replied: Service Unavailable");
        QTest::newRow("invalid offer")
            << QStringLiteral("invalid") << QStringLiteral("The update offer was invalid.") << check
            << QStringLiteral("invalid_offer") << field << QStringLiteral("Invalid update response JSON");
        QTest::newRow("digest mismatch")
            << QStringLiteral("digest") << QStringLiteral("The downloaded update failed verification.")
            << download << QStringLiteral("digest_mismatch") << QString() << QString();
        QTest::newRow("full disk") << QStringLiteral("disk")
                                   << QStringLiteral("There is not enough free disk space for the update.")
                                   << download << QStringLiteral("disk_space")
                                   << QStringLiteral("available_bytes") << QStringLiteral("1024");
    }

    void failureTextsHideTheDetail()
    {
        QFETCH(QString, failure);
        QFETCH(QString, text);
        QFETCH(QString, event);
        QFETCH(QString, reason);
        QFETCH(QString, detailField);
        QFETCH(QString, detail);
        QVERIFY(QDir(QFileInfo(DiagnosticLogger::logFilePath()).absolutePath()).removeRecursively());
        DiagnosticLogger::initialize();

        std::unique_ptr<UpdateController> controller;
        if (failure == QLatin1String("refused")) {
            {
                FixtureServer gone;
                QVERIFY(gone.listen());
                m_releaseBaseUrl = gone.url();
            }
            controller = makeController();
            check(*controller);
        } else if (failure == QLatin1String("503") || failure == QLatin1String("invalid")) {
            m_server->setResponse(kLatest,
                                  failure == QLatin1String("503") ? Response(503) : Response::json("[]"));
            controller = makeController();
            check(*controller);
        } else {
            Response served = installerResponse(m_installer);
            if (failure == QLatin1String("digest"))
                served.body[4096] = char(served.body.at(4096) ^ 0x01);
            else
                m_freeSpace = 1024;
            serve(served);
            controller = offeredController(goodRelease());
            downloadToEnd(*controller);
        }
        QCOMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), text);
        for (const QString &hidden :
             {QStringLiteral("http"), QStringLiteral("installationId"), kInstallationId})
            QVERIFY2(!controller->errorMessage().contains(hidden, Qt::CaseInsensitive), qPrintable(hidden));

        DiagnosticLogger::shutdown();
        const QList<LogLineParser::Record> records =
            LogLineParser::withEvent(LogLineParser::parseFile(DiagnosticLogger::logFilePath()), event);
        QCOMPARE(records.size(), 1);
        const LogLineParser::Record &record = records.first();
        QCOMPARE(record.value(QStringLiteral("category")), QStringLiteral("update"));
        QCOMPARE(record.value(QStringLiteral("reason")), reason);
        if (!detailField.isEmpty())
            QVERIFY2(record.value(detailField).contains(detail), qPrintable(record.value(detailField)));
        QFile log(DiagnosticLogger::logFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray logged = log.readAll();
        QVERIFY(!logged.contains(kInstallationId.toLatin1()));
        QVERIFY(!logged.contains("installationId="));
    }

    void exactMarginStartsTheDownload()
    {
        m_freeSpace = kInstallerSize + UpdateController::FreeSpaceMarginBytes;
        const std::unique_ptr<UpdateController> controller = readyController();
        QCOMPARE(controller->state(), UpdateController::Ready);
        QCOMPARE(m_freeSpaceFolders, QStringList({installerFolder()}));
    }

    void slowSteadyTransferIsNotStalled()
    {
        const int stallTimeoutMs = 600;
        Response served = installerResponse(m_installer);
        served.bytesPerSecond = kInstallerSize * 10 / 24; // about 2.4 s, a chunk every 20 ms
        serve(served);
        const std::unique_ptr<UpdateController> controller = offeredController(goodRelease(), stallTimeoutMs);
        QElapsedTimer elapsed;
        elapsed.start();
        downloadToEnd(*controller);
        QCOMPARE(controller->state(), UpdateController::Ready);
        QVERIFY(elapsed.elapsed() > 3 * stallTimeoutMs);
    }

    void runningDownloadTakesNoSecondRequest()
    {
        Response held = installerResponse(m_installer);
        held.held = true;
        serve(held);
        const std::unique_ptr<UpdateController> controller = offeredController(goodRelease());
        controller->download();
        QTRY_COMPARE(m_server->requestCount(kInstallerRoute), 1);
        QCOMPARE(controller->state(), UpdateController::Downloading);

        QSignalSpy stateChanges(controller.get(), &UpdateController::stateChanged);
        controller->download();
        controller->checkForUpdates();
        controller->retry();
        // A request of our own, sent after those calls, arrives after anything they sent.
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> probe(
            network.get(QNetworkRequest(m_server->url(QStringLiteral("/probe")))));
        QTRY_COMPARE(m_server->requestCount(QStringLiteral("/probe")), 1);
        QCOMPARE(m_server->requestCount(kInstallerRoute), 1);
        QCOMPARE(m_server->requestCount(kLatest), 1);
        QVERIFY(stateChanges.isEmpty());

        m_server->release(kInstallerRoute);
        QTRY_COMPARE(controller->state(), UpdateController::Ready);
        QCOMPARE(m_server->requestCount(kInstallerRoute), 1);
        QCOMPARE(fileBytes(targetPath()), m_installer);
    }

    // The dialog offers Update while its Retry check runs; that check's answer may replace the
    // offer, so the download waits for it.
    void downloadWaitsForARunningCheck()
    {
        serve(installerResponse(m_installer));
        const std::unique_ptr<UpdateController> controller = offeredController(goodRelease(true));
        QCOMPARE(controller->state(), UpdateController::Required);
        answerWith(goodRelease(true), true);
        controller->retry();
        QTRY_COMPARE(m_server->requestCount(kLatest), 2);
        QCOMPARE(controller->state(), UpdateController::Checking);

        controller->download();
        QCOMPARE(controller->state(), UpdateController::Checking);
        m_server->release(kLatest);
        QTRY_COMPARE(controller->state(), UpdateController::Required);
        QCOMPARE(m_server->requestCount(kInstallerRoute), 0);

        downloadToEnd(*controller);
        QCOMPARE(controller->state(), UpdateController::Ready);
        QCOMPARE(m_server->requestCount(kInstallerRoute), 1);
    }

    void storeReleaseOpensItsPage()
    {
        const QUrl page(QStringLiteral("https://store.example/apps/quorin-desktop"));
        QJsonObject answer = quorin::test::ReleaseAnswers::offer();
        answer.insert(QStringLiteral("action"), QJsonObject{{QStringLiteral("type"), QStringLiteral("store")},
                                                            {QStringLiteral("url"), page.toString()}});
        m_server->setResponse(kLatest, Response::json(quorin::test::ReleaseAnswers::encode(answer)));
        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::Available);

        QSignalSpy stateChanges(controller.get(), &UpdateController::stateChanged);
        controller->download();
        QCOMPARE(m_desktop->opened(), QList<QUrl>({page}));
        controller->download();
        QCOMPARE(m_desktop->opened(), QList<QUrl>({page, page}));
        QVERIFY(stateChanges.isEmpty());
        QCOMPARE(controller->state(), UpdateController::Available);
        QCOMPARE(m_server->totalRequestCount(), 1);
        QVERIFY(!QFileInfo::exists(updatesFolder()));
    }

    void rememberedInstaller()
    {
        readyController();
        QCOMPARE(fileBytes(targetPath()), m_installer);
        {
            const std::unique_ptr<UpdateController> restarted = makeController();
            QStringList events;
            connect(restarted.get(), &UpdateController::candidateChanged, restarted.get(),
                    [&] { events.append(restarted->verifiedPath()); });
            check(*restarted);
            QCOMPARE(restarted->state(), UpdateController::Available);
            // Known only once the worker has checked the file again.
            QTRY_COMPARE(restarted->verifiedPath(), targetPath());
            QCOMPARE(events, QStringList({QString(), targetPath()}));
        }

        QByteArray changed = m_installer;
        changed[12345] = char(changed.at(12345) ^ 0x40);
        QVERIFY(writeFile(targetPath(), changed));
        const std::unique_ptr<UpdateController> restarted = makeController();
        QStringList events;
        connect(restarted.get(), &UpdateController::candidateChanged, restarted.get(),
                [&] { events.append(restarted->verifiedPath()); });
        check(*restarted);
        settleVerifications();
        QCOMPARE(restarted->state(), UpdateController::Available);
        QVERIFY(restarted->verifiedPath().isEmpty());
        QCOMPARE(events, QStringList({QString()}));
        QCOMPARE(updateSettings()->value(QStringLiteral("verifiedPath")).toString(), targetPath());
        QCOMPARE(m_server->requestCount(kInstallerRoute), 1);
    }

    // What happens to the installer between the download and install(): the installer is verified
    // again first, and one that fails is never handed to the desktop.
    void installRefusesWhatNoLongerVerifies_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("text");
        QTest::newRow("one byte changed")
            << QStringLiteral("byte") << QStringLiteral("The update checksum does not match.");
        QTest::newRow("truncated") << QStringLiteral("truncate")
                                   << QStringLiteral("The cached update has the wrong size.");
        QTest::newRow("removed") << QStringLiteral("remove")
                                 << QStringLiteral("The cached update has the wrong size.");
        QTest::newRow("no verified path") << QStringLiteral("never downloaded")
                                          << QStringLiteral("The downloaded update could not be verified.");
    }

    void installRefusesWhatNoLongerVerifies()
    {
        QFETCH(QString, change);
        QFETCH(QString, text);
        std::unique_ptr<UpdateController> controller;
        if (change == QLatin1String("never downloaded")) {
            controller = offeredController(goodRelease());
            settleVerifications();
            QCOMPARE(controller->state(), UpdateController::Available);
        } else {
            controller = readyController();
            QCOMPARE(controller->state(), UpdateController::Ready);
        }
        QByteArray onDisk = m_installer;
        if (change == QLatin1String("byte"))
            onDisk[0] = char(onDisk.at(0) ^ 1);
        else if (change == QLatin1String("truncate"))
            onDisk.chop(1);
        if (change == QLatin1String("remove"))
            QVERIFY(QFile::remove(targetPath()));
        else if (onDisk != m_installer)
            QVERIFY(writeFile(targetPath(), onDisk));

        QSignalSpy failed(controller.get(), &UpdateController::downloadFailed);
        controller->install();
        QTRY_COMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), text);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), text);
        // Nothing went to the desktop, then or after the verdict.
        settleVerifications();
        QVERIFY(m_commands.isEmpty());
        QVERIFY(m_desktop->opened().isEmpty());
        QCOMPARE(m_quits, 0);
    }

    // The installer is hashed on a worker while the window's thread goes on, and the desktop gets
    // the file only after the worker's verdict: a file changed before the worker reads it is refused.
    void installVerifiesOnAWorker()
    {
        const std::unique_ptr<UpdateController> controller = readyController();
        QSemaphore hold;
        QSemaphore entered;
        QThread *verifyingThread = nullptr;
        QAtomicInt verifications;
        m_verificationStarted = [&] {
            if (verifications.fetchAndAddOrdered(1) > 0)
                return;
            verifyingThread = QThread::currentThread();
            entered.release();
            // Held only off the GUI thread: held on it, nothing could release it.
            if (verifyingThread != QCoreApplication::instance()->thread())
                hold.acquire();
        };
        QSignalSpy stateChanges(controller.get(), &UpdateController::stateChanged);
        controller->install();
        QVERIFY(entered.tryAcquire(1, 10000));
        QVERIFY(verifyingThread);
        QVERIFY(verifyingThread != QCoreApplication::instance()->thread());
        // The GUI thread turns while the worker is held: a timer of its own fires.
        bool turned = false;
        QTimer::singleShot(0, controller.get(), [&] { turned = true; });
        QTRY_VERIFY(turned);
        controller->install(); // a second press while the first runs starts nothing
        QVERIFY(stateChanges.isEmpty());
        QVERIFY(m_commands.isEmpty());

        QByteArray tampered = m_installer;
        tampered[77] = char(tampered.at(77) ^ 0x10);
        QVERIFY(writeFile(targetPath(), tampered));
        hold.release();
        QTRY_COMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The update checksum does not match."));
        settleVerifications();
        QCOMPARE(verifications.loadAcquire(), 1);
        QVERIFY(m_commands.isEmpty());
        QVERIFY(m_desktop->opened().isEmpty());
        QCOMPARE(m_quits, 0);

        // The same file, restored, goes to the desktop once the worker has passed it.
        QVERIFY(writeFile(targetPath(), m_installer));
        m_verificationStarted = [&] { hold.acquire(); };
        controller->install();
        QCoreApplication::sendPostedEvents();
        QVERIFY(m_commands.isEmpty());
        hold.release();
        QTRY_COMPARE(m_commands.size(), 1);
        QCOMPARE(m_commands.first().program, QStringLiteral("xdg-mime"));
    }

    void exitQuitsThroughTheSeam()
    {
        const std::unique_ptr<UpdateController> controller = makeController();
        controller->exitApplication();
        QCOMPARE(m_quits, 1);
    }

    void publicKeyLookup_data()
    {
        QTest::addColumn<QByteArray>("keyring"); // empty: no file
        QTest::addColumn<QString>("keyId");
        QTest::addColumn<QByteArray>("key");

        const Ed25519Signer first = Ed25519Signer::generate();
        const Ed25519Signer second = Ed25519Signer::generate();
        QTest::newRow("second entry")
            << Ed25519Signer::keyring({first, second}) << second.keyId() << second.publicKey();
        QJsonObject sameId = second.keyringEntry();
        sameId.insert(QStringLiteral("signingKeyID"), first.keyId());
        QTest::newRow("two entries with one id")
            << QJsonDocument(QJsonObject{{QStringLiteral("keys"), QJsonArray{first.keyringEntry(), sameId}}})
                   .toJson()
            << first.keyId() << first.publicKey();
        QTest::newRow("unknown id") << Ed25519Signer::keyring({first}) << second.keyId() << QByteArray();
        QJsonObject badBase64 = first.keyringEntry();
        badBase64.insert(QStringLiteral("publicKey"), QStringLiteral("not*Base64!"));
        QTest::newRow("bad Base64")
            << QJsonDocument(QJsonObject{{QStringLiteral("keys"), QJsonArray{badBase64}}}).toJson()
            << first.keyId() << QByteArray();
        QTest::newRow("no keys") << QJsonDocument(QJsonObject{{QStringLiteral("entries"),
                                                               QJsonArray{first.keyringEntry()}}})
                                        .toJson()
                                 << first.keyId() << QByteArray();
        QTest::newRow("unreadable file") << QByteArray() << first.keyId() << QByteArray();
    }

    void publicKeyLookup()
    {
        QFETCH(QByteArray, keyring);
        QFETCH(QString, keyId);
        QFETCH(QByteArray, key);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(QStringLiteral("keyring.json"));
        if (!keyring.isEmpty())
            QVERIFY(writeFile(path, keyring));
        const std::unique_ptr<UpdateController> controller = makeController(20000, path);
        QCOMPARE(controller->publicKey(keyId), key);
    }
};

QTEST_MAIN(tst_UpdateDownload)
#include "tst_UpdateDownload.moc"
