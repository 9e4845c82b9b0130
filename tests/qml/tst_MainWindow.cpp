#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>
#include <QQuickWindow>
#include <QTest>

Q_IMPORT_QML_PLUGIN(QuorinPlugin)

class tst_MainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensThePlaceholderWindow()
    {
        QQmlApplicationEngine engine;
        engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml")));
        QCOMPARE(engine.rootObjects().size(), 1);
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        QVERIFY(window);
        QCOMPARE(window->title(), QStringLiteral("Quorin Desktop"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
