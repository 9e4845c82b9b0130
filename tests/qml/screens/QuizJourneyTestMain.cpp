// The main program of the quiz page's journey on the sample platform.
#include "tests/qml/screens/QuizJourneyTestSetup.h"

#include <QtQuickTest>

int main(int argc, char **argv)
{
    QTEST_SET_MAIN_SOURCE_PATH
    quorin::test::QuizJourneyTestSetup setup;
    return quick_test_main_with_setup(argc, argv, QUORIN_QML_TEST_NAME, QUICK_TEST_SOURCE_DIR, &setup);
}
