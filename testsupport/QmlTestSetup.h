#pragma once

#include "quiz/QuizController.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>

class QQmlEngine;

namespace quorin::test {

// The shared set-up of the Qt Quick tests, for QUICK_TEST_MAIN_WITH_SETUP: the interface module
// "Quorin" linked in as the application links it, the import path "qrc:/qt/qml", the application's
// identity, and the real controllers the documents under test bind to, registered under
// "Quorin.Controllers" as the start-up registers them. Tests reach the set-up itself as the
// singleton "TestSetup" of "Quorin.Testing".
//
// A test that needs more controllers subclasses it, overrides registerControllers() (calling the
// base first) and names the subclass in its own QUICK_TEST_MAIN_WITH_SETUP.
class QmlTestSetup : public QObject
{
    Q_OBJECT

public:
    QmlTestSetup();
    ~QmlTestSetup() override;

    // Sets the application palette's window colour, as a platform does when its appearance
    // switches between light and dark.
    Q_INVOKABLE void setPaletteWindowColor(const QColor &color);

public Q_SLOTS:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);

protected:
    // A language switch retranslates the engines' bindings, as it does in the application's engine.
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Called once, after the application object exists and before the first engine. The base
    // registers SettingsController over the test's own preferences store.
    virtual void registerControllers();
    // What every QuizController a document creates is built from. The base gives no REST client
    // (such a controller sends nothing), no signed-in user, the real clock and the page's
    // intervals, so no document under test reaches the process-wide client, identity or keychain.
    // A test of the quiz page returns a client over its own fixture server.
    virtual QuizController::Configuration quizControllerConfiguration();

private:
    QList<QPointer<QQmlEngine>> m_engines;
};

} // namespace quorin::test
