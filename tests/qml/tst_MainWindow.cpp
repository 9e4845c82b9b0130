#include "app/startup/ControllerRegistration.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/QtMessageRecorder.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

Q_IMPORT_QML_PLUGIN(QuorinPlugin)

// The root document with the controllers the client registers: it opens its window and puts the
// sign-in page on its page stack, and nothing of the interface prints a warning on the way.
class tst_MainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        // Nobody is signed in, and nothing reaches for a real keychain.
        m_keychain.installAsNative();
        quorin::registerControllers();
    }

    void opensOnTheSignInPage()
    {
        quorin::test::QtMessageRecorder recorder;
        {
            QQmlApplicationEngine engine;
            engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
            engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml")));
            QCOMPARE(engine.rootObjects().size(), 1);
            auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
            QVERIFY(window);
            QCOMPARE(window->title(), QStringLiteral("Quorin Desktop"));
            QVERIFY(QTest::qWaitForWindowExposed(window));

            auto *loader = window->findChild<QQuickItem *>(QStringLiteral("pageStackLoader"));
            QVERIFY(loader);
            QTRY_VERIFY_WITH_TIMEOUT(loader->property("item").value<QQuickItem *>(), 10000);
            auto *stack = loader->findChild<QQuickItem *>(QStringLiteral("stackView"));
            QVERIFY(stack);
            QTRY_COMPARE(stack->property("currentItem").value<QQuickItem *>()->objectName(),
                         QStringLiteral("loginPage"));
            QTRY_VERIFY(!window->findChild<QQuickItem *>(QStringLiteral("splash"))->isVisible());
        }
        QStringList interfaceWarnings;
        for (const QString &message : recorder.messages(QtWarningMsg)) {
            if (message.contains(QStringLiteral("qrc:/qt/qml/")))
                interfaceWarnings.append(message);
        }
        QVERIFY2(interfaceWarnings.isEmpty(), qPrintable(interfaceWarnings.join(QLatin1Char('\n'))));
    }

private:
    quorin::test::InMemoryKeychain m_keychain;
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
