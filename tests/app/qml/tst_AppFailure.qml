import QtQuick
import QtTest

TestCase {
    id: testCase
    name: "AppFailure"

    property var received: null

    Connections {
        target: failureSource
        function onFailed(failure) {
            testCase.received = failure
        }
    }

    function init() {
        received = null
    }

    function test_readsASignalArgument() {
        failureSource.fail()
        verify(received !== null)
        compare(received.code, "MAINTENANCE")
        compare(received.userMessage, "Back in five minutes")
        compare(received.retryable, true)
        compare(received.category, "server")
        compare(received.severity, "critical")
        compare(received.httpStatus, 503)
    }

    function test_readsAProperty() {
        failureSource.fail()
        const failure = failureSource.failure
        compare(failure.code, "MAINTENANCE")
        compare(failure.userMessage, "Back in five minutes")
        compare(failure.retryable, true)
        compare(failure.supportRecommended, false)
        compare(failure.technicalDetails, "{\"error\":\"maintenance\",\"message\":\"Back in five minutes\"}")
    }

    function test_propertiesAreWritable() {
        failureSource.fail()
        // A write goes through the holder's property, so reading it back proves the C++ side changed.
        failureSource.failure.userMessage = "Edited"
        failureSource.failure.retryable = false
        failureSource.failure.httpStatus = 0
        compare(failureSource.failure.userMessage, "Edited")
        compare(failureSource.failure.retryable, false)
        compare(failureSource.failure.httpStatus, 0)
        compare(failureSource.failure.code, "MAINTENANCE")
    }
}
