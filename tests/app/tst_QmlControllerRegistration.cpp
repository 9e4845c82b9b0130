#include "app/startup/ControllerRegistration.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/QmlTestSetup.h"

#include <QtQuickTest>

// The shared set-up, with every controller registered as start-up registers them.
class RegistrationSetup : public quorin::test::QmlTestSetup
{
    Q_OBJECT

protected:
    void registerControllers() override
    {
        // The process-wide REST client reads its tokens; never from a real keychain here.
        m_keychain.installAsNative();
        // The whole module, SettingsController included, so not the base's registration.
        (void)quorin::registerControllers();
    }

private:
    quorin::test::InMemoryKeychain m_keychain;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_QmlControllerRegistration, RegistrationSetup)
#include "tst_QmlControllerRegistration.moc"
