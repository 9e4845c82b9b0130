#include "tests/update/ReleaseAnswers.h"
#include "testsupport/Ed25519Signer.h"
#include "update/UpdatePolicy.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <functional>

using quorin::test::Ed25519Signer;
using quorin::test::ReleaseAnswers;

Q_DECLARE_METATYPE(UpdateCandidate)

namespace {

const QByteArray kInstaller = QByteArray("installer bytes ").repeated(64);
const QByteArray kInstallerDigest = QCryptographicHash::hash(kInstaller, QCryptographicHash::Sha256);

using AnswerChange = std::function<void(QJsonObject &top, QJsonObject &action)>;

// The offer, changed by the row before it is written out.
QByteArray answer(const AnswerChange &change = {})
{
    QJsonObject top = ReleaseAnswers::offer();
    QJsonObject action = top.take(QStringLiteral("action")).toObject();
    if (change)
        change(top, action);
    top.insert(QStringLiteral("action"), action);
    return ReleaseAnswers::encode(top);
}

// The same answer with one member's value written as raw JSON text, for numbers that a
// QJsonObject cannot hold as written.
QByteArray answerWithRawId(const QByteArray &rawId)
{
    QByteArray body = answer();
    body.replace("\"id\":109023", "\"id\":" + rawId);
    return body;
}

UpdateCandidate expectedDownload(bool stable = true)
{
    return ReleaseAnswers::expectedCandidate(stable);
}

// What a caller held before the parse: a failure must leave every field of it alone.
UpdateCandidate prefilled()
{
    UpdateCandidate candidate;
    candidate.id = 7;
    candidate.version = QStringLiteral("0.9.0");
    candidate.buildNumber = 3;
    candidate.updateAvailable = true;
    candidate.updateRequired = true;
    candidate.actionType = QStringLiteral("store");
    candidate.url = QUrl(QStringLiteral("https://store.example/app"));
    candidate.size = 99;
    candidate.stable = false;
    return candidate;
}

QString describe(const UpdateCandidate &c)
{
    return QStringLiteral("id=%1 version=%2 build=%3 notes=%4 minimum=%5 available=%6 required=%7 action=%8 "
                          "url=%9 file=%10 size=%11 sha=%12 type=%13 key=%14 signature=%15 stable=%16")
        .arg(c.id)
        .arg(c.version)
        .arg(c.buildNumber)
        .arg(c.releaseNotes, c.minimumVersion)
        .arg(c.updateAvailable)
        .arg(c.updateRequired)
        .arg(c.actionType, c.url.toString(), c.filename)
        .arg(c.size)
        .arg(QString::fromLatin1(c.sha256.toHex()), c.signatureType, c.signingKeyID,
             QString::fromLatin1(c.signature.toHex()))
        .arg(c.stable);
}

QByteArray flipBit(QByteArray bytes, qsizetype index)
{
    bytes[index] = char(bytes.at(index) ^ 0x01);
    return bytes;
}

} // namespace

class tst_UpdatePolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compareVersions_data()
    {
        QTest::addColumn<QString>("lhs");
        QTest::addColumn<QString>("rhs");
        QTest::addColumn<int>("order");

        const auto row = [](const char *name, const char *lhs, const char *rhs, int order) {
            QTest::newRow(name) << QString::fromUtf8(lhs) << QString::fromUtf8(rhs) << order;
        };
        row("minor by number, not text", "1.10.0", "1.9.0", 1);
        row("major beats minor and patch", "2.0.0", "1.99.99", 1);
        row("pre-release below its release", "1.0.0-alpha", "1.0.0", -1);
        row("more identifiers rank higher", "1.0.0-alpha", "1.0.0-alpha.1", -1);
        row("numeric below alphanumeric", "1.0.0-alpha.1", "1.0.0-alpha.beta", -1);
        row("alphanumeric identifiers by text", "1.0.0-alpha.beta", "1.0.0-beta", -1);
        row("numeric identifiers by value", "1.0.0-beta.2", "1.0.0-beta.11", -1);
        row("beta before rc", "1.0.0-beta.11", "1.0.0-rc.1", -1);
        row("rc before the release", "1.0.0-rc.1", "1.0.0", -1);
        row("build metadata ignored", "1.0.0+5", "1.0.0+7", 0);
        row("same version", "1.0.9", "1.0.9", 0);
        row("equal values decided by text", "1.0.0-rc.01", "1.0.0-rc.1", -1);
        row("over 64 bits is not numeric", "1.0.0-1", "1.0.0-99999999999999999999", -1);
        row("largest 64-bit number", "18446744073709551615.0.0", "1.0.0", 1);
        row("major over 64 bits reads as 0", "99999999999999999999.0.1", "0.0.2", -1);
        row("leading V falls back to text", "V1.0.0", "1.0.0", 1);
        row("two parts fall back to text", "1.0", "1.0.0", -1);
        row("leading zero falls back to text", "01.0.0", "1.0.0", -1);
        row("trailing line break is no version", "1.0.0\n", "1.0.0", 1);
        row("empty text", "", "1.0.0", -1);
    }

    void compareVersions()
    {
        QFETCH(QString, lhs);
        QFETCH(QString, rhs);
        QFETCH(int, order);
        const auto signOf = [](int value) { return (value > 0) - (value < 0); };
        QCOMPARE(signOf(UpdatePolicy::compareVersions(lhs, rhs)), order);
        QCOMPARE(signOf(UpdatePolicy::compareVersions(rhs, lhs)), -order);
    }

    void isNewer_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<qint64>("build");
        QTest::addColumn<bool>("newer");
        QTest::newRow("same version, later build") << QStringLiteral("1.0.8") << qint64(23) << true;
        QTest::newRow("later version, build 0") << QStringLiteral("1.0.9") << qint64(0) << true;
        QTest::newRow("the running build") << QStringLiteral("1.0.8") << qint64(22) << false;
        QTest::newRow("earlier version, later build") << QStringLiteral("1.0.7") << qint64(99) << false;
        QTest::newRow("same version, earlier build") << QStringLiteral("1.0.8") << qint64(21) << false;
    }

    void isNewer()
    {
        QFETCH(QString, version);
        QFETCH(qint64, build);
        QFETCH(bool, newer);
        UpdateCandidate candidate;
        candidate.version = version;
        candidate.buildNumber = build;
        QCOMPARE(UpdatePolicy::isNewer(candidate, QStringLiteral("1.0.8"), 22), newer);
    }

    void validHttpsUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("valid");
        QTest::newRow("upper-case scheme") << QStringLiteral("HTTPS://h/x") << true;
        QTest::newRow("port") << QStringLiteral("https://releases.example:8443/v2/") << true;
        QTest::newRow("plain http") << QStringLiteral("http://h/x") << false;
        QTest::newRow("no host") << QStringLiteral("https:///x") << false;
        QTest::newRow("user") << QStringLiteral("https://u@h/x") << false;
        QTest::newRow("empty user and password") << QStringLiteral("https://:@h/x") << false;
        QTest::newRow("empty user information") << QStringLiteral("https://@h/x") << false;
        QTest::newRow("relative") << QStringLiteral("/v2/releases/latest") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void validHttpsUrl()
    {
        QFETCH(QString, url);
        QFETCH(bool, valid);
        QCOMPARE(UpdatePolicy::validHttpsUrl(QUrl(url, QUrl::TolerantMode)), valid);
    }

    void safeFilename_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("dot") << QStringLiteral(".") << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << QString();
        QTest::newRow("slash") << QStringLiteral("a/b") << QString();
        QTest::newRow("backslash") << QStringLiteral("a\\b") << QString();
        QTest::newRow("NUL") << (QStringLiteral("a") + QChar(0)) << QString();
        QTest::newRow("blanks kept") << QStringLiteral(" a.deb ") << QStringLiteral(" a.deb ");
        QTest::newRow("dots inside") << QStringLiteral("..a.deb") << QStringLiteral("..a.deb");
    }

    void safeFilename()
    {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        QCOMPARE(UpdatePolicy::safeFilename(name), safe);
    }

    void parseAccepts_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("stable");
        QTest::addColumn<UpdateCandidate>("expected");

        QTest::newRow("download answer") << answer() << true << expectedDownload();

        UpdateCandidate store = expectedDownload();
        store.actionType = QStringLiteral("store");
        store.url = QUrl(QStringLiteral("https://store.example/quorin"));
        store.filename.clear();
        store.size = -1;
        store.sha256.clear();
        store.signatureType.clear();
        store.signingKeyID.clear();
        store.signature.clear();
        QTest::newRow("store answer ignores download fields")
            << answer([](QJsonObject &, QJsonObject &action) {
                   action.insert(QStringLiteral("type"), QStringLiteral("store"));
                   action.insert(QStringLiteral("url"), QStringLiteral("https://store.example/quorin"));
               })
            << true << store;

        const QByteArray nothing = R"({"updateAvailable":false})";
        UpdateCandidate emptyStable;
        emptyStable.stable = true;
        QTest::newRow("nothing offered, stable") << nothing << true << emptyStable;
        QTest::newRow("nothing offered, not stable") << nothing << false << UpdateCandidate();
        QTest::newRow("nothing offered, rest ignored") << answer([](QJsonObject &top, QJsonObject &) {
            top.insert(QStringLiteral("updateAvailable"), false);
        }) << false << UpdateCandidate();

        UpdateCandidate beta = expectedDownload(false);
        beta.version = QStringLiteral("1.0.9-beta.1");
        QTest::newRow("pre-release off the stable channel") << answer([](QJsonObject &top, QJsonObject &) {
            top.insert(QStringLiteral("version"), QStringLiteral("1.0.9-beta.1"));
        }) << false << beta;

        UpdateCandidate empty = expectedDownload();
        empty.size = 0;
        QTest::newRow("size 0") << answer([](QJsonObject &, QJsonObject &action) {
            action.insert(QStringLiteral("size"), 0);
        }) << true << empty;

        QString separatedHex = QString::fromLatin1(ReleaseAnswers::installerDigest().toHex(':'));
        QTest::newRow("hex pairs split by colons")
            << answer([separatedHex](QJsonObject &, QJsonObject &action) {
                   action.insert(QStringLiteral("sha256"), separatedHex);
               })
            << true << expectedDownload();

        QTest::newRow("required as text reads false") << answer([](QJsonObject &top, QJsonObject &) {
            top.insert(QStringLiteral("updateRequired"), QStringLiteral("true"));
        }) << true << expectedDownload();

        UpdateCandidate required = expectedDownload();
        required.updateRequired = true;
        QTest::newRow("required") << answer([](QJsonObject &top, QJsonObject &) {
            top.insert(QStringLiteral("updateRequired"), true);
        }) << true << required;

        UpdateCandidate whole = expectedDownload();
        whole.id = 9223372036854775807;
        QTest::newRow("largest id") << answerWithRawId("9223372036854775807") << true << whole;
    }

    void parseAccepts()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, stable);
        QFETCH(UpdateCandidate, expected);
        UpdateCandidate candidate = prefilled();
        QString error = QStringLiteral("untouched");
        QVERIFY(UpdatePolicy::parseResponse(body, stable, candidate, &error));
        QVERIFY2(candidate == expected,
                 qPrintable(describe(candidate) + QStringLiteral("\nexpected\n") + describe(expected)));
        QCOMPARE(candidate.sha256.size(), expected.sha256.size());
        QCOMPARE(error, QStringLiteral("untouched"));
    }

    void parseRefuses_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("stable");
        QTest::addColumn<QString>("error");

        const QString json = UpdatePolicy::InvalidJsonError;
        const QString required = UpdatePolicy::InvalidRequiredFieldsError;
        const QString metadata = UpdatePolicy::InvalidDownloadMetadataError;
        const auto top = [](const QString &key, const QJsonValue &value) {
            return answer([key, value](QJsonObject &object, QJsonObject &) { object.insert(key, value); });
        };
        const auto inAction = [](const QString &key, const QJsonValue &value) {
            return answer([key, value](QJsonObject &, QJsonObject &action) { action.insert(key, value); });
        };

        QTest::newRow("array") << QByteArray("[]") << true << json;
        QTest::newRow("not JSON") << QByteArray("<html>") << true << json;
        QTest::newRow("empty body") << QByteArray() << true << json;
        QTest::newRow("available as text")
            << QByteArray(R"({"updateAvailable":"false"})") << true << required;
        QTest::newRow("empty object") << QByteArray("{}") << true << required;
        QTest::newRow("available missing") << answer([](QJsonObject &object, QJsonObject &) {
            object.remove(QStringLiteral("updateAvailable"));
        }) << true << required;
        QTest::newRow("id 2^63") << answerWithRawId("9223372036854775808") << true << required;
        QTest::newRow("id 1.5") << answerWithRawId("1.5") << true << required;
        QTest::newRow("negative build") << top(QStringLiteral("buildNumber"), -1) << true << required;
        QTest::newRow("pre-release on the stable channel")
            << top(QStringLiteral("version"), QStringLiteral("1.0.9-beta.1")) << true << required;
        QTest::newRow("version with a line break")
            << top(QStringLiteral("version"), QStringLiteral("1.0.9\n")) << false << required;
        QTest::newRow("store page over http") << answer([](QJsonObject &, QJsonObject &action) {
            action.insert(QStringLiteral("type"), QStringLiteral("store"));
            action.insert(QStringLiteral("url"), QStringLiteral("http://store.example/quorin"));
        }) << true << required;
        QTest::newRow("type Download")
            << inAction(QStringLiteral("type"), QStringLiteral("Download")) << true << required;
        QTest::newRow("empty action")
            << answer([](QJsonObject &, QJsonObject &action) { action = QJsonObject(); }) << true << required;

        QTest::newRow("63-byte signature")
            << inAction(QStringLiteral("detachedSignature"),
                        QString::fromLatin1(ReleaseAnswers::signature().left(63).toBase64()))
            << true << metadata;
        QString starred = QString::fromLatin1(ReleaseAnswers::signature().toBase64());
        starred[10] = QLatin1Char('*');
        QTest::newRow("signature with *")
            << inAction(QStringLiteral("detachedSignature"), starred) << true << metadata;
        QTest::newRow("size -1") << inAction(QStringLiteral("size"), -1) << true << metadata;
        QTest::newRow("size as text")
            << inAction(QStringLiteral("size"), QStringLiteral("12")) << true << metadata;
        QTest::newRow("filename leaves its folder")
            << inAction(QStringLiteral("filename"), QStringLiteral("../x.deb")) << true << metadata;
        QTest::newRow("62 hex digits")
            << inAction(QStringLiteral("sha256"),
                        QString::fromLatin1(ReleaseAnswers::installerDigest().toHex().left(62)))
            << true << metadata;
        QTest::newRow("upper-case key id")
            << inAction(QStringLiteral("signingKeyID"), QStringLiteral("ed25519-0123456789ABCDEF")) << true
            << metadata;
        QTest::newRow("other signature type")
            << inAction(QStringLiteral("signatureType"), QStringLiteral("ed25519")) << true << metadata;
    }

    void parseRefuses()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, stable);
        QFETCH(QString, error);
        UpdateCandidate candidate = prefilled();
        QString reported;
        QVERIFY(!UpdatePolicy::parseResponse(body, stable, candidate, &reported));
        QCOMPARE(reported, error);
        QVERIFY2(candidate == prefilled(), qPrintable(describe(candidate)));
        QVERIFY(!UpdatePolicy::parseResponse(body, stable, candidate)); // no error destination
        QVERIFY(candidate == prefilled());
    }

    void monotonicNow_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("observed");
        QTest::addColumn<QDateTime>("stored");
        QTest::addColumn<QDateTime>("expected");

        const QDateTime now(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC);
        QTest::newRow("stored ahead, nothing observed")
            << now << QDateTime() << now.addSecs(3600) << now.addSecs(3600);
        QTest::newRow("observed beats stored")
            << now << now.addSecs(7200) << now.addSecs(3600) << now.addSecs(7200);
        QTest::newRow("both behind the clock") << now << now.addSecs(-60) << now.addDays(-1) << now;
        QTest::newRow("nothing but the clock") << now << QDateTime() << QDateTime() << now;
        const QDateTime cairo(QDate(2025, 3, 1), QTime(14, 0), Qt::OffsetFromUTC, 7200);
        QTest::newRow("offset clock") << cairo << QDateTime() << QDateTime() << now;
        QTest::newRow("offset observation")
            << now << QDateTime(QDate(2025, 3, 1), QTime(15, 0), Qt::OffsetFromUTC, 7200) << QDateTime()
            << now.addSecs(3600);
    }

    void monotonicNow()
    {
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, observed);
        QFETCH(QDateTime, stored);
        QFETCH(QDateTime, expected);
        const QDateTime result = UpdatePolicy::monotonicNow(now, observed, stored);
        QCOMPARE(result, expected);
        QCOMPARE(result.timeSpec(), Qt::UTC);
    }

    void verifyEd25519Digest_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("digest");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("verifies");

        const Ed25519Signer signer = Ed25519Signer::generate();
        const QByteArray key = signer.publicKey();
        const QByteArray signature = signer.sign(kInstallerDigest);
        QTest::newRow("good") << key << kInstallerDigest << signature << true;
        QTest::newRow("flipped signature bit") << key << kInstallerDigest << flipBit(signature, 40) << false;
        QTest::newRow("flipped digest bit") << key << flipBit(kInstallerDigest, 0) << signature << false;
        QTest::newRow("flipped key bit") << flipBit(key, 5) << kInstallerDigest << signature << false;
        QTest::newRow("another key") << Ed25519Signer::generate().publicKey() << kInstallerDigest << signature
                                     << false;
        QTest::newRow("signature over the file")
            << key << kInstallerDigest << signer.sign(kInstaller) << false;
        QTest::newRow("31-byte key") << key.left(31) << kInstallerDigest << signature << false;
        QTest::newRow("33-byte key") << key + '\0' << kInstallerDigest << signature << false;
        QTest::newRow("31-byte digest") << key << kInstallerDigest.left(31) << signature << false;
        QTest::newRow("33-byte digest") << key << kInstallerDigest + '\0' << signature << false;
        QTest::newRow("63-byte signature") << key << kInstallerDigest << signature.left(63) << false;
        QTest::newRow("65-byte signature") << key << kInstallerDigest << signature + '\0' << false;
        QTest::newRow("all-zero key") << QByteArray(32, '\0') << kInstallerDigest << signature << false;
    }

    void verifyEd25519Digest()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, digest);
        QFETCH(QByteArray, signature);
        QFETCH(bool, verifies);
        QCOMPARE(UpdatePolicy::verifyEd25519Digest(key, digest, signature), verifies);
    }
};

QTEST_APPLESS_MAIN(tst_UpdatePolicy)
#include "tst_UpdatePolicy.moc"
