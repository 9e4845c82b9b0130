import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing
import ".."

// The integrations pane alone, over the real SettingsController whose Telegram requests reach the
// fixture server as the signed-in user.
Item {
    id: root

    width: 800
    height: 600

    readonly property string path: "notifications/telegram"
    readonly property var unlinked: ({ telegramChatId: null, userId: "u1" })
    readonly property var linked: ({ telegramChatId: 42, userId: "u1" })

    Component {
        id: pageHostComponent

        SettingsPageHost {}
    }

    SettingsFixture {
        id: server
    }

    Component {
        id: paneComponent

        IntegrationsPane {
            width: 600
        }
    }

    function named(item, objectName) {
        const found = findChildNamed(item, objectName)
        return found
    }

    function findChildNamed(item, objectName) {
        if (!item)
            return null
        if (item.objectName === objectName)
            return item
        const children = item.children || []
        for (let index = 0; index < children.length; ++index) {
            const found = findChildNamed(children[index], objectName)
            if (found)
                return found
        }
        return null
    }

    TestCase {
        id: integrationsTest

        name: "IntegrationsPane"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.notificationsEnabled = true
            Fixture.reset()
            // Every case starts from an unlinked account whose user id the controller knows.
            Fixture.respond(root.path, 200, root.unlinked)
            tryCompare(SettingsController, "telegramIsLoading", false)
            SettingsController.fetchTelegramStatus()
            tryCompare(SettingsController, "telegramIsLoading", false)
            compare(SettingsController.telegramIsConnected, false)
            Fixture.reset()
            Fixture.clearOpenedUrls()
            Fixture.clearSettingsRequests()
        }

        function named(item, objectName) {
            const found = root.named(item, objectName)
            verify(found, objectName)
            return found
        }

        function makePane(width) {
            const pane = createTemporaryObject(paneComponent, root, width ? { width: width } : {})
            verify(pane)
            waitForRendering(pane)
            return pane
        }

        function refresh(pane) {
            mouseClick(named(pane, "telegramRefreshButton"))
        }

        function test_statusFromReply_data() {
            return [
                { tag: "unlinked", reply: root.unlinked, status: "Disconnected", colour: "textSecondary",
                  refreshShown: true, link: "Link Telegram" },
                { tag: "linked", reply: root.linked, status: "Connected", colour: "primary",
                  refreshShown: false, link: "Disconnect" },
            ]
        }

        function test_statusFromReply(row) {
            const pane = makePane()
            Fixture.respond(root.path, 200, row.reply)
            refresh(pane)
            tryCompare(SettingsController, "telegramIsLoading", false)
            const status = named(pane, "telegramStatus")
            compare(status.text, row.status)
            verify(Qt.colorEqual(status.color, Theme[row.colour]), String(status.color))
            compare(named(pane, "telegramRefreshButton").visible, row.refreshShown)
            const link = named(pane, "telegramLinkButton")
            verify(link.visible)
            compare(link.text, row.link)
            compare(link.Accessible.name, row.link)
            verify(!named(pane, "telegramErrorNotice").visible)
        }

        function test_heldRequest() {
            const pane = makePane()
            const status = named(pane, "telegramStatus")
            const refreshButton = named(pane, "telegramRefreshButton")
            const link = named(pane, "telegramLinkButton")
            const colourBefore = status.color
            Fixture.script(root.path, [{ held: true, body: root.linked }])
            refresh(pane)
            tryVerify(() => Fixture.requestCount(root.path) === 1, 5000, "the status request never arrived")
            compare(status.text, "Loading...")
            verify(Qt.colorEqual(status.color, colourBefore))
            verify(refreshButton.isLoading)
            verify(link.isLoading)
            verify(refreshButton.enabled)
            verify(link.enabled)
            // A second status request waits for the first; linking is not held back.
            refresh(pane)
            mouseClick(link)
            compare(Fixture.openedUrls().length, 1)
            Fixture.release(root.path)
            tryCompare(status, "text", "Connected")
            compare(Fixture.requestCount(root.path), 1)
            verify(!link.isLoading)
        }

        function test_linkOpensTheBotWithTheUserId() {
            const pane = makePane()
            mouseClick(named(pane, "telegramLinkButton"))
            const opened = Fixture.openedUrls()
            compare(opened.length, 1)
            const query = opened[0].split("?")[1] || ""
            verify(query.split("&").indexOf("start=u1") >= 0, opened[0])
            verify(opened[0].startsWith("https://"), opened[0])
            compare(Fixture.requests(), [])
            compare(SettingsController.telegramIsConnected, false)
            compare(SettingsController.telegramIsLoading, false)
            compare(named(pane, "telegramStatus").text, "Disconnected")
            verify(!named(pane, "telegramErrorNotice").visible)
        }

        function test_disconnect() {
            const pane = makePane()
            Fixture.script(root.path, [{ body: root.linked }, { body: root.unlinked }])
            refresh(pane)
            const status = named(pane, "telegramStatus")
            tryCompare(status, "text", "Connected")
            const refreshButton = named(pane, "telegramRefreshButton")
            verify(!refreshButton.visible)
            mouseClick(named(pane, "telegramLinkButton"))
            tryCompare(status, "text", "Disconnected")
            const sent = Fixture.requests(root.path)
            compare(sent.length, 2)
            compare(sent[1].method, "PATCH")
            compare(sent[1].text, "{\"chatId\":null}")
            verify(refreshButton.visible)
            compare(named(pane, "telegramLinkButton").text, "Link Telegram")
        }

        function test_failedRefreshShowsItsNotice() {
            const pane = makePane()
            const notice = named(pane, "telegramErrorNotice")
            const status = named(pane, "telegramStatus")
            Fixture.respond(root.path, 500, { message: "Telegram is unavailable" })
            refresh(pane)
            tryCompare(notice, "message", "Telegram is unavailable")
            verify(notice.visible)
            verify(notice.details !== "", "no details")
            compare(notice.severity, "critical")
            compare(status.text, "Disconnected")

            // The next click hides the notice before anything is answered.
            Fixture.script(root.path, [{ held: true, body: root.linked }])
            refresh(pane)
            verify(!notice.visible)
            compare(notice.message, "")
            Fixture.release(root.path)
            tryCompare(status, "text", "Connected")
            verify(!notice.visible)
        }

        function test_failedDisconnectKeepsTheLink() {
            const pane = makePane()
            const notice = named(pane, "telegramErrorNotice")
            const status = named(pane, "telegramStatus")
            Fixture.script(root.path, [{ body: root.linked }, { status: 500, body: { message: "Try later" } }])
            refresh(pane)
            tryCompare(status, "text", "Connected")
            mouseClick(named(pane, "telegramLinkButton"))
            tryCompare(notice, "message", "Try later")
            compare(status.text, "Connected")
            compare(named(pane, "telegramLinkButton").text, "Disconnect")
        }

        function test_failureBeforeThePaneIsNotShown() {
            Fixture.respond(root.path, 500, { message: "Telegram is unavailable" })
            SettingsController.fetchTelegramStatus()
            tryVerify(() => Fixture.requestCount(root.path) === 1)
            tryCompare(SettingsController, "telegramIsLoading", false)
            const pane = makePane()
            verify(!named(pane, "telegramErrorNotice").visible)
            compare(named(pane, "telegramStatus").text, "Disconnected")
        }

        function test_pushNotificationsSwitch() {
            const pane = makePane()
            const toggle = named(pane, "pushNotificationsSwitch")
            verify(toggle.checked)
            mouseClick(toggle)
            compare(SettingsController.notificationsEnabled, false)
            compare(String(TestSetup.storedPreference("notificationsEnabled")), "false")
            verify(!toggle.checked)
            compare(Fixture.settingsRequests(), [])
            compare(Fixture.requests(), [])
            compare(named(pane, "telegramStatus").text, "Disconnected")
            // A new pane reads the stored value.
            const again = makePane()
            verify(!named(again, "pushNotificationsSwitch").checked)
        }

        function test_buttonsStackWhenNarrow_data() {
            return [
                { tag: "499", width: 499, compact: true },
                { tag: "500", width: 500, compact: false },
            ]
        }

        function test_buttonsStackWhenNarrow(row) {
            const pane = makePane(row.width)
            compare(pane.compactLayout, row.compact)
            const column = named(pane, "telegramStatusColumn")
            const grid = named(pane, "telegramGrid")
            const columnBottom = column.y + column.height
            for (const name of ["telegramRefreshButton", "telegramLinkButton"]) {
                const button = named(pane, name)
                if (row.compact) {
                    verify(button.y >= columnBottom, name + " is not below the status")
                    compare(button.width, grid.width)
                } else {
                    verify(button.y < columnBottom, name + " is not beside the status")
                    verify(button.x >= column.x + column.width, name + " overlaps the status")
                    verify(button.width < grid.width / 2)
                }
            }
            if (!row.compact)
                verify(named(pane, "telegramRefreshButton").x < named(pane, "telegramLinkButton").x)
        }
    }

    // The status request the page sends when it opens fails before the pane is shown.
    TestCase {
        name: "IntegrationsPaneInPage"
        when: windowShown

        function test_failureOfTheOpeningRequestIsNotShown() {
            failOnWarning(/.?/)
            Fixture.reset()
            server.serve()
            if (!NetworkManager.isAuthenticated)
                TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
            tryCompare(UserIdentity, "loading", false, 10000)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            Fixture.respond(root.path, 500, { message: "Telegram is unavailable" })
            Fixture.clearRequests()

            const host = createTemporaryObject(pageHostComponent, root)
            verify(host)
            tryVerify(() => host.stack && host.stack.currentItem
                      && host.stack.currentItem.objectName === "homePage", 10000)
            tryCompare(host.stack, "busy", false)
            const page = host.openSettings()
            tryCompare(page.profileController, "state", "ready", 10000)
            tryVerify(() => Fixture.requestCount(root.path) === 1, 10000)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            compare(SettingsController.telegramFailure.userMessage, "Telegram is unavailable")

            const paneStack = findChild(page, "settingsPaneStack")
            mouseClick(findChild(page, "settingsCategory3"))
            tryCompare(paneStack, "busy", false)
            const pane = findChild(paneStack.currentItem, "integrationsPane")
            verify(pane)
            verify(!root.named(pane, "telegramErrorNotice").visible)
            compare(root.named(pane, "telegramStatus").text, "Disconnected")
            compare(Fixture.requestCount(root.path), 1)
        }
    }

    // Runs first, while the controller has had no status reply in this run: the test cases of a
    // document start in the reverse order of their declaration.
    TestCase {
        name: "IntegrationsPaneBeforeAnyStatus"
        when: windowShown

        function test_linkWithoutUserId() {
            failOnWarning(/.?/)
            Fixture.reset()
            Fixture.clearOpenedUrls()
            const pane = createTemporaryObject(paneComponent, root)
            verify(pane)
            const notice = root.named(pane, "telegramErrorNotice")
            verify(!notice.visible)
            mouseClick(root.named(pane, "telegramLinkButton"))
            tryCompare(notice, "message", "Cannot link Telegram: user ID missing. Please refresh the status first.")
            verify(notice.visible)
            compare(notice.severity, "error")
            compare(Fixture.openedUrls(), [])
            compare(Fixture.requests(), [])
        }
    }
}
