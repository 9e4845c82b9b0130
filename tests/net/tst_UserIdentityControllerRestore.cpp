// The identity restored when the process-wide controller is built. The controller is built once
// per process, so each case runs in a child process of its own; the child runs with Qt Test's
// signal dump on, so the parent can tell that construction emitted nothing.
#include "app/PreferencesStore.h"
#include "net/NetworkManager.h"
#include "net/UserIdentityController.h"
#include "tests/net/UserKeys.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/JwtMaker.h"

#include <QDateTime>
#include <QJsonObject>
#include <QTest>
#include <vector>

using quorin::test::InMemoryKeychain;
using quorin::test::profileCacheKey;
using quorin::test::watermarkPhoneItem;

namespace {

const char CaseVariable[] = "QUORIN_IDENTITY_RESTORE_CASE";

// What is stored before the controller is built, and what it must hold afterwards.
struct RestoreCase
{
    QString name{};
    QString tokenSubject{}; // empty: a token naming nobody
    bool signedIn = true;
    QString lastUserId{};
    QString storedPhone{};
    QByteArray cachedEnrollments{};
    bool phoneReadFails = false;

    QString userId{};
    QString phoneNumber{};
    QStringList courseIds{};
    QString fullName{};
    bool usingCachedProfile = false;
    QString lastUserIdAfter{};
    QString warning{};
};

std::vector<RestoreCase> restoreCases()
{
    const QByteArray cached = R"([{"courseId":"c-1"},{"courseId":"c-2"}])";
    std::vector<RestoreCase> cases;
    cases.push_back({.name = QStringLiteral("token names the user"),
                     .tokenSubject = QStringLiteral("u1"),
                     .lastUserId = QStringLiteral("someone-before"),
                     .storedPhone = QStringLiteral(" +201012345678 "),
                     .cachedEnrollments = cached,
                     .userId = QStringLiteral("u1"),
                     .phoneNumber = QStringLiteral("+201012345678"),
                     .courseIds = {QStringLiteral("c-1"), QStringLiteral("c-2")},
                     .fullName = QStringLiteral("Cached Name"),
                     .usingCachedProfile = true,
                     .lastUserIdAfter = QStringLiteral("u1")});
    cases.push_back({.name = QStringLiteral("signed out"),
                     .tokenSubject = QStringLiteral("u1"),
                     .signedIn = false,
                     .lastUserId = QStringLiteral("u1"),
                     .storedPhone = QStringLiteral("+201012345678"),
                     .cachedEnrollments = cached,
                     .lastUserIdAfter = QStringLiteral("u1")});
    cases.push_back({.name = QStringLiteral("token naming nobody"),
                     .lastUserId = QStringLiteral(" u2 "),
                     .storedPhone = QStringLiteral("+966512345678"),
                     .userId = QStringLiteral("u2"),
                     .phoneNumber = QStringLiteral("+966512345678"),
                     .fullName = QStringLiteral("Cached Name"),
                     .lastUserIdAfter = QStringLiteral("u2")});
    cases.push_back({.name = QStringLiteral("token naming nobody, no owner stored"),
                     .storedPhone = QStringLiteral("+966512345678")});
    cases.push_back({.name = QStringLiteral("stored phone too short"),
                     .tokenSubject = QStringLiteral("u1"),
                     .storedPhone = QStringLiteral("1234"),
                     .userId = QStringLiteral("u1"),
                     .fullName = QStringLiteral("Cached Name"),
                     .lastUserIdAfter = QStringLiteral("u1")});
    cases.push_back({.name = QStringLiteral("damaged cache"),
                     .tokenSubject = QStringLiteral("u1"),
                     .cachedEnrollments = "{\"courseId\":",
                     .userId = QStringLiteral("u1"),
                     .fullName = QStringLiteral("Cached Name"),
                     .lastUserIdAfter = QStringLiteral("u1")});
    cases.push_back({.name = QStringLiteral("phone read fails"),
                     .tokenSubject = QStringLiteral("u1"),
                     .storedPhone = QStringLiteral("+201012345678"),
                     .cachedEnrollments = cached,
                     .phoneReadFails = true,
                     .userId = QStringLiteral("u1"),
                     .courseIds = {QStringLiteral("c-1"), QStringLiteral("c-2")},
                     .fullName = QStringLiteral("Cached Name"),
                     .usingCachedProfile = true,
                     .lastUserIdAfter = QStringLiteral("u1"),
                     .warning = QStringLiteral("Unable to read the watermark phone securely: vault locked")});
    return cases;
}

RestoreCase caseNamed(const QString &name)
{
    for (const RestoreCase &restoreCase : restoreCases()) {
        if (restoreCase.name == name)
            return restoreCase;
    }
    return {};
}

// Valid for an hour; an empty subject gives a token that names nobody.
QByteArray accessTokenNaming(const QString &subject)
{
    QJsonObject claims{{QStringLiteral("exp"), QDateTime::currentSecsSinceEpoch() + 3600}};
    if (!subject.isEmpty())
        claims.insert(QStringLiteral("sub"), subject);
    return quorin::test::JwtMaker::make(claims);
}

QStringList courseIdsOf(const QVariantList &enrollments)
{
    QStringList ids;
    for (const QVariant &enrollment : enrollments)
        ids.append(enrollment.toMap().value(QStringLiteral("courseId")).toString());
    return ids;
}

} // namespace

// Runs in the child: one case, named by the environment.
class tst_UserIdentityRestoreCase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void restoresTheStoredIdentity()
    {
        const RestoreCase restoreCase = caseNamed(qEnvironmentVariable(CaseVariable));
        QVERIFY(!restoreCase.name.isEmpty());
        InMemoryKeychain keychain;
        keychain.installAsNative();
        const auto settings = quorin::PreferencesStore::open();
        settings->clear();
        if (restoreCase.signedIn) {
            keychain.setValue(QStringLiteral("accessToken"),
                              QString::fromLatin1(accessTokenNaming(restoreCase.tokenSubject)));
            keychain.setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-1"));
        }
        if (!restoreCase.lastUserId.isEmpty())
            keychain.setValue(QStringLiteral("watermarkLastUserId"), restoreCase.lastUserId);
        // The stored phone and cache belong to the user the token names, else to the stored owner.
        const QString owner =
            restoreCase.tokenSubject.isEmpty() ? restoreCase.lastUserId.trimmed() : restoreCase.tokenSubject;
        if (!restoreCase.storedPhone.isEmpty())
            keychain.setValue(watermarkPhoneItem(owner), restoreCase.storedPhone);
        if (!restoreCase.cachedEnrollments.isEmpty())
            settings->setValue(profileCacheKey(owner, QStringLiteral("enrollments")),
                               restoreCase.cachedEnrollments);
        settings->setValue(profileCacheKey(owner, QStringLiteral("fullName")), QStringLiteral("Cached Name"));
        settings->sync();

        // The manager reads its tokens first; only then may the keychain start failing.
        QCOMPARE(NetworkManager::instance()->isAuthenticated(), restoreCase.signedIn);
        if (restoreCase.phoneReadFails)
            keychain.fail(InMemoryKeychain::Operation::Copy, QStringLiteral("vault locked"));
        if (!restoreCase.warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(restoreCase.warning));

        const UserIdentityController *identity = UserIdentityController::instance();

        QCOMPARE(identity->userId(), restoreCase.userId);
        QCOMPARE(identity->ready(), !restoreCase.userId.isEmpty());
        QCOMPARE(identity->phoneNumber(), restoreCase.phoneNumber);
        QCOMPARE(courseIdsOf(identity->enrollments()), restoreCase.courseIds);
        QCOMPARE(identity->fullName(), restoreCase.fullName);
        QCOMPARE(identity->usingCachedProfile(), restoreCase.usingCachedProfile);
        QCOMPARE(identity->profileState(), UserIdentityController::Idle);
        QVERIFY(!identity->loading());
        QCOMPARE(identity->profileErrorCode(), QString());
        QCOMPARE(identity->profileFailure(), AppFailure());
        keychain.clearFaults();
        QCOMPARE(keychain.value(QStringLiteral("watermarkLastUserId")).value_or(QString()),
                 restoreCase.lastUserIdAfter.isEmpty() ? restoreCase.lastUserId
                                                       : restoreCase.lastUserIdAfter);
    }
};

class tst_UserIdentityControllerRestore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void restoreAtConstruction_data()
    {
        QTest::addColumn<QString>("name");
        for (const RestoreCase &restoreCase : restoreCases())
            QTest::newRow(qPrintable(restoreCase.name)) << restoreCase.name;
    }

    void restoreAtConstruction()
    {
        QFETCH(QString, name);

        const auto child = quorin::test::ChildProcess::runSelf({{QString::fromLatin1(CaseVariable), name}});

        QVERIFY2(child.succeeded, child.output.constData());
        // Qt Test's signal dump names every signal the child saw; the controller's never appear.
        QVERIFY2(child.output.contains("Signal: "), child.output.constData());
        QVERIFY2(!child.output.contains("Signal: UserIdentityController"), child.output.constData());
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet(CaseVariable)) {
        tst_UserIdentityRestoreCase child;
        return QTest::qExec(&child,
                            QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("-vs")});
    }
    tst_UserIdentityControllerRestore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_UserIdentityControllerRestore.moc"
