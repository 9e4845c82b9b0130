import QtQuick
import QtTest
import Quorin.Controllers
import Quorin.Testing

TestCase {
    id: testCase
    name: "UpdateController"

    // What an interface binds to: every value follows its change signal.
    QtObject {
        id: view
        property int state: UpdateController.state
        property string version: UpdateController.availableVersion
        property real build: UpdateController.availableBuildNumber
        property string notes: UpdateController.releaseNotes
        property bool required: UpdateController.required
        property bool dismissed: UpdateController.dismissed
        property real graceSeconds: UpdateController.graceRemainingSeconds
        property string error: UpdateController.errorMessage
    }

    SignalSpy {
        id: candidateSpy
        target: UpdateController
        signalName: "candidateChanged"
    }

    SignalSpy {
        id: dismissedSpy
        target: UpdateController
        signalName: "dismissedChanged"
    }

    function init() {
        candidateSpy.clear()
        dismissedSpy.clear()
    }

    function checkAndWait(expectedState) {
        UpdateController.checkForUpdates()
        tryCompare(view, "state", expectedState, 10000)
    }

    function test_namesAndConstants() {
        compare(UpdateController.Idle, 0)
        compare(UpdateController.Checking, 1)
        compare(UpdateController.OfflineGrace, 6)
        compare(UpdateController.Required, 7)
        compare(UpdateController.Error, 8)
        compare(UpdateController.storeBuild, false)
        verify(/^linux\/[^\/]+\/direct\/deb$/.test(UpdateController.currentTarget), UpdateController.currentTarget)
        compare(UpdateController.progress, 0)
        compare(UpdateController.verifiedPath, "")
    }

    function test_optionalOffer() {
        ReleaseService.answer("optional")
        checkAndWait(UpdateController.Available)
        compare(view.version, "1.0.9")
        compare(view.build, 23)
        compare(view.notes, "Courses open faster.")
        compare(view.required, false)
        compare(view.error, "")
        verify(candidateSpy.count > 0)
        UpdateController.dismiss()
        compare(view.dismissed, true)
    }

    function test_requiredOffer() {
        ReleaseService.answer("required")
        checkAndWait(UpdateController.Required)
        compare(view.required, true)
        dismissedSpy.clear()
        UpdateController.dismiss()
        compare(dismissedSpy.count, 0)
        verify(UpdateController.graceRemainingSeconds > 259000)

        ReleaseService.answer("nothing")
        checkAndWait(UpdateController.UpToDate)
        compare(view.required, false)
        compare(UpdateController.graceRemainingSeconds, 0)
    }
}
