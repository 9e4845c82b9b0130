// The main program of a Qt Quick test that needs nothing beyond the shared set-up; the test's
// name comes from its build target.
#include "testsupport/QmlTestSetup.h"

#include <QtQuickTest>

int main(int argc, char **argv)
{
    QTEST_SET_MAIN_SOURCE_PATH
    quorin::test::QmlTestSetup setup;
    return quick_test_main_with_setup(argc, argv, QUORIN_QML_TEST_NAME, QUICK_TEST_SOURCE_DIR, &setup);
}
