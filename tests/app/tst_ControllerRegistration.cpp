#include "app/SettingsController.h"
#include "app/UiPerformanceTracker.h"
#include "app/startup/ControllerRegistration.h"
#include "downloads/DownloadManager.h"
#include "learning/CourseController.h"
#include "learning/HistoryManager.h"
#include "learning/LearningProgressController.h"
#include "learning/NotificationsController.h"
#include "net/NetworkManager.h"
#include "net/PhoneNumberFormatter.h"
#include "net/ProfileController.h"
#include "net/ResetPasswordController.h"
#include "net/SignupController.h"
#include "net/UserIdentityController.h"
#include "pdf/PdfController.h"
#include "playback/HeadphoneMonitor.h"
#include "playback/StreamController.h"
#include "quiz/QuizController.h"
#include "testsupport/InMemoryKeychain.h"
#include "update/ChangelogController.h"
#include "update/UpdateController.h"

#include <QGuiApplication>
#include <QHash>
#include <QMetaClassInfo>
#include <QPointer>
#include <QQmlEngine>
#include <QTest>
#include <memory>

using quorin::RegisteredController;

namespace {

enum class Kind { ProcessWide, PerEngine, Creatable };

struct Expected
{
    const char *qmlName;
    const QMetaObject *metaObject;
    Kind kind;
};

// The module's registrations, in the order they are made.
const QList<Expected> &expectedRegistrations()
{
    static const QList<Expected> table = {
        {"NetworkManager", &NetworkManager::staticMetaObject, Kind::ProcessWide},
        {"SignupController", &SignupController::staticMetaObject, Kind::ProcessWide},
        {"ResetPasswordController", &ResetPasswordController::staticMetaObject, Kind::ProcessWide},
        {"SettingsController", &SettingsController::staticMetaObject, Kind::ProcessWide},
        {"NotificationsController", &NotificationsController::staticMetaObject, Kind::PerEngine},
        {"ProfileController", &ProfileController::staticMetaObject, Kind::Creatable},
        {"CourseController", &CourseController::staticMetaObject, Kind::Creatable},
        {"QuizController", &QuizController::staticMetaObject, Kind::Creatable},
        {"StreamController", &StreamController::staticMetaObject, Kind::ProcessWide},
        {"DownloadManager", &DownloadManager::staticMetaObject, Kind::ProcessWide},
        {"PdfController", &PdfController::staticMetaObject, Kind::ProcessWide},
        {"HistoryManager", &HistoryManager::staticMetaObject, Kind::ProcessWide},
        {"UserIdentity", &UserIdentityController::staticMetaObject, Kind::ProcessWide},
        {"LearningProgress", &LearningProgressController::staticMetaObject, Kind::ProcessWide},
        {"UpdateController", &UpdateController::staticMetaObject, Kind::ProcessWide},
        {"ChangelogController", &ChangelogController::staticMetaObject, Kind::ProcessWide},
        {"PhoneNumberFormatter", &PhoneNumberFormatter::staticMetaObject, Kind::PerEngine},
        {"HeadphoneMonitor", &HeadphoneMonitor::staticMetaObject, Kind::ProcessWide},
        {"UiPerformance", &UiPerformanceTracker::staticMetaObject, Kind::ProcessWide},
    };
    return table;
}

// What each process-wide registration must hand out: the object the program itself uses.
QHash<QString, QObject *> processWideObjects()
{
    return {
        {QStringLiteral("NetworkManager"), NetworkManager::instance()},
        {QStringLiteral("SignupController"), SignupController::instance()},
        {QStringLiteral("ResetPasswordController"), ResetPasswordController::instance()},
        {QStringLiteral("SettingsController"), SettingsController::instance()},
        {QStringLiteral("StreamController"), StreamController::instance()},
        {QStringLiteral("DownloadManager"), DownloadManager::instance()},
        {QStringLiteral("PdfController"), PdfController::instance()},
        {QStringLiteral("HistoryManager"), HistoryManager::instance()},
        {QStringLiteral("UserIdentity"), UserIdentityController::instance()},
        {QStringLiteral("LearningProgress"), LearningProgressController::instance()},
        {QStringLiteral("UpdateController"), UpdateController::instance()},
        {QStringLiteral("ChangelogController"), ChangelogController::instance()},
        {QStringLiteral("HeadphoneMonitor"), HeadphoneMonitor::instance()},
        {QStringLiteral("UiPerformance"), UiPerformanceTracker::instance()},
    };
}

QString classInfo(const QMetaObject *metaObject, const char *name)
{
    const int index = metaObject->indexOfClassInfo(name);
    return index < 0 ? QString() : QString::fromLatin1(metaObject->classInfo(index).value());
}

} // namespace

class tst_ControllerRegistration : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    QList<RegisteredController> m_registered;
    QHash<QString, int> m_typeIds;

    void addRows(Kind kind)
    {
        QTest::addColumn<int>("typeId");
        QTest::addColumn<const QMetaObject *>("metaObject");
        for (const Expected &expected : expectedRegistrations()) {
            if (expected.kind == kind)
                QTest::newRow(expected.qmlName)
                    << m_typeIds.value(QString::fromLatin1(expected.qmlName), -1) << expected.metaObject;
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        // The process-wide REST client reads its tokens; never from a real keychain here.
        m_keychain.installAsNative();
        m_registered = quorin::registerControllers();
        for (const RegisteredController &controller : std::as_const(m_registered))
            m_typeIds.insert(controller.qmlName, controller.typeId);
    }

    void registrationsAreMadeInOrderUnderTheModule()
    {
        QStringList names;
        for (const RegisteredController &controller : std::as_const(m_registered))
            names.append(controller.qmlName);
        QStringList expectedNames;
        for (const Expected &expected : expectedRegistrations())
            expectedNames.append(QString::fromLatin1(expected.qmlName));
        QCOMPARE(names, expectedNames);

        int previous = -1;
        for (const RegisteredController &controller : std::as_const(m_registered)) {
            QVERIFY2(controller.typeId > previous, qPrintable(controller.qmlName));
            QCOMPARE(qmlTypeId("Quorin.Controllers", 1, 0, qPrintable(controller.qmlName)),
                     controller.typeId);
            previous = controller.typeId;
        }
    }

    void classInformationAgreesWithTheRegistration_data()
    {
        QTest::addColumn<const QMetaObject *>("metaObject");
        QTest::addColumn<QString>("qmlName");
        QTest::addColumn<bool>("singleton");
        for (const Expected &expected : expectedRegistrations())
            QTest::newRow(expected.qmlName) << expected.metaObject << QString::fromLatin1(expected.qmlName)
                                            << (expected.kind != Kind::Creatable);
    }

    void classInformationAgreesWithTheRegistration()
    {
        QFETCH(const QMetaObject *, metaObject);
        QFETCH(QString, qmlName);
        QFETCH(bool, singleton);
        QCOMPARE(classInfo(metaObject, "QML.Element"), qmlName);
        QCOMPARE(classInfo(metaObject, "QML.Singleton"), singleton ? QStringLiteral("true") : QString());
    }

    void processWideSingletonsAreTheProgramsOwnObjects_data() { addRows(Kind::ProcessWide); }

    void processWideSingletonsAreTheProgramsOwnObjects()
    {
        QFETCH(int, typeId);
        QFETCH(const QMetaObject *, metaObject);
        QObject *const programs = processWideObjects().value(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(programs);
        QCOMPARE(programs->metaObject(), metaObject);

        auto first = std::make_unique<QQmlEngine>();
        QObject *const seen = first->singletonInstance<QObject *>(typeId);
        QCOMPARE(seen, programs);
        QCOMPARE(QJSEngine::objectOwnership(seen), QJSEngine::CppOwnership);
        QQmlEngine second;
        QCOMPARE(second.singletonInstance<QObject *>(typeId), programs);

        const QPointer<QObject> survivor(seen);
        first.reset();
        QVERIFY(!survivor.isNull());
        QCOMPARE(QJSEngine::objectOwnership(survivor), QJSEngine::CppOwnership);
    }

    void perEngineSingletonsLiveAndDieWithTheirEngine_data() { addRows(Kind::PerEngine); }

    void perEngineSingletonsLiveAndDieWithTheirEngine()
    {
        QFETCH(int, typeId);
        QFETCH(const QMetaObject *, metaObject);

        auto first = std::make_unique<QQmlEngine>();
        const QPointer<QObject> ofFirst = first->singletonInstance<QObject *>(typeId);
        QVERIFY(ofFirst);
        QCOMPARE(ofFirst->metaObject(), metaObject);
        QCOMPARE(ofFirst->parent(), nullptr);
        QCOMPARE(first->singletonInstance<QObject *>(typeId), ofFirst.data());

        QQmlEngine second;
        const QPointer<QObject> ofSecond = second.singletonInstance<QObject *>(typeId);
        QVERIFY(ofSecond);
        QVERIFY(ofSecond != ofFirst);

        first.reset();
        QVERIFY(ofFirst.isNull());
        QVERIFY(!ofSecond.isNull());
    }

    void destroyingAnEngineLeavesEveryProcessWideController()
    {
        auto engine = std::make_unique<QQmlEngine>();
        QList<QPointer<QObject>> seen;
        for (const Expected &expected : expectedRegistrations()) {
            if (expected.kind == Kind::ProcessWide)
                seen.append(engine->singletonInstance<QObject *>(m_typeIds.value(expected.qmlName)));
        }
        engine.reset();
        const QList<QObject *> programs = processWideObjects().values();
        QCOMPARE(seen.size(), programs.size());
        for (const QPointer<QObject> &controller : std::as_const(seen)) {
            QVERIFY(!controller.isNull());
            QVERIFY(programs.contains(controller.data()));
        }
    }

    void pointerAndListTypesAreKnown_data()
    {
        QTest::addColumn<QByteArray>("typeName");
        QTest::newRow("singleton") << QByteArray("NetworkManager*");
        QTest::newRow("per-engine singleton") << QByteArray("PhoneNumberFormatter*");
        QTest::newRow("creatable") << QByteArray("CourseController*");
        QTest::newRow("creatable list") << QByteArray("QQmlListProperty<CourseController>");
        QTest::newRow("another creatable list") << QByteArray("QQmlListProperty<QuizController>");
    }

    void pointerAndListTypesAreKnown()
    {
        QFETCH(QByteArray, typeName);
        QVERIFY(QMetaType::fromName(typeName).isValid());
    }
};

QTEST_MAIN(tst_ControllerRegistration)
#include "tst_ControllerRegistration.moc"
