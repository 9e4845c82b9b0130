#include "testsupport/QmlTestSetup.h"

#include "app/ProgramOwnership.h"
#include "app/SettingsController.h"

#include <QGuiApplication>
#include <QPalette>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(QuorinPlugin)

namespace quorin::test {

QmlTestSetup::QmlTestSetup() = default;

QmlTestSetup::~QmlTestSetup()
{
    QuizController::setDefaultConfigurationForTests({});
}

void QmlTestSetup::setPaletteWindowColor(const QColor &color)
{
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Window, color);
    QGuiApplication::setPalette(palette);
}

void QmlTestSetup::applicationAvailable()
{
    // Where the stores and data folders lie, as the start-up decides it.
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));
    QuizController::setDefaultConfigurationForTests([this] { return quizControllerConfiguration(); });
    registerControllers();
    qmlRegisterSingletonInstance("Quorin.Testing", 1, 0, "TestSetup", this);
    QCoreApplication::instance()->installEventFilter(this);
}

void QmlTestSetup::qmlEngineAvailable(QQmlEngine *engine)
{
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    m_engines.append(engine);
}

bool QmlTestSetup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::LanguageChange) {
        for (const QPointer<QQmlEngine> &engine : std::as_const(m_engines)) {
            if (engine)
                engine->retranslate();
        }
    }
    return QObject::eventFilter(watched, event);
}

void QmlTestSetup::registerControllers()
{
    // The process-wide controller, never deleted by an engine: each test file has an engine of its own.
    qmlRegisterSingletonType<SettingsController>("Quorin.Controllers", 1, 0, "SettingsController",
                                                 [](QQmlEngine *, QJSEngine *) -> QObject * {
                                                     return ownedByProgram(SettingsController::instance());
                                                 });
}

QuizController::Configuration QmlTestSetup::quizControllerConfiguration()
{
    QuizController::Configuration configuration;
    configuration.userId = [] { return QString(); };
    configuration.currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
    return configuration;
}

} // namespace quorin::test
