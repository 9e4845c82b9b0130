import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: stateComponent

        QuorinFailureState {
            width: 600
            height: 500
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "QuorinFailureState"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeState(properties) {
            const failureState = createTemporaryObject(stateComponent, area, properties || {})
            verify(failureState)
            return failureState
        }

        function part(failureState, name) {
            const found = findChild(failureState, name)
            verify(found, name)
            return found
        }

        function settle(failureState) {
            waitForItemPolished(part(failureState, "failureStateColumn"))
            waitForItemPolished(part(failureState, "failureStateButtons"))
        }

        function test_columnWidth_data() {
            return [
                { tag: "600", width: 600, column: 520 },
                { tag: "300", width: 300, column: 236 },
                { tag: "64", width: 64, column: 0 },
                { tag: "63", width: 63, column: 0 }
            ]
        }

        function test_columnWidth(row) {
            const failureState = makeState({ width: row.width, message: "The lecture could not be loaded." })
            const column = part(failureState, "failureStateColumn")
            compare(column.width, row.column)
            settle(failureState)
            // Centred both ways.
            fuzzyCompare(column.x + column.width / 2, row.width / 2, 0.5)
            fuzzyCompare(column.y + column.height / 2, failureState.height / 2, 0.5)
        }

        function test_defaults() {
            const failureState = makeState()
            compare(failureState.title, "Content unavailable")
            compare(failureState.message, "")
            compare(failureState.code, "")
            compare(failureState.retryable, true)
            compare(failureState.implicitWidth, 0)
            compare(failureState.implicitHeight, 0)
            const title = part(failureState, "failureStateTitle")
            compare(title.text, "Content unavailable")
            compare(title.font.pixelSize, 24)
            verify(title.font.bold)
            compare(title.horizontalAlignment, Text.AlignHCenter)
            verify(Checks.coloursClose(title.color, Theme.text, 0))
            verify(Checks.coloursClose(part(failureState, "failureStateMessage").color, Theme.textSecondary, 0))
            verify(!part(failureState, "failureStateCode").visible, "an empty code shows no code line")
            const back = part(failureState, "failureStateBackButton")
            const retry = part(failureState, "failureStateRetryButton")
            compare(back.text, "Back")
            verify(back.isOutline)
            verify(Checks.coloursClose(back.buttonColor, Theme.error, 0))
            compare(retry.text, "Retry")
            verify(retry.visible)
            verify(!retry.isOutline)
            verify(Checks.coloursClose(retry.buttonColor, Theme.error, 0))
        }

        function test_codeLine() {
            const failureState = makeState({ code: "UNEXPECTED_ERROR", message: "Try again later." })
            const code = part(failureState, "failureStateCode")
            verify(code.visible)
            compare(code.text, "Error code: UNEXPECTED_ERROR")
            verify(Checks.coloursClose(code.color, Theme.textMuted, 0))
            compare(code.wrapMode, Text.NoWrap)
            settle(failureState)
            verify(code.y > part(failureState, "failureStateMessage").y, "under the message")
            failureState.code = ""
            verify(!code.visible)
        }

        function test_backAloneIsCentred() {
            const failureState = makeState({ retryable: false })
            verify(!part(failureState, "failureStateRetryButton").visible)
            const back = part(failureState, "failureStateBackButton")
            verify(back.visible)
            settle(failureState)
            const centre = back.mapToItem(failureState, back.width / 2, 0).x
            fuzzyCompare(centre, failureState.width / 2, 0.5)
        }

        function test_buttonsSignal_data() {
            return [
                { tag: "Back", name: "failureStateBackButton", signalName: "backRequested",
                  other: "retryRequested" },
                { tag: "Retry", name: "failureStateRetryButton", signalName: "retryRequested",
                  other: "backRequested" }
            ]
        }

        function test_buttonsSignal(row) {
            const failureState = makeState()
            const wanted = createTemporaryObject(spyComponent, root, { target: failureState, signalName: row.signalName })
            const other = createTemporaryObject(spyComponent, root, { target: failureState, signalName: row.other })
            settle(failureState)
            mouseClick(part(failureState, row.name))
            compare(wanted.count, 1)
            compare(other.count, 0)
        }

        function test_accessibility_data() {
            return [
                { tag: "empty message", message: "", name: "Content unavailable. " },
                { tag: "with message", message: "Try again later.", name: "Content unavailable. Try again later." }
            ]
        }

        function test_accessibility(row) {
            const failureState = makeState({ message: row.message })
            compare(failureState.Accessible.name, row.name)
            compare(failureState.Accessible.role, Accessible.AlertMessage)
        }

        function test_buttonOrder_data() {
            return [
                { tag: "English: Back at the left", language: "en", backAtRight: false },
                { tag: "Arabic: Back at the right", language: "ar", backAtRight: true }
            ]
        }

        function test_buttonOrder(row) {
            SettingsController.language = row.language
            const failureState = makeState()
            settle(failureState)
            const back = part(failureState, "failureStateBackButton")
            const retry = part(failureState, "failureStateRetryButton")
            const backX = back.mapToItem(failureState, 0, 0).x
            const retryX = retry.mapToItem(failureState, 0, 0).x
            compare(backX > retryX, row.backAtRight)
            if (row.language === "ar") {
                verify(back.text !== "Back", "translated: " + back.text)
                verify(failureState.title !== "Content unavailable", "translated: " + failureState.title)
            }
        }
    }
}
