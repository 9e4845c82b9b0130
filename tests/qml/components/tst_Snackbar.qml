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

    // Holds the host at a chosen width, as the window does.
    Item {
        id: hostParent

        width: 700
        height: 200

        SnackbarHost {
            id: host

            anchors.top: parent.top
            anchors.horizontalCenter: parent.horizontalCenter
        }
    }

    // Keeps the keyboard while snackbars come and go.
    TextInput {
        id: focusKeeper

        y: 400
        width: 200
        height: 30
        text: "focused"
    }

    // Counts every time something bound to the queue is told it changed.
    QtObject {
        id: queueWatcher

        property int notifications: 0
        property var watched: Snackbar.pending

        onWatchedChanged: notifications += 1
    }

    SignalSpy {
        id: actionSpy

        target: Snackbar
        signalName: "actionTriggered"
    }

    function messages(entries) {
        return entries.map(entry => entry.message)
    }

    TestCase {
        id: snackbarTest

        name: "Snackbar"
        when: windowShown

        function init() {
            Snackbar.clear()
            actionSpy.clear()
            hostParent.width = 700
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanup() {
            Snackbar.clear()
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function findInHost(objectName) {
            const found = findChild(host, objectName)
            verify(found, objectName)
            return found
        }

        function test_blankMessagesShowNothing() {
            Snackbar.show("   ")
            Snackbar.show("")
            Snackbar.show()
            compare(Snackbar.current, null)
            compare(Snackbar.pending.length, 0)
            verify(!Snackbar.visible)
            verify(!host.visible)

            Snackbar.show("On show")
            Snackbar.show(" \t ")
            compare(Snackbar.pending.length, 0, "a blank message is not queued behind another")
        }

        function test_messageIsTrimmed() {
            Snackbar.show(" Saved ")
            compare(Snackbar.message, "Saved")
            compare(Snackbar.severity, "info")
            compare(Snackbar.actionText, "")
            compare(Snackbar.actionId, "")
            compare(findInHost("snackbarMessage").text, "Saved")
            compare(host.Accessible.name, "Saved")
            compare(host.Accessible.role, Accessible.AlertMessage)
        }

        function test_duration_data() {
            return [
                { tag: "absent", given: undefined, expected: 3000 },
                { tag: "zero", given: 0, expected: 3000 },
                { tag: "500", given: 500, expected: 1000 },
                { tag: "8000", given: 8000, expected: 8000 },
                { tag: "negative", given: -5, expected: 1000 }
            ]
        }

        function test_duration(row) {
            if (row.given === undefined)
                Snackbar.show("Timed")
            else
                Snackbar.show("Timed", "info", "", "", row.given)
            compare(Snackbar.duration, row.expected)
            compare(findInHost("snackbarTimer").interval, row.expected)
            verify(findInHost("snackbarTimer").running)
        }

        function test_repostOnShowKeepsItsTimeAndAnotherSeverityQueues() {
            const timer = findInHost("snackbarTimer")
            const posted = Date.now()
            Snackbar.show("Saved", "info", "", "", 1000)
            wait(600)
            let touched = 0
            const touch = () => touched += 1
            timer.runningChanged.connect(touch)
            Snackbar.currentChanged.connect(touch)
            const reposted = Date.now()
            Snackbar.show("Saved", "info", "Undo", "undo", 8000)
            timer.runningChanged.disconnect(touch)
            Snackbar.currentChanged.disconnect(touch)
            compare(touched, 0, "neither the entry nor its timer was touched")
            compare(Snackbar.pending.length, 0, "the duplicate is dropped, not queued")
            compare(Snackbar.actionText, "", "the duplicate's action is dropped")
            Snackbar.show("Saved", "error", "", "", 1000)
            compare(messages(Snackbar.pending), ["Saved"])
            compare(Snackbar.pending[0].severity, "error")

            tryCompare(Snackbar, "severity", "error", 5000)
            const replaced = Date.now()
            verify(replaced - posted >= 950, "shown for its full time: " + (replaced - posted))
            // A restarted time would have run a whole second from the repost.
            verify(replaced - reposted < 1000, "the repost restarted the time: " + (replaced - reposted))
        }

        function test_overflowDropsTheOldestWaitingEntry() {
            for (let index = 1; index <= 6; ++index)
                Snackbar.show("Message " + index)
            compare(Snackbar.message, "Message 1")
            compare(messages(Snackbar.pending), ["Message 2", "Message 3", "Message 4", "Message 5", "Message 6"])

            Snackbar.show("Message 7")
            compare(Snackbar.message, "Message 1", "the entry on show stays")
            compare(messages(Snackbar.pending), ["Message 3", "Message 4", "Message 5", "Message 6", "Message 7"])
            compare(Snackbar.pending.length, Snackbar.maximumQueued)
        }

        function test_everyQueueChangeIsAnnounced() {
            Snackbar.show("First")
            const before = queueWatcher.notifications
            Snackbar.show("Second")
            compare(queueWatcher.notifications, before + 1, "queued")
            Snackbar.show("Third")
            compare(queueWatcher.notifications, before + 2, "queued again")
            Snackbar.dismiss()
            compare(queueWatcher.notifications, before + 3, "moved up")
            compare(messages(queueWatcher.watched), ["Third"])
            Snackbar.clear()
            compare(queueWatcher.notifications, before + 4, "cleared")
        }

        function test_dismissedMessageCanBeShownAgainAtOnce() {
            Snackbar.show("Copied")
            Snackbar.dismiss()
            verify(!Snackbar.visible)
            Snackbar.show("Copied")
            verify(Snackbar.visible)
            compare(Snackbar.message, "Copied")
            verify(host.visible)
        }

        function test_queuedEntriesEachGetTheirOwnTimeFromTheirTurn() {
            const turns = []
            const record = () => turns.push({ message: Snackbar.message, at: Date.now() })
            Snackbar.currentChanged.connect(record)
            try {
                Snackbar.show("A", "info", "", "", 1000)
                Snackbar.show("B", "info", "", "", 1500)
                Snackbar.show("C", "info", "", "", 1000)
                tryVerify(() => !Snackbar.visible, 10000)
            } finally {
                Snackbar.currentChanged.disconnect(record)
            }
            compare(turns.map(turn => turn.message), ["A", "B", "C", ""])
            // Timers never fire early: shorter turns would mean a time counted from the post, or
            // an interval left over from the entry before.
            verify(turns[1].at - turns[0].at >= 950, "A: " + (turns[1].at - turns[0].at))
            verify(turns[2].at - turns[1].at >= 1450, "B: " + (turns[2].at - turns[1].at))
            verify(turns[3].at - turns[2].at >= 950, "C: " + (turns[3].at - turns[2].at))
        }

        function test_actionWithoutIdDoesNothing() {
            Snackbar.show("Draft kept", "info", "Open")
            const button = findInHost("snackbarActionButton")
            verify(button.visible)
            compare(button.text, "Open")
            mouseClick(button)
            verify(Snackbar.visible)
            compare(Snackbar.message, "Draft kept")
            compare(actionSpy.count, 0)
        }

        function test_actionListenersSeeTheSuccessorOnShow() {
            let seen = null
            const listener = id => seen = { id: id, message: Snackbar.message }
            Snackbar.actionTriggered.connect(listener)
            try {
                Snackbar.show("This fixed quality is struggling on the current connection.", "warning",
                              "Switch to Auto", "switch_to_auto", 8000)
                Snackbar.show("Quality changed", "success")
                mouseClick(findInHost("snackbarActionButton"))
            } finally {
                Snackbar.actionTriggered.disconnect(listener)
            }
            compare(seen, { id: "switch_to_auto", message: "Quality changed" })
            compare(actionSpy.count, 1)
        }

        function test_actionButtonOnlyWithActionText() {
            Snackbar.show("Plain")
            verify(!findInHost("snackbarActionButton").visible)
        }

        function test_widthFollowsTheParent_data() {
            return [
                { tag: "700 px parent", parentWidth: 700, expected: 560 },
                { tag: "624 px parent", parentWidth: 624, expected: 560 },
                { tag: "600 px parent", parentWidth: 600, expected: 536 }
            ]
        }

        function test_widthFollowsTheParent(row) {
            hostParent.width = row.parentWidth
            Snackbar.show("Sized")
            compare(host.width, row.expected)
            compare(findInHost("snackbarCard").width, row.expected)
            verify(host.height >= 52)
        }

        function test_longMessageMakesTheCardTaller() {
            Snackbar.show("Short")
            waitForItemPolished(findInHost("snackbarContent"))
            const oneLine = host.height
            Snackbar.clear()
            Snackbar.show("A message long enough to wrap over several lines of the card, since the card keeps "
                          + "its width and grows in height instead of cutting the text short, however much "
                          + "there is to say in it.")
            tryVerify(() => findInHost("snackbarMessage").lineCount > 2, 2000, "wrapped")
            tryVerify(() => host.height > oneLine, 2000, host.height + " > " + oneLine)
        }

        function test_swipe_data() {
            // The host is 500 wide here: 22 % is 110 pixels.
            return [
                { tag: "22 % right stays", dx: 110, dy: 0, dismissed: false },
                { tag: "22 % left stays", dx: -110, dy: 0, dismissed: false },
                { tag: "23 % right dismisses", dx: 115, dy: 0, dismissed: true },
                { tag: "23 % left dismisses", dx: -115, dy: 0, dismissed: true },
                { tag: "vertical does nothing", dx: 0, dy: 150, dismissed: false }
            ]
        }

        function test_swipe(row) {
            hostParent.width = 564
            Snackbar.show("Swipe me")
            Snackbar.show("Next")
            compare(host.width, 500)
            const card = findInHost("snackbarCard")
            const startX = 200
            const startY = card.height / 2
            mousePress(card, startX, startY)
            const steps = 10
            for (let step = 1; step <= steps; ++step)
                mouseMove(card, startX + row.dx * step / steps, startY + row.dy * step / steps)
            mouseRelease(card, startX + row.dx, startY + row.dy)
            compare(Snackbar.message, row.dismissed ? "Next" : "Swipe me")
        }

        function test_dismissButton() {
            Snackbar.show("Closable")
            const button = findInHost("snackbarDismissButton")
            compare(button.text, "\u00d7")
            compare(button.Accessible.name, "Dismiss notification")
            verify(button.compact)
            verify(button.isOutline)
            compare(button.leftPadding, 8)
            compare(button.rightPadding, 8)
            mouseClick(button)
            verify(!Snackbar.visible)
            verify(!host.visible)
        }

        function test_severityColours_data() {
            return [
                { tag: "error", severity: "error", fill: Theme.error, border: Qt.lighter(Theme.error, 1.25),
                  text: Theme.accentForeground, action: Theme.accentForeground, close: Theme.accentForeground },
                { tag: "warning", severity: "warning", fill: Theme.warning, border: Qt.lighter(Theme.warning, 1.25),
                  text: Theme.accentForeground, action: Theme.accentForeground, close: Theme.accentForeground },
                { tag: "success", severity: "success", fill: Theme.success, border: Qt.lighter(Theme.success, 1.25),
                  text: Theme.accentForeground, action: Theme.accentForeground, close: Theme.accentForeground },
                { tag: "info", severity: "info", fill: "#ffffff", border: "#94a3b8", text: "#172033",
                  action: Theme.primary, close: "#172033" }
            ]
        }

        function test_severityColours(row) {
            Snackbar.show("Coloured", row.severity, "Act", "act")
            const card = findInHost("snackbarCard")
            verify(Checks.coloursClose(card.color, row.fill, 0), Checks.describe(card.color, row.fill))
            verify(Checks.coloursClose(card.border.color, row.border, 0), Checks.describe(card.border.color, row.border))
            compare(card.border.width, 1)
            compare(card.radius, Theme.radius)
            const message = findInHost("snackbarMessage")
            verify(Checks.coloursClose(message.color, row.text, 0), Checks.describe(message.color, row.text))
            const action = findInHost("snackbarActionButton")
            verify(Checks.coloursClose(action.buttonColor, row.action, 0), Checks.describe(action.buttonColor, row.action))
            verify(action.isOutline)
            waitForItemPolished(findInHost("snackbarContent"))
            compare(action.height, 36)
            const close = findInHost("snackbarDismissButton")
            verify(Checks.coloursClose(close.buttonColor, row.close, 0), Checks.describe(close.buttonColor, row.close))
        }

        function test_infoColoursFollowTheTheme() {
            Snackbar.show("Themed")
            SettingsController.themeMode = "dark"
            const card = findInHost("snackbarCard")
            verify(Checks.coloursClose(card.color, "#1c2a43", 0), Checks.describe(card.color, "#1c2a43"))
            verify(Checks.coloursClose(card.border.color, "#50627d", 0))
            verify(Checks.coloursClose(findInHost("snackbarMessage").color, "#f8fafc", 0))
        }

        function test_fullOpacityAtOnceWithAnimationsOff() {
            Snackbar.show("Instant")
            compare(host.opacity, 1)
            verify(host.visible)
        }

        function test_fadesInWithAnimationsOn() {
            SettingsController.animationSpeedMultiplier = 1
            Snackbar.show("Fading")
            verify(host.visible)
            verify(host.opacity < 1, "the card fades in")
            tryCompare(host, "opacity", 1, 2000)
            Snackbar.dismiss()
            verify(!host.visible, "the card vanishes at once")
        }

        function test_hostNeverTakesTheKeyboard() {
            focusKeeper.forceActiveFocus()
            verify(focusKeeper.activeFocus)
            compare(host.objectName, "globalSnackbarHost")
            verify(!host.focus)

            Snackbar.show("First", "info", "Act", "act")
            Snackbar.show("Second", "info", "Act", "act")
            Snackbar.show("Third")
            mouseClick(findInHost("snackbarActionButton"))
            verify(focusKeeper.activeFocus, "after the action")
            mouseClick(findInHost("snackbarDismissButton"))
            verify(focusKeeper.activeFocus, "after the close button")
            verify(!host.activeFocus)
        }

        function test_timerEndsTheEntryAndStopsWhenHidden() {
            const timer = findInHost("snackbarTimer")
            Snackbar.show("Brief", "info", "", "", 1000)
            verify(timer.running)
            tryVerify(() => !Snackbar.visible, 5000)
            verify(!timer.running)
            Snackbar.show("Gone early", "info", "", "", 8000)
            Snackbar.dismiss()
            verify(!timer.running, "a dismissed entry leaves no timer running")
        }
    }
}
