#include "app/PreferencesStore.h"
#include "tests/update/ReleaseAnswers.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/QmlTestSetup.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QQmlEngine>
#include <QSslConfiguration>
#include <QtQuickTest>
#include <memory>

using quorin::test::FixtureServer;

namespace {

UpdateController *registeredController = nullptr;

} // namespace

// The release service the QML cases talk to, and how they choose its answer.
class ReleaseService : public QObject
{
    Q_OBJECT

public:
    explicit ReleaseService(FixtureServer &server)
        : m_server(server)
    {
    }

    // "optional", "required" or "nothing".
    Q_INVOKABLE void answer(const QString &kind)
    {
        const QByteArray body =
            kind == QLatin1String("nothing")
                ? quorin::test::ReleaseAnswers::nothingOffered()
                : quorin::test::ReleaseAnswers::encodedOffer(kind == QLatin1String("required"));
        m_server.setResponse(QStringLiteral("/v2/releases/latest"), FixtureServer::Response::json(body));
    }

private:
    FixtureServer &m_server;
};

// Registers a real controller, pointed at a fixture release service, under the name and module the
// interface imports, the way start-up registers the process-wide one; the service itself is
// "ReleaseService" of "Quorin.Testing".
class Setup : public quorin::test::QmlTestSetup
{
    Q_OBJECT

public Q_SLOTS:
    void cleanupTestCase()
    {
        registeredController = nullptr;
        m_controller.reset();
        m_service.reset();
        m_server.reset();
    }

protected:
    void registerControllers() override
    {
        QmlTestSetup::registerControllers();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration());
        m_keychain.installAsNative();
        quorin::PreferencesStore::open()->setValue(QStringLiteral("installationUuid"),
                                                   QStringLiteral("3f2b8c1e-5d4a-4e6f-9b7c-0a1d2e3f4a5b"));
        m_server = std::make_unique<FixtureServer>();
        if (!m_server->listen())
            qFatal("The fixture release service cannot listen");
        m_service = std::make_unique<ReleaseService>(*m_server);
        qmlRegisterSingletonInstance("Quorin.Testing", 1, 0, "ReleaseService", m_service.get());

        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = m_server->url();
        m_controller = std::make_unique<UpdateController>(std::move(configuration));
        registeredController = m_controller.get();
        qmlRegisterSingletonType<UpdateController>(
            "Quorin.Controllers", 1, 0, "UpdateController", [](QQmlEngine *, QJSEngine *) -> QObject * {
                QJSEngine::setObjectOwnership(registeredController, QJSEngine::CppOwnership);
                return registeredController;
            });
    }

private:
    quorin::test::InMemoryKeychain m_keychain;
    std::unique_ptr<FixtureServer> m_server;
    std::unique_ptr<ReleaseService> m_service;
    std::unique_ptr<UpdateController> m_controller;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_UpdateControllerQml, Setup)
#include "tst_UpdateControllerQml.moc"
