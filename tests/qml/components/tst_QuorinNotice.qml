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

    property bool userShowsNotice: false

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: noticeComponent

        QuorinNotice {
            width: 400
        }
    }

    // A screen that decides itself when its notice shows.
    Component {
        id: userBoundComponent

        QuorinNotice {
            width: 400
            visible: root.userShowsNotice
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "QuorinNotice"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            root.userShowsNotice = false
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeNotice(properties) {
            const notice = createTemporaryObject(noticeComponent, area, properties || {})
            verify(notice)
            return notice
        }

        function part(notice, name) {
            const found = findChild(notice, name)
            verify(found, name)
            return found
        }

        // Lays the notice's rows out now, as the first frame that shows them would.
        function settle(notice) {
            waitForItemPolished(notice.contentItem)
            waitForItemPolished(part(notice, "noticeActionRow"))
        }

        function edgesIn(item, reference) {
            const left = item.mapToItem(reference, 0, 0).x
            return { left: left, right: left + item.width }
        }

        function test_accent_data() {
            const rows = []
            const accents = [
                { severity: "success", token: "success" },
                { severity: "warning", token: "warning" },
                { severity: "info", token: "primary" },
                { severity: "error", token: "error" },
                { severity: "critical", token: "error" },
                { severity: "Error", token: "error" },
                { severity: "", token: "error" },
                { severity: "x", token: "error" }
            ]
            for (const theme of [{ mode: "dark", alpha: 0.14 }, { mode: "light", alpha: 0.08 }]) {
                for (const accent of accents) {
                    rows.push({ tag: theme.mode + " '" + accent.severity + "'", severity: accent.severity,
                                token: accent.token, themeMode: theme.mode, alpha: theme.alpha })
                }
            }
            return rows
        }

        function test_accent(row) {
            SettingsController.themeMode = row.themeMode
            const notice = makeNotice({ severity: row.severity, message: "Saved", actionText: "Retry",
                                        details: "trace" })
            const accent = Theme[row.token]
            verify(Checks.coloursClose(notice.accentColor, accent, 0), Checks.describe(notice.accentColor, accent))
            const tint = Qt.rgba(accent.r, accent.g, accent.b, row.alpha)
            verify(Checks.coloursClose(notice.background.color, tint, 1), Checks.describe(notice.background.color, tint))
            verify(Checks.coloursClose(notice.background.border.color, accent, 0),
                   Checks.describe(notice.background.border.color, accent))
            compare(notice.background.border.width, 1)
            compare(notice.background.radius, Theme.radius)
            for (const name of ["noticeActionButton", "noticeDetailsButton"]) {
                const button = part(notice, name)
                verify(button.isOutline, name)
                verify(Checks.coloursClose(button.buttonColor, accent, 0), name)
            }
        }

        function test_accentFollowsTheUsersColour() {
            const notice = makeNotice({ severity: "success", message: "Saved" })
            notice.accentColor = "#123456"
            verify(Checks.coloursClose(notice.background.border.color, "#123456", 0))
        }

        function test_visibility_data() {
            return [
                { tag: "title only", title: "Saved", message: "", details: "", actionText: "", visible: true },
                { tag: "message only", title: "", message: "Saved", details: "", actionText: "", visible: true },
                { tag: "details only", title: "", message: "", details: "trace", actionText: "", visible: false },
                { tag: "action text only", title: "", message: "", details: "", actionText: "Retry", visible: false },
                { tag: "nothing", title: "", message: "", details: "", actionText: "", visible: false }
            ]
        }

        function test_visibility(row) {
            const notice = makeNotice({ title: row.title, message: row.message, details: row.details,
                                        actionText: row.actionText })
            compare(notice.visible, row.visible)
            if (row.tag === "title only") {
                const title = part(notice, "noticeTitle")
                verify(title.visible)
                compare(title.text, "Saved")
                verify(title.font.bold)
                const message = part(notice, "noticeMessage")
                verify(message.visible, "the empty message stays in the column")
                compare(message.text, "")
                verify(!part(notice, "noticeActionRow").visible)
            }
        }

        function test_clearedByAnEmptyMessage() {
            const notice = makeNotice({ message: "Wrong password", actionText: "Retry" })
            verify(notice.visible)
            notice.message = ""
            verify(!notice.visible)
        }

        function test_usersBindingOnVisibleWins() {
            const notice = createTemporaryObject(userBoundComponent, area)
            verify(!notice.visible)
            notice.message = "Saved"
            verify(!notice.visible, "hidden by the user's condition despite a message")
            notice.message = ""
            root.userShowsNotice = true
            verify(notice.visible, "shown by the user's condition despite no text")
        }

        function test_sizes() {
            const notice = makeNotice({ title: "Saved", message: "Your profile is up to date." })
            compare(notice.implicitWidth, 320)
            for (const side of ["leftPadding", "rightPadding", "topPadding", "bottomPadding"])
                compare(notice[side], Theme.spacing, side)
            settle(notice)
            compare(notice.implicitHeight, notice.contentItem.implicitHeight + 2 * Theme.spacing)
            compare(notice.contentItem.spacing, Theme.smallSpacing)
            compare(part(notice, "noticeMessage").font.pixelSize, notice.font.pixelSize,
                    "the labels keep the control's size")
        }

        function test_detailsAloneSitAtTheRowsEnd_data() {
            return [
                { tag: "English", language: "en", atRight: true },
                { tag: "Arabic", language: "ar", atRight: false }
            ]
        }

        function test_detailsAloneSitAtTheRowsEnd(row) {
            SettingsController.language = row.language
            const notice = makeNotice({ message: "Could not save", details: "HTTP 500" })
            const actionRow = part(notice, "noticeActionRow")
            verify(actionRow.visible)
            verify(!part(notice, "noticeActionButton").visible)
            const details = part(notice, "noticeDetailsButton")
            verify(details.visible)
            settle(notice)
            const edges = edgesIn(details, actionRow)
            if (row.atRight)
                compare(edges.right, actionRow.width)
            else
                compare(edges.left, 0)
        }

        function test_arabicPutsTheActionAtTheRight() {
            SettingsController.language = "ar"
            const notice = makeNotice({ title: "Download failed", message: "The file could not be written.",
                                        actionText: "Retry", details: "ENOSPC" })
            const actionRow = part(notice, "noticeActionRow")
            settle(notice)
            const action = edgesIn(part(notice, "noticeActionButton"), actionRow)
            const details = edgesIn(part(notice, "noticeDetailsButton"), actionRow)
            compare(action.right, actionRow.width)
            compare(details.left, 0)
            // English texts too start at the right edge of an Arabic page.
            mouseClick(part(notice, "noticeDetailsButton"))
            for (const name of ["noticeTitle", "noticeMessage", "noticeDetails"])
                compare(part(notice, name).effectiveHorizontalAlignment, Text.AlignRight, name)
        }

        function test_englishPutsTheActionAtTheLeft() {
            const notice = makeNotice({ message: "The file could not be written.", actionText: "Retry",
                                        details: "ENOSPC" })
            const actionRow = part(notice, "noticeActionRow")
            settle(notice)
            compare(edgesIn(part(notice, "noticeActionButton"), actionRow).left, 0)
            compare(edgesIn(part(notice, "noticeDetailsButton"), actionRow).right, actionRow.width)
            compare(part(notice, "noticeMessage").effectiveHorizontalAlignment, Text.AlignLeft)
        }

        function test_detailsToggle() {
            const longWord = "0123456789abcdef".repeat(20)
            const notice = makeNotice({ message: "Could not save", details: longWord })
            const button = part(notice, "noticeDetailsButton")
            const details = part(notice, "noticeDetails")
            compare(button.text, "Technical details")
            verify(!details.visible)

            mouseClick(button)
            verify(notice.detailsExpanded)
            verify(details.visible)
            compare(button.text, "Hide details")
            compare(details.text, longWord)
            compare(details.font.family, "monospace")
            compare(details.wrapMode, Text.WrapAnywhere)
            verify(Checks.coloursClose(details.color, Theme.textSecondary, 0))
            settle(notice)
            verify(details.lineCount > 1, "one unbroken word breaks inside itself: " + details.lineCount)
            verify(details.contentWidth <= details.width + 0.5, "the details run past the notice")

            mouseClick(button)
            verify(!notice.detailsExpanded)
            verify(!details.visible)
            compare(button.text, "Technical details")
        }

        function test_expandedStateSurvives() {
            const notice = makeNotice({ message: "Could not save", details: "first" })
            mouseClick(part(notice, "noticeDetailsButton"))
            verify(notice.detailsExpanded)

            notice.message = ""
            verify(!notice.visible)
            notice.message = "Could not save again"
            verify(notice.visible)
            verify(notice.detailsExpanded, "kept across hide and show")

            notice.details = "second"
            notice.severity = "warning"
            verify(notice.detailsExpanded, "kept across new details")
            const details = part(notice, "noticeDetails")
            verify(details.visible)
            compare(details.text, "second")
            compare(part(notice, "noticeDetailsButton").text, "Hide details")
        }

        function test_expandedWithoutDetailsShowsNothing() {
            const notice = makeNotice({ message: "Saved", detailsExpanded: true })
            verify(!part(notice, "noticeDetails").visible)
            verify(!part(notice, "noticeActionRow").visible)
        }

        function test_actionEmitsOncePerClick() {
            const notice = makeNotice({ message: "Could not load the quiz", actionText: "Retry" })
            const triggered = createTemporaryObject(spyComponent, root, { target: notice, signalName: "actionTriggered" })
            const action = part(notice, "noticeActionButton")
            verify(action.visible)
            compare(action.text, "Retry")
            mouseClick(action)
            compare(triggered.count, 1)
            mouseClick(action)
            compare(triggered.count, 2)
            verify(notice.visible, "the notice does nothing itself on a click")
        }

        function test_accessibleName_data() {
            return [
                { tag: "title and message", title: "Sign-in failed", message: "Wrong password",
                  name: "Sign-in failed. Wrong password" },
                { tag: "message only", title: "", message: "Wrong password", name: "Wrong password" },
                { tag: "title only", title: "Saved", message: "", name: "Saved. " }
            ]
        }

        function test_accessibleName(row) {
            const notice = makeNotice({ title: row.title, message: row.message })
            compare(notice.Accessible.name, row.name)
            compare(notice.Accessible.role, Accessible.AlertMessage)
        }

        function test_arabicTexts() {
            SettingsController.language = "ar"
            const notice = makeNotice({ message: "M", details: "trace" })
            const button = part(notice, "noticeDetailsButton")
            verify(button.text !== "Technical details" && button.text !== "", "translated: " + button.text)
            mouseClick(button)
            verify(button.text !== "Hide details" && button.text !== "", "translated: " + button.text)
        }
    }
}
