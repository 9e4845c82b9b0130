#include "app/Endpoints.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/JwtMaker.h"
#include "testsupport/LogLineParser.h"
#include "testsupport/ProcessSandbox.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <sys/stat.h>

using quorin::test::FixtureServer;
using quorin::test::LogLineParser;
using quorin::test::ProcessSandbox;

namespace {

const QString kQuorinFamily = QStringLiteral("IBM Plex Sans Arabic");
const QString kClientConfigRoute = QStringLiteral("/api/v1/desktop/client-config");
const QString kServedSupportLink = QStringLiteral("https://t.me/quorin_news");

QByteArray clientConfig()
{
    return QJsonDocument(QJsonObject{{QStringLiteral("telegramSupportUrl"), kServedSupportLink}})
        .toJson(QJsonDocument::Compact);
}

struct ProbeRun
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QMap<QString, QString> reports;
    QList<LogLineParser::Record> records;
};

QString startupDocument(const char *name)
{
    return QStringLiteral(QUORIN_STARTUP_QML_DIR "/") + QLatin1String(name);
}

// The first run picks its animation speed from the machine's processor count (slow machines
// start with reduced motion). Store the full speed, as a returning user's preferences hold it,
// so what a run reports does not depend on the machine the test runs on.
void storeFullAnimationSpeed(const ProcessSandbox &sandbox)
{
    QSettings preferences(sandbox.configHome() + QStringLiteral("/quorin/desktop.conf"),
                          QSettings::IniFormat);
    if (!preferences.contains(QStringLiteral("animationSpeedMultiplier")))
        preferences.setValue(QStringLiteral("animationSpeedMultiplier"), 1.0);
}

// The environment of a probe whose backend is the fixture server.
QProcessEnvironment backendEnvironment(const FixtureServer &backend)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QUORIN_API_BASE_URL"),
                       backend.url(QStringLiteral("/api/v1/")).toString());
    environment.insert(QStringLiteral("QUORIN_CA_FILE"), FixtureServer::certificateAuthorityFile());
    return environment;
}

// The event loop runs while the probe does, so a fixture server of the test can answer it.
ProbeRun runProbe(const ProcessSandbox &sandbox, const QString &root = {}, const QString &change = {},
                  const QStringList &arguments = {}, const QString &signedInUser = {},
                  const QProcessEnvironment &extra = {})
{
    QProcessEnvironment environment = sandbox.environment();
    environment.insert(QStringLiteral("QUORIN_PROBE_ROOT"), root);
    environment.insert(QStringLiteral("QUORIN_PROBE_CHANGE"), change);
    environment.insert(QStringLiteral("QUORIN_PROBE_SIGNED_IN_USER"), signedInUser);
    environment.insert(extra);
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(QUORIN_STARTUP_PROBE), arguments);

    ProbeRun run;
    run.finished = QTest::qWaitFor([&probe] { return probe.state() == QProcess::NotRunning; }, 120000);
    if (!run.finished) {
        probe.kill();
        probe.waitForFinished();
    }
    run.exitStatus = probe.exitStatus();
    run.exitCode = probe.exitCode();
    const QStringList lines = QString::fromLocal8Bit(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            run.reports.insert(line.left(equals), line.mid(equals + 1));
    }
    run.records = LogLineParser::parseFile(sandbox.dataHome() +
                                           QStringLiteral("/quorin/desktop/diagnostics/quorin.log"));
    return run;
}

// The permission bits of a file or folder in octal, or "missing".
QString modeOf(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return QStringLiteral("missing");
    return QString::number(status.st_mode & 07777, 8);
}

int indexOfEvent(const QList<LogLineParser::Record> &records, const QString &event, int from = 0)
{
    for (int index = from; index < records.size(); ++index) {
        if (records.at(index).event() == event)
            return index;
    }
    return -1;
}

// The events appear in this order, with any other records between them.
bool inOrder(const QList<LogLineParser::Record> &records, const QStringList &events)
{
    int next = 0;
    for (const QString &event : events) {
        const int found = indexOfEvent(records, event, next);
        if (found < 0)
            return false;
        next = found + 1;
    }
    return true;
}

QStringList eventNames(const QList<LogLineParser::Record> &records)
{
    QStringList names;
    for (const auto &record : records)
        names.append(record.event());
    return names;
}

} // namespace

class tst_StartupSequence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void normalRunQuitsCleanly()
    {
        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        storeFullAnimationSpeed(sandbox);
        const ProbeRun run = runProbe(sandbox);
        QVERIFY(run.finished);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);

        QCOMPARE(run.reports.value(QStringLiteral("root_is_window")), QStringLiteral("true"));
        QCOMPARE(run.reports.value(QStringLiteral("title")), QStringLiteral("Quorin Desktop"));
        QCOMPARE(run.reports.value(QStringLiteral("window_icon_set")), QStringLiteral("true"));
        QCOMPARE(run.reports.value(QStringLiteral("font_registered")), QStringLiteral("true"));
        QCOMPARE(run.reports.value(QStringLiteral("application_font")), kQuorinFamily);
        QCOMPARE(run.reports.value(QStringLiteral("organization")), QStringLiteral("quorin"));
        QCOMPARE(run.reports.value(QStringLiteral("organization_domain")),
                 quorin::Endpoints::instance().websiteUrl().host());
        QCOMPARE(run.reports.value(QStringLiteral("application")), QStringLiteral("desktop"));
        QCOMPARE(run.reports.value(QStringLiteral("display_name")), QStringLiteral("Quorin Desktop"));
        // The project version CMake declares, and no other.
        QCOMPARE(run.reports.value(QStringLiteral("version")), QStringLiteral(QUORIN_EXPECTED_VERSION));
        // A sandbox with nothing stored is a fresh installation.
        QCOMPARE(run.reports.value(QStringLiteral("fresh_installation")), QStringLiteral("true"));
        const QStringList importPaths =
            run.reports.value(QStringLiteral("import_paths")).split(QLatin1Char(','));
        QVERIFY(importPaths.contains(QStringLiteral("qrc:/")));
        QVERIFY(importPaths.contains(QStringLiteral("qrc:/qt/qml")));
        QVERIFY(run.reports.contains(QStringLiteral("identity_user")));
        QCOMPARE(run.reports.value(QStringLiteral("progress_user")),
                 run.reports.value(QStringLiteral("identity_user")));
        QCOMPARE(run.reports.value(QStringLiteral("ui_language")), QStringLiteral("en"));
        QCOMPARE(run.reports.value(QStringLiteral("reduced_motion")), QStringLiteral("false"));
        QCOMPARE(run.reports.value(QStringLiteral("controllers_shared")), QStringLiteral("true"));
        // 1, Checking: the first release check has begun and waits for its answer.
        QCOMPARE(run.reports.value(QStringLiteral("update_state")), QStringLiteral("1"));

        const auto &records = run.records;
        QVERIFY2(inOrder(records, {QStringLiteral("diagnostics_started"), QStringLiteral("startup"),
                                   QStringLiteral("root_created"), QStringLiteral("shutdown")}),
                 qPrintable(eventNames(records).join(QLatin1Char(' '))));
        QCOMPARE(records.last().event(), QStringLiteral("diagnostics_stopping"));
        const auto startup = records.at(indexOfEvent(records, QStringLiteral("startup")));
        QCOMPARE(startup.value(QStringLiteral("category")), QStringLiteral("app"));
        QCOMPARE(startup.value(QStringLiteral("qt_version")), QString::fromLatin1(qVersion()));
        QCOMPARE(startup.value(QStringLiteral("platform")), QStringLiteral("offscreen"));
        const auto rootCreated = records.at(indexOfEvent(records, QStringLiteral("root_created")));
        QCOMPARE(rootCreated.value(QStringLiteral("category")), QStringLiteral("qml"));
        QCOMPARE(rootCreated.value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(rootCreated.value(QStringLiteral("root_count")), QStringLiteral("1"));
        bool numeric = false;
        QVERIFY(rootCreated.value(QStringLiteral("duration_ms")).toLongLong(&numeric) >= 0 && numeric);
        QCOMPARE(indexOfEvent(records, QStringLiteral("root_creation_failed")), -1);
    }

    void aReturningUserIsHandedToTheProgressStore()
    {
        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        storeFullAnimationSpeed(sandbox);
        const QString file = sandbox.configHome() + QStringLiteral("/quorin/desktop.conf");
        const QVariantMap opened{{QStringLiteral("r_id"), QStringLiteral("r-1")},
                                 {QStringLiteral("title"), QStringLiteral("Lecture one")},
                                 {QStringLiteral("r_type"), QStringLiteral("VIDEO")},
                                 {QStringLiteral("url"), QStringLiteral("https://media.example/r-1.m3u8")},
                                 {QStringLiteral("positionMs"), qint64(0)},
                                 {QStringLiteral("watermarkEnabled"), true},
                                 {QStringLiteral("isShareable"), false},
                                 {QStringLiteral("timestamp"), QStringLiteral("2024-05-01T10:00:00Z")}};
        {
            QSettings store(file, QSettings::IniFormat);
            store.setValue(QStringLiteral("recentHistory"),
                           QVariantList{QVariantMap{{QStringLiteral("r_id"), QStringLiteral("h-1")}}});
            store.setValue(QStringLiteral("learningActivity/u-42"), QVariantList{opened});
        }

        const ProbeRun run = runProbe(sandbox, {}, QStringLiteral("progress"), {}, QStringLiteral("u-42"));

        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.reports.value(QStringLiteral("identity_user")), QStringLiteral("u-42"));
        QCOMPARE(run.reports.value(QStringLiteral("progress_user")), QStringLiteral("u-42"));
        QCOMPARE(run.reports.value(QStringLiteral("progress_recent")), QStringLiteral("1"));
        const QSettings stored(file, QSettings::IniFormat);
        QVERIFY(!stored.contains(QStringLiteral("recentHistory")));
        // The checkpoint waited on a 10-second timer; the shutdown's flush wrote it.
        const QVariantList records = stored.value(QStringLiteral("learningActivity/u-42")).toList();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().toMap().value(QStringLiteral("positionMs")), QVariant(qint64(4242)));
    }

    // A stored session asks for the client configuration once, at start, and takes its link.
    void storedSessionFetchesTheClientConfigurationOnce()
    {
        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        FixtureServer backend;
        QVERIFY(backend.listen());
        backend.setResponse(kClientConfigRoute, FixtureServer::Response::json(clientConfig()));

        const ProbeRun run = runProbe(sandbox, {}, QStringLiteral("client-config"), {},
                                      QStringLiteral("u-42"), backendEnvironment(backend));

        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.reports.value(QStringLiteral("support_url")), kServedSupportLink);
        QCOMPARE(backend.requestCount(kClientConfigRoute), 1);
        const FixtureServer::Request asked = backend.requests(kClientConfigRoute).constFirst();
        QCOMPARE(asked.method, QByteArray("GET"));
        QVERIFY(asked.header("Authorization").startsWith("Bearer "));
    }

    // Signed out, the client opens on the sign-in page and asks nothing of the configuration
    // until a sign-in succeeds; then it asks once.
    void signInFetchesTheClientConfigurationOnce()
    {
        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        storeFullAnimationSpeed(sandbox);
        FixtureServer backend;
        QVERIFY(backend.listen());
        backend.setResponse(kClientConfigRoute, FixtureServer::Response::json(clientConfig()));
        const QJsonObject tokens{
            {QStringLiteral("accessToken"),
             QString::fromLatin1(quorin::test::JwtMaker::expiringIn(3600, QStringLiteral("u-7")))},
            {QStringLiteral("refreshToken"), QStringLiteral("refresh-7")}};
        backend.setResponse(
            QStringLiteral("/api/v1/auth/login"),
            FixtureServer::Response::json(QJsonDocument(tokens).toJson(QJsonDocument::Compact)));

        const ProbeRun run =
            runProbe(sandbox, {}, QStringLiteral("sign-in"), {}, {}, backendEnvironment(backend));

        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.reports.value(QStringLiteral("sign_in_page_shown")), QStringLiteral("true"));
        QCOMPARE(run.reports.value(QStringLiteral("signed_in")), QStringLiteral("true"));
        QCOMPARE(run.reports.value(QStringLiteral("support_url")), kServedSupportLink);
        QCOMPARE(backend.requestCount(kClientConfigRoute), 1);
        // Nothing before the sign-in: the page asked for the institutions alone.
        QStringList paths;
        for (const FixtureServer::Request &request : backend.requests())
            paths.append(QString::fromUtf8(request.path));
        QVERIFY2(paths.indexOf(QStringLiteral("/api/v1/auth/login")) <
                     paths.indexOf(QString(kClientConfigRoute)),
                 qPrintable(paths.join(QLatin1Char(' '))));
    }

    void secondRunIsNoFreshInstallation()
    {
        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        const ProbeRun first = runProbe(sandbox);
        QCOMPARE(first.reports.value(QStringLiteral("fresh_installation")), QStringLiteral("true"));
        const ProbeRun second = runProbe(sandbox);
        QVERIFY(second.finished);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.reports.value(QStringLiteral("fresh_installation")), QStringLiteral("false"));
        // The identity is settled before telemetry and the "startup" record.
        QVERIFY(
            inOrder(first.records, {QStringLiteral("diagnostics_started"),
                                    QStringLiteral("device_identity_resolved"), QStringLiteral("startup")}) ||
            inOrder(first.records, {QStringLiteral("diagnostics_started"),
                                    QStringLiteral("device_identity_fallback"), QStringLiteral("startup")}));
    }

    void preferencesStoreIsPrivateAfterAFirstRun_data()
    {
        QTest::addColumn<bool>("writtenByAnEarlierVersion");
        QTest::newRow("nothing stored yet") << false;
        // An earlier version left the store readable by everyone; the value stays, the modes go.
        QTest::newRow("world-readable store of an earlier version") << true;
    }

    void preferencesStoreIsPrivateAfterAFirstRun()
    {
        QFETCH(bool, writtenByAnEarlierVersion);

        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        const QString folder = sandbox.configHome() + QStringLiteral("/quorin");
        const QString file = folder + QStringLiteral("/desktop.conf");
        if (writtenByAnEarlierVersion) {
            QVERIFY(QDir().mkpath(folder));
            QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("language"), QStringLiteral("ar"));
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                      QFileDevice::ExeOther));
            QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadGroup | QFileDevice::ReadOther));
            QCOMPARE(modeOf(file), QStringLiteral("644"));
        }

        const ProbeRun run = runProbe(sandbox);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(modeOf(folder), QStringLiteral("700"));
        QCOMPARE(modeOf(file), QStringLiteral("600"));
        // The run wrote its first-run preferences through the store, and kept what was there.
        const QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("themeMode")).toString(), QStringLiteral("system"));
        QCOMPARE(run.reports.value(QStringLiteral("ui_language")),
                 writtenByAnEarlierVersion ? QStringLiteral("ar") : QStringLiteral("en"));
    }

    void settingsChangesReachTheRunningApplication_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("expected");
        QTest::newRow("language") << QString() << QStringLiteral("language")
                                  << QStringLiteral("ui_language_after") << QStringLiteral("ar");
        QTest::newRow("speed 0 with a window")
            << QString() << QStringLiteral("animation") << QStringLiteral("reduced_motion_at_zero")
            << QStringLiteral("true");
        QTest::newRow("speed 0.5 with a window")
            << QString() << QStringLiteral("animation") << QStringLiteral("reduced_motion_at_half")
            << QStringLiteral("false");
        QTest::newRow("speed 0 with an item root")
            << startupDocument("ItemRoot.qml") << QStringLiteral("animation")
            << QStringLiteral("reduced_motion_at_zero") << QStringLiteral("true");
        QTest::newRow("speed 0.5 with an item root")
            << startupDocument("ItemRoot.qml") << QStringLiteral("animation")
            << QStringLiteral("reduced_motion_at_half") << QStringLiteral("false");
    }

    void settingsChangesReachTheRunningApplication()
    {
        QFETCH(QString, root);
        QFETCH(QString, change);
        QFETCH(QString, report);
        QFETCH(QString, expected);

        ProcessSandbox sandbox;
        storeFullAnimationSpeed(sandbox);
        const ProbeRun run = runProbe(sandbox, root, change);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.reports.value(report), expected);
        QCOMPARE(run.reports.value(QStringLiteral("root_is_window")),
                 root.isEmpty() ? QStringLiteral("true") : QStringLiteral("false"));
        if (!root.isEmpty()) {
            QCOMPARE(run.reports.value(QStringLiteral("title")), QString());
            QCOMPARE(run.reports.value(QStringLiteral("reduced_motion")), QStringLiteral("false"));
        }
    }

    void brokenRootDocumentEndsTheProcess()
    {
        ProcessSandbox sandbox;
        const ProbeRun run = runProbe(sandbox, startupDocument("BrokenRoot.qml"));
        QVERIFY(run.finished);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 255);
        QVERIFY(!run.reports.contains(QStringLiteral("update_state")));

        const auto &records = run.records;
        QVERIFY2(inOrder(records, {QStringLiteral("root_created"), QStringLiteral("root_creation_failed"),
                                   QStringLiteral("shutdown")}),
                 qPrintable(eventNames(records).join(QLatin1Char(' '))));
        const auto rootCreated = records.at(indexOfEvent(records, QStringLiteral("root_created")));
        QCOMPARE(rootCreated.value(QStringLiteral("level")), QStringLiteral("critical"));
        QCOMPARE(rootCreated.value(QStringLiteral("root_count")), QStringLiteral("0"));
        const auto failures = LogLineParser::withEvent(records, QStringLiteral("root_creation_failed"));
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.first().value(QStringLiteral("level")), QStringLiteral("critical"));
        QCOMPARE(records.last().event(), QStringLiteral("diagnostics_stopping"));
    }

    void verificationOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("verifies");
        QTest::newRow("among other arguments")
            << QStringList{QStringLiteral("--another-option"), QStringLiteral("--verify-svg-assets")} << true;
        QTest::newRow("other letter case") << QStringList{QStringLiteral("--Verify-Svg-Assets")} << false;
    }

    void verificationOption()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, verifies);

        ProcessSandbox sandbox;
        const ProbeRun run = runProbe(sandbox, {}, {}, arguments);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.reports.isEmpty(), verifies);
        if (verifies)
            QCOMPARE(sandbox.files(), QStringList());
        else
            QCOMPARE(LogLineParser::withEvent(run.records, QStringLiteral("startup")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_StartupSequence)
#include "tst_StartupSequence.moc"
