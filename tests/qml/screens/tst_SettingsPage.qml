import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

Item {
    id: root

    width: 1000
    height: 700

    Component {
        id: hostComponent

        SettingsPageHost {}
    }

    SettingsFixture {
        id: server
    }

    TestCase {
        id: settingsTest

        name: "SettingsPage"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 1
            Snackbar.clear()
            Fixture.reset()
            Fixture.clearMessages()
            server.serve()
            if (!NetworkManager.isAuthenticated)
                TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
            tryCompare(UserIdentity, "loading", false, 10000)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            Fixture.clearRequests()
        }

        function cleanup() {
            Snackbar.clear()
            tryCompare(Theme, "activeDialogs", 0)
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        // The home page in a page stack of the given width, the answers in place.
        function makeHost(width) {
            const host = createTemporaryObject(hostComponent, root)
            verify(host)
            if (width !== undefined) {
                host.anchors.fill = undefined
                host.width = width
                host.height = root.height
            }
            tryVerify(() => host.stack && host.stack.currentItem
                      && host.stack.currentItem.objectName === "homePage", 10000)
            tryCompare(host.stack, "busy", false)
            return host
        }

        // A settings page over the home page, its profile loaded.
        function openPage(host) {
            const page = host.openSettings()
            verify(page)
            compare(page.objectName, "profileSettingsPage")
            tryCompare(page.profileController, "state", "ready", 10000)
            return page
        }

        function paneStack(page) {
            return named(page, "settingsPaneStack")
        }

        function rowOf(page, index) {
            return named(named(page, "settingsCategoryList"), "settingsCategory" + index)
        }

        function choose(page, index) {
            mouseClick(rowOf(page, index))
        }

        function chooseAndSettle(page, index) {
            choose(page, index)
            tryCompare(paneStack(page), "busy", false)
        }

        function xIn(item, page) {
            return item.mapToItem(page, 0, 0).x
        }

        function yIn(item, page) {
            return item.mapToItem(page, 0, 0).y
        }

        function test_layout_data() {
            return [
                { tag: "759 px, compact", width: 759, compact: true, outer: 16, headerGap: 8, column: 180,
                  columnGap: 16, paneMargin: 16 },
                { tag: "760 px, wide", width: 760, compact: false, outer: 24, headerGap: 32, column: 250,
                  columnGap: 32, paneMargin: 32 }
            ]
        }

        function test_layout(row) {
            const host = makeHost(row.width)
            const page = openPage(host)
            compare(page.width, row.width)
            compare(page.compactLayout, row.compact)
            const header = named(page, "settingsHeader")
            const body = named(page, "settingsBody")
            const navigation = named(page, "settingsNavigationPane")
            const content = named(page, "settingsContentPane")
            const stack = paneStack(page)
            compare(xIn(header, page), row.outer)
            compare(yIn(header, page), row.outer)
            compare(header.height, 44)
            compare(header.width, row.width - 2 * row.outer)
            compare(yIn(body, page) - (yIn(header, page) + header.height), Theme.spacing + row.headerGap)
            compare(yIn(body, page) + body.height, page.height - row.outer)
            compare(navigation.width, row.column)
            compare(xIn(content, page) - (xIn(navigation, page) + navigation.width), row.columnGap)
            compare(xIn(content, page) + content.width, row.width - row.outer)
            compare(stack.x, row.paneMargin)
            compare(stack.y, row.paneMargin)
            compare(stack.width, content.width - 2 * row.paneMargin)
            compare(stack.height, content.height - 2 * row.paneMargin)
            const back = named(page, "settingsBackButton")
            compare(back.width, 48)
            compare(xIn(back, page), row.outer)
            const list = named(page, "settingsCategoryList")
            compare(list.x, Theme.spacing)
            compare(list.width, row.column - 2 * Theme.spacing)
            compare(rowOf(page, 0).height, 48)
        }

        function test_clickingTheCurrentRowChangesNothing() {
            const page = openPage(makeHost())
            const stack = paneStack(page)
            const highlight = named(page, "settingsNavigationHighlight")
            const pane = stack.currentItem
            compare(pane.objectName, "profilePaneScrollView")
            choose(page, 0)
            verify(!stack.busy)
            verify(stack.currentItem === pane)
            compare(highlight.targetY, 0)
            compare(highlight.y, 0)
        }

        function test_slideDirection_data() {
            return [
                { tag: "Profile to About slides upward", first: 4, then: -1, enteringBelow: true, pane: "settingsAboutScroll" },
                { tag: "About to Security slides downward", first: 4, then: 1, enteringBelow: false,
                  pane: "settingsSecurityScroll" }
            ]
        }

        function test_slideDirection(row) {
            const page = openPage(makeHost())
            const stack = paneStack(page)
            const highlight = named(page, "settingsNavigationHighlight")
            let target = row.first
            if (row.then >= 0) {
                chooseAndSettle(page, row.first)
                target = row.then
            }
            choose(page, target)
            verify(stack.busy)
            const entering = stack.currentItem
            compare(entering.objectName, row.pane)
            if (row.enteringBelow)
                verify(entering.y > 0, "entering at " + entering.y)
            else
                verify(entering.y < 0, "entering at " + entering.y)
            compare(highlight.targetY, target * 48)
            tryCompare(stack, "busy", false)
            compare(entering.y, 0)
            compare(entering.opacity, 1)
            tryCompare(highlight, "y", target * 48)
            compare(named(page, "settingsCategoryList").currentIndex, target)
            verify(named(rowOf(page, target), "settingsCategoryLabel").font.bold)
            verify(!named(rowOf(page, 0), "settingsCategoryLabel").font.bold)
        }

        // Animations off move the highlight at once; the pane slide keeps its own 300 ms.
        function test_slideIgnoresTheAnimationSpeed() {
            SettingsController.animationSpeedMultiplier = 0
            const page = openPage(makeHost())
            const stack = paneStack(page)
            const highlight = named(page, "settingsNavigationHighlight")
            const started = Date.now()
            choose(page, 2)
            compare(highlight.y, 2 * 48)
            verify(stack.busy)
            const entering = stack.currentItem
            // Somewhere in the middle of its way, neither at the start nor at the end.
            tryVerify(() => entering.y > 0 && entering.y < stack.height, 5000)
            tryCompare(stack, "busy", false)
            verify(Date.now() - started >= 290, "the slide took " + (Date.now() - started) + " ms")
            compare(entering.y, 0)
        }

        function test_editsAreLostWithThePane() {
            const page = openPage(makeHost())
            const fullName = named(paneStack(page).currentItem, "profileFullName")
            compare(fullName.text, "Amina Hassan")
            fullName.text = "Someone Else"
            chooseAndSettle(page, 1)
            chooseAndSettle(page, 0)
            const again = named(paneStack(page).currentItem, "profileFullName")
            verify(again !== fullName)
            compare(again.text, page.profileController.fullName)
            compare(again.text, "Amina Hassan")
        }

        function test_languageSwitchKeepsTheCategory() {
            const page = openPage(makeHost())
            const list = named(page, "settingsCategoryList")
            const back = named(page, "settingsBackButton")
            chooseAndSettle(page, 2)
            const pane = paneStack(page).currentItem
            SettingsController.language = "ar"
            compare(named(page, "settingsTitle").text, "الإعدادات")
            compare(named(rowOf(page, 0), "settingsCategoryLabel").text, "الملف الشخصي")
            compare(named(rowOf(page, 2), "settingsCategoryLabel").text, "المظهر")
            compare(named(page, "signOutButton").text, "تسجيل الخروج")
            compare(list.currentIndex, 2)
            verify(named(rowOf(page, 2), "settingsCategoryLabel").font.bold)
            verify(!named(rowOf(page, 0), "settingsCategoryLabel").font.bold)
            compare(named(page, "settingsNavigationHighlight").targetY, 2 * 48)
            verify(paneStack(page).currentItem === pane)
            compare(xIn(back, page) + back.width, page.width - 24)
            // The row lays itself out again on the next polish.
            const navigation = named(page, "settingsNavigationPane")
            tryVerify(() => xIn(navigation, page) === page.width - 24 - navigation.width)

            SettingsController.language = "en"
            compare(named(rowOf(page, 0), "settingsCategoryLabel").text, "Profile")
            compare(named(page, "settingsTitle").text, "Settings")
            compare(list.currentIndex, 2)
            compare(xIn(back, page), 24)
            tryVerify(() => xIn(navigation, page) === 24)
        }

        function test_eachOpeningAsksAgain() {
            const host = makeHost()
            const page = openPage(host)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            compare(server.requestsOf("GET", server.profilePath).length, 1)
            compare(server.requestsOf("GET", server.telegramPath).length, 1)
            host.stack.pop(StackView.Immediate)
            tryCompare(host.stack, "busy", false)
            const second = openPage(host)
            verify(second.profileController !== null)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            compare(server.requestsOf("GET", server.profilePath).length, 2)
            compare(server.requestsOf("GET", server.telegramPath).length, 2)
        }

        function test_logoutFromHome() {
            const host = makeHost()
            mouseClick(named(host.stack.currentItem, "homeOpenSettingsButton"))
            tryCompare(host.stack, "busy", false)
            const page = host.stack.currentItem
            compare(page.objectName, "profileSettingsPage")
            compare(host.stack.depth, 2)
            mouseClick(named(page, "signOutButton"))
            tryCompare(host.stack, "busy", false)
            verify(!NetworkManager.isAuthenticated)
            compare(host.stack.depth, 1)
            compare(host.stack.currentItem.objectName, "loginPage")
        }

        function openDeletionDialog(page) {
            chooseAndSettle(page, 1)
            mouseClick(named(paneStack(page).currentItem, "securityDeleteButton"))
            const dialog = named(page, "settingsDeleteDialog")
            tryCompare(dialog, "opened", true)
            compare(Theme.activeDialogs, 1)
            compare(dialog.headerText, "Delete account")
            compare(dialog.bodyText, "Are you sure you want to delete your account? This action cannot be undone.")
            compare(dialog.confirmText, "Delete")
            compare(dialog.cancelText, "Cancel")
            compare(dialog.headerColor, Theme.error)
            compare(dialog.confirmColor, Theme.error)
            return dialog
        }

        function test_deletionCancelled_data() {
            return [{ tag: "Cancel", escape: false }, { tag: "Escape", escape: true }]
        }

        function test_deletionCancelled(row) {
            const host = makeHost()
            const page = openPage(host)
            const dialog = openDeletionDialog(page)
            if (row.escape)
                keyClick(Qt.Key_Escape)
            else
                mouseClick(named(dialog, "quorinDialogCancelButton"))
            tryCompare(dialog, "visible", false)
            tryCompare(Theme, "activeDialogs", 0)
            compare(server.requestsOf("DELETE", server.userPath).length, 0)
            verify(NetworkManager.isAuthenticated)
            verify(host.stack.currentItem === page)
        }

        function test_deletionAccepted() {
            const host = makeHost()
            Fixture.respond(server.userPath, 204, "")
            const page = openPage(host)
            const dialog = openDeletionDialog(page)
            mouseClick(named(dialog, "quorinDialogConfirmButton"))
            tryVerify(() => server.requestsOf("DELETE", server.userPath).length === 1, 10000)
            tryVerify(() => !NetworkManager.isAuthenticated, 10000)
            tryVerify(() => host.stack.currentItem.objectName === "loginPage", 10000)
            tryCompare(host.stack, "busy", false)
            compare(host.stack.depth, 1)
            tryCompare(Theme, "activeDialogs", 0)
        }

        function test_deletionFailed() {
            const host = makeHost()
            Fixture.respond(server.userPath, 500, { message: "The account could not be deleted." })
            const page = openPage(host)
            const dialog = openDeletionDialog(page)
            mouseClick(named(dialog, "quorinDialogConfirmButton"))
            tryCompare(page.profileController, "state", "failed", 10000)
            tryCompare(dialog, "visible", false)
            compare(server.requestsOf("DELETE", server.userPath).length, 1)
            compare(Snackbar.message, "The account could not be deleted.")
            compare(Snackbar.severity, "error")
            verify(NetworkManager.isAuthenticated)
            verify(host.stack.currentItem === page)
            compare(host.stack.depth, 2)
            chooseAndSettle(page, 0)
            const notice = named(paneStack(page).currentItem, "profileFailureNotice")
            verify(notice.visible)
            compare(notice.title, "Profile could not be loaded")
            compare(notice.message, "The account could not be deleted.")
        }

        function test_backReturnsHome() {
            const host = makeHost()
            openPage(host)
            mouseClick(named(host.stack.currentItem, "settingsBackButton"))
            tryCompare(host.stack, "busy", false)
            compare(host.stack.depth, 1)
            compare(host.stack.currentItem.objectName, "homePage")
        }

        // The page and its controller are gone when the answer comes; nothing shows it.
        function test_answerAfterBackChangesNothing() {
            const host = makeHost()
            Fixture.script(server.profilePath, [{ body: server.storedProfile, held: true }, { body: server.storedProfile }])
            const page = host.openSettings()
            tryVerify(() => server.requestsOf("GET", server.profilePath).length === 1, 10000)
            mouseClick(named(page, "settingsBackButton"))
            tryCompare(host.stack, "busy", false)
            compare(host.stack.currentItem.objectName, "homePage")
            Fixture.release(server.profilePath)
            // A later answer on the same route, after the held one has gone out.
            UserIdentity.fetchProfile()
            tryCompare(UserIdentity, "loading", false, 10000)
            compare(host.stack.depth, 1)
            compare(host.stack.currentItem.objectName, "homePage")
            verify(NetworkManager.isAuthenticated)
        }
    }
}
