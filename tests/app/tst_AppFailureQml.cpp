#include "app/AppFailure.h"

#include <QObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

// Hands QML a failure the way controllers do: as a signal argument and as a property value.
class FailureSource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(AppFailure failure READ failure WRITE setFailure NOTIFY failureChanged)

public:
    [[nodiscard]] AppFailure failure() const { return m_failure; }
    void setFailure(const AppFailure &failure)
    {
        m_failure = failure;
        Q_EMIT failureChanged();
    }

    Q_INVOKABLE void fail()
    {
        m_failure =
            AppFailure::fromResponse(503, QNetworkReply::ServiceUnavailableError,
                                     R"({"error":"maintenance","message":"Back in five minutes"})", {});
        Q_EMIT failureChanged();
        Q_EMIT failed(m_failure);
    }

Q_SIGNALS:
    void failed(const AppFailure &failure);
    void failureChanged();

private:
    AppFailure m_failure;
};

class Setup : public QObject
{
    Q_OBJECT

public:
    // Start-up registers the record before the application object exists; so does this test.
    Setup() { AppFailure::registerMetaType(); }

public Q_SLOTS:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("failureSource"), &m_source);
    }

private:
    FailureSource m_source;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_AppFailureQml, Setup)
#include "tst_AppFailureQml.moc"
