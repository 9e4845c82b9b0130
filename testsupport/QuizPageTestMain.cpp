// The main program of a Qt Quick test of the quiz page, on QuizPageTestSetup; the test's name
// comes from its build target.
#include "testsupport/QuizPageTestSetup.h"

#include <QtQuickTest>

int main(int argc, char **argv)
{
    QTEST_SET_MAIN_SOURCE_PATH
    quorin::test::QuizPageTestSetup setup;
    return quick_test_main_with_setup(argc, argv, QUORIN_QML_TEST_NAME, QUICK_TEST_SOURCE_DIR, &setup);
}
