// Sends one request through the process-wide NetworkManager, signed in from the keychain, and
// quits with the answer. Before that it asks a QML engine for the "NetworkManager" singleton and
// destroys the engine. The manager is destroyed at process exit, after the application object,
// as in the client. Prints "qml_sees_instance=<bool>" and "answered=<id>"; exits 0 when the
// request succeeded, 1 otherwise.
#include "app/Endpoints.h"
#include "app/startup/ControllerRegistration.h"
#include "net/NetworkManager.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/JwtMaker.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <cstdio>

namespace {

bool qmlSeesTheInstance()
{
    QQmlEngine engine;
    const int type = qmlTypeId("Quorin.Controllers", 1, 0, "NetworkManager");
    return engine.singletonInstance<NetworkManager *>(type) == NetworkManager::instance();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    quorin::Endpoints::instance().installCertificateAuthority();
    quorin::test::InMemoryKeychain keychain;
    keychain.setValue(QStringLiteral("accessToken"),
                      QString::fromLatin1(quorin::test::JwtMaker::expiringIn(3600)));
    keychain.setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-1"));
    keychain.installAsNative();
    quorin::registerControllers();

    std::printf("qml_sees_instance=%s\n", qmlSeesTheInstance() ? "true" : "false");
    NetworkManager::instance()->sendRequestDetailed(
        NetworkManager::HttpMethod::Get, QStringLiteral("users/me"), {},
        [](const QJsonDocument &document, const NetworkFailure &failure) {
            const bool answered = failure.failure.code.isEmpty();
            if (answered)
                std::printf("answered=%s\n",
                            qPrintable(document.object().value(QStringLiteral("id")).toString()));
            QCoreApplication::exit(answered ? 0 : 1);
        });
    return QCoreApplication::exec();
}
