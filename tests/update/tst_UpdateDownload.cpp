#include "app/PreferencesStore.h"
#include "tests/update/ReleaseAnswers.h"
#include "testsupport/DesktopUrlRecorder.h"
#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
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
#include <QSettings>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>

using quorin::test::Ed25519Signer;
using quorin::test::FixtureServer;
using Response = FixtureServer::Response;

Q_DECLARE_METATYPE(UpdateController::State)

namespace {

const QString kLatest = QStringLiteral("/v2/releases/latest");
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
        configuration.releaseBaseUrl = m_server->url();
        configuration.stallTimeoutMs = stallTimeoutMs;
        configuration.keyringPath = keyringPath.isEmpty() ? m_keyringPath : keyringPath;
        configuration.freeSpace = [this](const QString &folder) {
            m_freeSpaceFolders.append(folder);
            return m_freeSpace;
        };
        configuration.quit = [this] { ++m_quits; };
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
        quorin::PreferencesStore::open()->setValue(QStringLiteral("installationUuid"),
                                                   QStringLiteral("3f2b8c1e-5d4a-4e6f-9b7c-0a1d2e3f4a5b"));
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
            << Fault::FolderBefore << QStringLiteral("Filename refers to a directory") << false;
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

        controller->download();
        if (fault == Fault::FolderWhileHeld) {
            QTRY_COMPARE(m_server->requestCount(kInstallerRoute), 1);
            QVERIFY(QDir().mkdir(targetPath()));
            m_server->release(kInstallerRoute);
        }
        QTRY_VERIFY_WITH_TIMEOUT(controller->state() != UpdateController::Downloading, 30000);

        QCOMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), text);
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
            QCOMPARE(restarted->verifiedPath(), targetPath());
            QCOMPARE(events, QStringList({targetPath()}));
        }

        QByteArray changed = m_installer;
        changed[12345] = char(changed.at(12345) ^ 0x40);
        QVERIFY(writeFile(targetPath(), changed));
        const std::unique_ptr<UpdateController> restarted = makeController();
        check(*restarted);
        QCOMPARE(restarted->state(), UpdateController::Available);
        QVERIFY(restarted->verifiedPath().isEmpty());
        QCOMPARE(updateSettings()->value(QStringLiteral("verifiedPath")).toString(), targetPath());
        QCOMPARE(m_server->requestCount(kInstallerRoute), 1);
    }

    void install_data()
    {
        QTest::addColumn<QString>("change"); // what happens between the download and install()
        QTest::addColumn<QString>("text");   // empty: installed
        QTest::newRow("verified file") << QStringLiteral("none") << QString();
        QTest::newRow("one byte changed")
            << QStringLiteral("byte") << QStringLiteral("The update checksum does not match.");
        QTest::newRow("truncated") << QStringLiteral("truncate")
                                   << QStringLiteral("The cached update has the wrong size.");
        QTest::newRow("no verified path") << QStringLiteral("never downloaded")
                                          << QStringLiteral("The downloaded update could not be verified.");
        QTest::newRow("no handler for files")
            << QStringLiteral("no handler") << QStringLiteral("The installer could not be opened.");
    }

    void install()
    {
        QFETCH(QString, change);
        QFETCH(QString, text);
        std::unique_ptr<UpdateController> controller;
        if (change == QLatin1String("never downloaded")) {
            controller = offeredController(goodRelease());
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
        if (onDisk != m_installer)
            QVERIFY(writeFile(targetPath(), onDisk));
        if (change == QLatin1String("no handler")) {
            m_desktop->release(QStringLiteral("file"));
            // What the offscreen platform says when it refuses to open a file.
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("openDocument")));
        }

        controller->install();
        m_desktop->handle(QStringLiteral("file"));
        if (text.isEmpty()) {
            QCOMPARE(m_desktop->opened(), QList<QUrl>({QUrl::fromLocalFile(targetPath())}));
            QCOMPARE(m_quits, 1);
            QCOMPARE(controller->state(), UpdateController::Ready);
            return;
        }
        QCOMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), text);
        QVERIFY(m_desktop->opened().isEmpty());
        QCOMPARE(m_quits, 0);
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
