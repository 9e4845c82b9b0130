#include "net/CredentialStore.h"
#include "testsupport/ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

// The real Secret Service adapter against a private gnome-keyring-daemon. The wrapper runs this
// program before and after restarting the daemon (QUORIN_SECRET_SERVICE_PHASE); the unreachable
// bus case runs in a child process, since a process keeps its bus connection once made.

namespace {

const QString PhaseVariable = QStringLiteral("QUORIN_SECRET_SERVICE_PHASE");
const QString ChildVariable = QStringLiteral("QUORIN_SECRET_SERVICE_CHILD");
const QString PersistedKey = QStringLiteral("quorin-test/persisted");
const QString PersistedValue = QStringLiteral(u"قيمة محفوظة على القرص");

} // namespace

class tst_SecretServiceKeychain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void missingKeyReadsEmptyWithoutError()
    {
        const auto store = CredentialStore::createNative();
        QCOMPARE(store->read(QStringLiteral("quorin-test/never-written")), QString());
        QCOMPARE(store->errorString(), QString());
    }

    void secondWriteReplacesTheFirst()
    {
        const auto store = CredentialStore::createNative();
        QVERIFY2(store->write(QStringLiteral("quorin-test/token"), QStringLiteral("first")),
                 qPrintable(store->errorString()));
        QVERIFY2(store->write(QStringLiteral("quorin-test/token"), QStringLiteral("second")),
                 qPrintable(store->errorString()));
        QCOMPARE(store->read(QStringLiteral("quorin-test/token")), QStringLiteral("second"));
        QCOMPARE(store->errorString(), QString());
        // Another store sees the same item.
        QCOMPARE(CredentialStore::createNative()->read(QStringLiteral("quorin-test/token")),
                 QStringLiteral("second"));
    }

    void removingTwiceSucceedsBothTimes()
    {
        const auto store = CredentialStore::createNative();
        QVERIFY2(store->write(QStringLiteral("quorin-test/removed"), QStringLiteral("value")),
                 qPrintable(store->errorString()));
        QVERIFY2(store->remove(QStringLiteral("quorin-test/removed")), qPrintable(store->errorString()));
        QCOMPARE(store->read(QStringLiteral("quorin-test/removed")), QString());
        QVERIFY2(store->remove(QStringLiteral("quorin-test/removed")), qPrintable(store->errorString()));
        QCOMPARE(store->errorString(), QString());
    }

    void nonAsciiValueRoundTrips()
    {
        const auto store = CredentialStore::createNative();
        QVERIFY2(store->write(PersistedKey, PersistedValue), qPrintable(store->errorString()));
        QCOMPARE(store->read(PersistedKey), PersistedValue);
    }

    void unreachableBusIsAFailureNotAnAbsence()
    {
        const auto child = quorin::test::ChildProcess::runSelf(
            {{ChildVariable, QStringLiteral("unreachable-bus")},
             {QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
              QStringLiteral("unix:path=%1/no-bus-here").arg(QDir::tempPath())}});
        QVERIFY2(child.succeeded, child.output.constData());
    }
};

// Runs in a child process whose session bus address leads nowhere.
class tst_UnreachableSecretService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readAndWriteFail()
    {
        const auto store = CredentialStore::createNative();
        QCOMPARE(store->read(QStringLiteral("quorin-test/token")), QString());
        QVERIFY(!store->errorString().isEmpty());
        QVERIFY(!store->write(QStringLiteral("quorin-test/token"), QStringLiteral("value")));
        QVERIFY(!store->errorString().isEmpty());
        QVERIFY(!store->remove(QStringLiteral("quorin-test/token")));
        QVERIFY(!store->errorString().isEmpty());
    }
};

class tst_SecretServiceKeychainAfterRestart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valueWrittenBeforeTheRestartIsOnDisk()
    {
        const auto store = CredentialStore::createNative();
        QCOMPARE(store->read(PersistedKey), PersistedValue);
        QCOMPARE(store->errorString(), QString());
        QVERIFY2(store->remove(PersistedKey), qPrintable(store->errorString()));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariable(ChildVariable.toLatin1()) == QLatin1String("unreachable-bus")) {
        tst_UnreachableSecretService test;
        return QTest::qExec(&test, argc, argv);
    }
    const QString phase = qEnvironmentVariable(PhaseVariable.toLatin1());
    if (phase == QLatin1String("before-restart")) {
        tst_SecretServiceKeychain test;
        return QTest::qExec(&test, argc, argv);
    }
    if (phase == QLatin1String("after-restart")) {
        tst_SecretServiceKeychainAfterRestart test;
        return QTest::qExec(&test, argc, argv);
    }
    qCritical("Run this test through testsupport/with-secret-service; it needs a private Secret Service.");
    return 1;
}

#include "tst_SecretServiceKeychain.moc"
