// The main program of a Qt Quick test of the settings panes, on SettingsPaneTestSetup; the test's
// name comes from its build target.
#include "testsupport/SettingsPaneTestSetup.h"

#include <QtQuickTest>

int main(int argc, char **argv)
{
    QTEST_SET_MAIN_SOURCE_PATH
    quorin::test::SettingsPaneTestSetup setup;
    return quick_test_main_with_setup(argc, argv, QUORIN_QML_TEST_NAME, QUICK_TEST_SOURCE_DIR, &setup);
}
