import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

Item {
    id: root

    width: 1000
    height: 900

    Component {
        id: hostComponent

        SettingsPageHost {}
    }

    SettingsFixture {
        id: server
    }

    // The pane alone, with a controller of its own that has not been asked anything.
    Component {
        id: lonePaneComponent

        SecurityPane {
            height: 600
            profile: ProfileController {}
        }
    }

    SignalSpy {
        id: deleteSpy

        signalName: "deleteRequested"
    }

    TestCase {
        id: securityTest

        name: "SecurityPane"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            Fixture.reset()
            Fixture.clearMessages()
            server.serve()
            if (!NetworkManager.isAuthenticated)
                TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
            tryCompare(UserIdentity, "loading", false, 10000)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            Fixture.clearRequests()
            deleteSpy.clear()
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        // The security pane of a settings page, the page's profile answered unless held.
        function openPane(holdProfile) {
            if (holdProfile)
                Fixture.script(server.profilePath, [{ body: server.storedProfile, held: true }])
            const host = createTemporaryObject(hostComponent, root)
            verify(host)
            tryVerify(() => host.stack && host.stack.currentItem
                      && host.stack.currentItem.objectName === "homePage", 10000)
            const page = host.openSettings()
            if (!holdProfile)
                tryCompare(page.profileController, "state", "ready", 10000)
            const stack = named(page, "settingsPaneStack")
            tryCompare(stack, "busy", false)
            const list = named(page, "settingsCategoryList")
            tryVerify(() => findChild(list, "settingsCategory1") !== null)
            mouseClick(findChild(list, "settingsCategory1"))
            tryCompare(stack, "busy", false)
            const scroll = stack.currentItem
            compare(scroll.objectName, "settingsSecurityScroll")
            return { page: page, controller: page.profileController, pane: named(scroll, "securityStatusLine").parent }
        }

        function fill(pane, current, fresh, confirmation) {
            named(pane, "securityCurrentPassword").text = current
            named(pane, "securityNewPassword").text = fresh
            named(pane, "securityConfirmPassword").text = confirmation
        }

        function fields(pane) {
            return [named(pane, "securityCurrentPassword").text, named(pane, "securityNewPassword").text,
                    named(pane, "securityConfirmPassword").text]
        }

        function passwordRequests() {
            return server.requestsOf("POST", server.passwordPath)
        }

        function test_fieldsHidePasswords() {
            const opened = openPane(false)
            for (const name of ["securityCurrentPassword", "securityNewPassword", "securityConfirmPassword"]) {
                const field = named(opened.pane, name)
                compare(field.echoMode, TextInput.Password)
                verify(field.passwordRevealEnabled)
            }
        }

        function test_mismatch() {
            const opened = openPane(false)
            fill(opened.pane, "old-secret", "new-secret1", "new-secret2")
            mouseClick(named(opened.pane, "securityUpdateButton"))
            const notice = named(opened.pane, "securityErrorNotice")
            compare(notice.message, "Passwords do not match!")
            verify(notice.visible)
            compare(named(opened.pane, "securityStatusLine").text, "")
            verify(!named(opened.pane, "securityStatusLine").visible)
            compare(opened.controller.isLoading, false)
            compare(passwordRequests().length, 0)
        }

        function test_emptyFieldsAreSentAsTheyAre() {
            Fixture.respond(server.passwordPath, 200, {})
            const opened = openPane(false)
            mouseClick(named(opened.pane, "securityUpdateButton"))
            compare(named(opened.pane, "securityStatusLine").text, "Updating...")
            tryVerify(() => passwordRequests().length === 1, 10000)
            compare(passwordRequests()[0].text, '{"currentPassword":"","newPassword":""}')
        }

        function test_success() {
            Fixture.respond(server.passwordPath, 200, {})
            const opened = openPane(false)
            fill(opened.pane, "old-secret", "new-secret", "new-secret")
            mouseClick(named(opened.pane, "securityUpdateButton"))
            const status = named(opened.pane, "securityStatusLine")
            tryCompare(status, "text", "Password updated successfully!", 10000)
            verify(status.visible)
            compare(status.color, Theme.primary)
            compare(fields(opened.pane), ["", "", ""])
            verify(!named(opened.pane, "securityErrorNotice").visible)
            compare(passwordRequests()[0].body, { currentPassword: "old-secret", newPassword: "new-secret" })
        }

        function test_refusedByTheServer() {
            Fixture.respond(server.passwordPath, 400, { message: "The current password is incorrect." })
            const opened = openPane(false)
            fill(opened.pane, "wrong", "new-secret", "new-secret")
            mouseClick(named(opened.pane, "securityUpdateButton"))
            const notice = named(opened.pane, "securityErrorNotice")
            tryCompare(notice, "message", "The current password is incorrect.", 10000)
            compare(notice.severity, opened.controller.failure.severity)
            compare(notice.severity, "error")
            compare(notice.details, opened.controller.failure.technicalDetails)
            compare(named(opened.pane, "securityStatusLine").text, "")
            compare(fields(opened.pane), ["wrong", "new-secret", "new-secret"])

            // A mismatch afterwards changes only the message.
            named(opened.pane, "securityConfirmPassword").text = "new-secreT"
            mouseClick(named(opened.pane, "securityUpdateButton"))
            compare(notice.message, "Passwords do not match!")
            compare(notice.details, opened.controller.failure.technicalDetails)
            compare(passwordRequests().length, 1)
        }

        // The controller would drop the call while the profile loads; the button waits instead.
        function test_waitsForTheProfile() {
            Fixture.respond(server.passwordPath, 200, {})
            const opened = openPane(true)
            tryVerify(() => Fixture.requests(server.profilePath).length === 1, 10000)
            const button = named(opened.pane, "securityUpdateButton")
            verify(opened.controller.isLoading)
            verify(!button.enabled)
            fill(opened.pane, "old-secret", "new-secret", "new-secret")
            mouseClick(button)
            compare(named(opened.pane, "securityStatusLine").text, "")
            Fixture.release(server.profilePath)
            tryCompare(button, "enabled", true, 10000)
            compare(passwordRequests().length, 0)
            mouseClick(button)
            compare(named(opened.pane, "securityStatusLine").text, "Updating...")
            tryVerify(() => passwordRequests().length === 1, 10000)
        }

        function test_buttonPlacement_data() {
            return [
                { tag: "419 px", width: 419, stacked: true },
                { tag: "420 px", width: 420, stacked: false },
                // As in the page, where the pane starts without a width and then takes the wrapper's.
                { tag: "grown to 420 px", from: 0, width: 420, stacked: false },
                { tag: "shrunk to 419 px", from: 800, width: 419, stacked: true }
            ]
        }

        function test_buttonPlacement(row) {
            const pane = createTemporaryObject(lonePaneComponent, root, { width: row.from === undefined ? row.width : row.from })
            verify(pane)
            if (row.from !== undefined) {
                waitForRendering(pane)
                pane.width = row.width
            }
            compare(pane.compactLayout, row.stacked)
            verifyButtonPlacement(pane, row.stacked)
        }

        // In the page, the pane takes its wrapper's width after it was made.
        function test_buttonPlacementInThePage() {
            const opened = openPane(false)
            verify(opened.pane.width >= 420, "the pane is " + opened.pane.width + " px wide")
            verifyButtonPlacement(opened.pane, false)
        }

        // Stacked: both buttons fill the width, "Delete account" above; else both ends of one row.
        function verifyButtonPlacement(pane, stacked) {
            const width = pane.width
            const remove = named(pane, "securityDeleteButton")
            const update = named(pane, "securityUpdateButton")
            const placement = () => {
                const removeAt = remove.mapToItem(pane, 0, 0)
                const updateAt = update.mapToItem(pane, 0, 0)
                return { removeX: removeAt.x, removeY: removeAt.y, removeWidth: remove.width,
                         updateX: updateAt.x, updateY: updateAt.y, updateRight: updateAt.x + update.width,
                         halfWidth: remove.width < width / 2 }
            }
            const expected = stacked
                    ? { removeX: 0, removeWidth: width, updateX: 0, updateRight: width }
                    : { removeX: 0, updateRight: width, halfWidth: true }
            const matches = () => {
                const now = placement()
                for (const key in expected) {
                    if (now[key] !== expected[key])
                        return false
                }
                return stacked ? now.updateY === now.removeY + remove.height + 8 : now.updateY === now.removeY
            }
            tryVerify(matches, 2000, JSON.stringify(placement()))
        }

        function test_deleteOnlyAsks() {
            const pane = createTemporaryObject(lonePaneComponent, root, { width: 600 })
            deleteSpy.target = pane
            fill(pane, "a", "b", "c")
            mouseClick(named(pane, "securityDeleteButton"))
            compare(deleteSpy.count, 1)
            compare(fields(pane), ["a", "b", "c"])
            compare(named(pane, "securityStatusLine").text, "")
            verify(!named(pane, "securityErrorNotice").visible)
            compare(pane.profile.state, "idle")
            compare(Fixture.requests().length, 0)
        }
    }
}
