#include "app/Endpoints.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(QuorinPlugin)

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    quorin::Endpoints::instance().installCertificateAuthority();

    QQmlApplicationEngine engine;
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &application,
        [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml")));
    return QGuiApplication::exec();
}
