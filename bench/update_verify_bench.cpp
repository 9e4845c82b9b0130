// How fast the self-update hashes an installer. verifyFile reads and hashes a whole installer on
// the GUI thread (when an offer is applied and before installing), so its speed is how long the
// window freezes. Prints verifyFile's throughput on a 256 MiB installer in the page cache beside
// `openssl speed -evp sha256` at 64 KiB blocks on the same machine (target: at least 70 % of it),
// the time verifyFile holds the thread for 100 MiB, and loopback download throughput from the
// fixture server, written to a file as the download does, with and without hashing the bytes.
#include "bench/BenchTiming.h"
#include "net/MediaFetch.h"
#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixtureServer.h"
#include "update/Sha256Hasher.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

using quorin::test::Ed25519Signer;
using quorin::test::FixtureServer;

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int Rounds = 7;

QByteArray randomBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(37);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / qint64(sizeof(quint32)));
    return bytes;
}

struct Installer
{
    QString path;
    UpdateCandidate candidate;
};

std::optional<Installer> writeInstaller(const QString &folder, const QByteArray &bytes,
                                        const Ed25519Signer &signer)
{
    Installer installer;
    installer.path = folder + QStringLiteral("/installer-%1.deb").arg(bytes.size());
    QFile file(installer.path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return std::nullopt;
    UpdateCandidate &candidate = installer.candidate;
    candidate.updateAvailable = true;
    candidate.actionType = QStringLiteral("download");
    candidate.version = QStringLiteral("1.0.9");
    candidate.buildNumber = 23;
    candidate.filename = QStringLiteral("installer.deb");
    candidate.size = bytes.size();
    candidate.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    candidate.signatureType = QStringLiteral("ed25519-sha256");
    candidate.signingKeyID = signer.keyId();
    candidate.signature = signer.sign(candidate.sha256);
    return installer;
}

// Median milliseconds of one verifyFile; -1 when the file does not verify.
double verifyMs(const UpdateController &controller, const Installer &installer)
{
    if (!controller.verifyFile(installer.path, installer.candidate))
        return -1;
    return quorin::bench::medianMs(Rounds,
                                   [&] { (void)controller.verifyFile(installer.path, installer.candidate); });
}

// Bytes per second of `openssl speed -evp sha256` at 64 KiB blocks; -1 when it cannot run.
double opensslBytesPerSecond()
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("speed"), QStringLiteral("-evp"), QStringLiteral("sha256"),
                   QStringLiteral("-bytes"), QStringLiteral("65536"), QStringLiteral("-seconds"),
                   QStringLiteral("3"), QStringLiteral("-mr")});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
        return -1;
    const QList<QByteArray> lines = openssl.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("+F:"))
            return line.split(':').last().trimmed().toDouble();
    }
    return -1;
}

// Milliseconds to fetch the body from the fixture server and write it to a file, hashing it or not.
double fetchMs(QNetworkAccessManager &network, const QUrl &url, const QString &path, bool hash)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    quorin::Sha256Hasher hasher;
    quorin::MediaFetch fetch(&network, QNetworkRequest(url));
    QObject::connect(&fetch, &quorin::MediaFetch::readyRead, &fetch, [&] {
        const QByteArray chunk = fetch.readAll();
        file.write(chunk);
        if (hash)
            hasher.addData(chunk);
    });
    QSignalSpy finished(&fetch, &quorin::MediaFetch::finished);
    QElapsedTimer timer;
    timer.start();
    fetch.start();
    if (!finished.wait(120000) || fetch.ending() != quorin::MediaFetch::Ending::Completed)
        return -1;
    (void)hasher.result();
    return double(timer.nsecsElapsed()) / 1e6;
}

double megabytesPerSecond(qint64 bytes, double ms)
{
    return ms > 0 ? double(bytes) / 1e6 / (ms / 1e3) : -1;
}

} // namespace

int main(int argc, char **argv)
{
    // The controller opens the settings store; this run keeps its own, never the user's.
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        qputenv(variable, folder.filePath(QString::fromLatin1(variable)).toLocal8Bit());
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("update-verify-bench"));

    const Ed25519Signer signer = Ed25519Signer::generate();
    const QString keyringPath = folder.filePath(QStringLiteral("keyring.json"));
    QFile keyring(keyringPath);
    if (!keyring.open(QIODevice::WriteOnly) || keyring.write(Ed25519Signer::keyring({signer})) < 0)
        return 1;
    keyring.close();
    FixtureServer server;
    if (!server.listen())
        return 1;
    QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration());
    UpdateController::Configuration configuration;
    configuration.releaseBaseUrl = server.url();
    configuration.keyringPath = keyringPath;
    UpdateController controller(std::move(configuration));

    const std::optional<Installer> large = writeInstaller(folder.path(), randomBytes(256 * MiB), signer);
    const std::optional<Installer> hundred = writeInstaller(folder.path(), randomBytes(100 * MiB), signer);
    if (!large || !hundred)
        return 1;
    // The first verification reads the files into the page cache.
    const double largeMs = verifyMs(controller, *large);
    const double hundredMs = verifyMs(controller, *hundred);
    const double verifyRate = megabytesPerSecond(large->candidate.size, largeMs);
    const double opensslRate = opensslBytesPerSecond() / 1e6;
    std::printf("verifyFile, 256 MiB in the page cache: %.0f MB/s (median of %d)\n", verifyRate, Rounds);
    std::printf("openssl speed -evp sha256 -bytes 65536: %.0f MB/s\n", opensslRate);
    if (opensslRate > 0 && verifyRate > 0)
        std::printf("ratio: %.0f %% of openssl (target: at least 70 %%)\n", 100 * verifyRate / opensslRate);
    std::printf("verifyFile holds the GUI thread for 100 MiB: %.1f ms\n", hundredMs);

    const QByteArray body = randomBytes(100 * MiB);
    server.setResponse(QStringLiteral("/installer.deb"),
                       FixtureServer::Response(200, body, "application/vnd.debian.binary-package"));
    QNetworkAccessManager network;
    const QUrl url = server.url(QStringLiteral("/installer.deb"));
    const QString copy = folder.filePath(QStringLiteral("copy.deb"));
    (void)fetchMs(network, url, copy, false); // warms the connection and the allocator
    const double plainMs = fetchMs(network, url, copy, false);
    const double hashedMs = fetchMs(network, url, copy, true);
    std::printf(
        "loopback download of 100 MiB, written to a file: %.0f MB/s without hashing, %.0f MB/s hashing\n",
        megabytesPerSecond(body.size(), plainMs), megabytesPerSecond(body.size(), hashedMs));
    return 0;
}
