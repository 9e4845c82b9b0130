#include "app/startup/ControllerRegistration.h"
#include "testsupport/InMemoryKeychain.h"

#include <QCoreApplication>
#include <QObject>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // As start-up does: the registrations are made once, before any engine exists.
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        // The process-wide REST client reads its tokens; never from a real keychain here.
        m_keychain.installAsNative();
        (void)quorin::registerControllers();
    }

private:
    quorin::test::InMemoryKeychain m_keychain;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_QmlControllerRegistration, Setup)
#include "tst_QmlControllerRegistration.moc"
