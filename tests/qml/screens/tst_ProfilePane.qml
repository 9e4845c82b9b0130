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

    readonly property string longNickname: "n".repeat(64)

    Component {
        id: hostComponent

        SettingsPageHost {}
    }

    SettingsFixture {
        id: server
    }

    TestCase {
        id: profileTest

        name: "ProfilePane"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            SettingsController.usageTelemetryEnabled = true
            Fixture.reset()
            Fixture.clearMessages()
            server.serve()
            if (!NetworkManager.isAuthenticated)
                TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
            tryCompare(UserIdentity, "loading", false, 10000)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
            Fixture.clearRequests()
            Fixture.clearSettingsRequests()
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
            SettingsController.usageTelemetryEnabled = true
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        function makeHost() {
            const host = createTemporaryObject(hostComponent, root)
            verify(host)
            tryVerify(() => host.stack && host.stack.currentItem
                      && host.stack.currentItem.objectName === "homePage", 10000)
            tryCompare(host.stack, "busy", false)
            return host
        }

        // The settings page over the home page, its pane stack settled; the answers may be held.
        function openPage() {
            const page = makeHost().openSettings()
            verify(page)
            tryCompare(named(page, "settingsPaneStack"), "busy", false)
            return page
        }

        function paneOf(page) {
            const pane = named(page, "settingsPaneStack").currentItem
            compare(pane.objectName, "profilePaneScrollView")
            return pane
        }

        function loadedPane(profile) {
            if (profile !== undefined)
                server.serve(profile)
            const page = openPage()
            tryCompare(page.profileController, "state", "ready", 10000)
            const pane = paneOf(page)
            tryVerify(() => page.profileController.institutions.length === 3, 10000)
            return { page: page, pane: pane, controller: page.profileController }
        }

        function choose(page, index) {
            mouseClick(named(named(page, "settingsCategoryList"), "settingsCategory" + index))
            tryCompare(named(page, "settingsPaneStack"), "busy", false)
        }

        // Scrolls the pane until the item is in view, and clicks it.
        function clickInPane(pane, item) {
            const flickable = pane.contentItem
            const top = item.mapToItem(flickable.contentItem, 0, 0).y
            flickable.contentY = Math.max(0, Math.min(top - 16, flickable.contentHeight - flickable.height))
            mouseClick(item)
        }

        function save(pane) {
            clickInPane(pane, named(pane, "profileSaveButton"))
        }

        function selectorState(pane) {
            const selector = named(pane, "profileEducation")
            return {
                level: selector.educationLevel,
                institution: selector.institutionId,
                year: selector.yearId,
                levelIndex: named(selector, "educationLevelSelector").currentIndex,
                yearIndex: named(selector, "academicYearSelector").currentIndex
            }
        }

        function test_storedEducationWhateverArrivesLast_data() {
            return [
                { tag: "profile last", held: server.profilePath },
                { tag: "institutions last", held: "institutions" }
            ]
        }

        function test_storedEducationWhateverArrivesLast(row) {
            const answer = row.held === server.profilePath ? server.storedProfile : server.institutions
            Fixture.script(row.held, [{ body: answer, held: true }])
            const page = openPage()
            const controller = page.profileController
            const pane = paneOf(page)
            const other = row.held === server.profilePath ? "institutions" : server.profilePath
            if (other === "institutions")
                tryVerify(() => controller.institutions.length === 3, 10000)
            else
                tryCompare(controller, "fullName", "Amina Hassan", 10000)
            tryVerify(() => Fixture.requests(row.held).length === 1, 10000)
            Fixture.release(row.held)
            tryCompare(controller, "state", "ready", 10000)
            tryVerify(() => controller.institutions.length === 3, 10000)
            tryCompare(named(pane, "profileEducation"), "yearId", "y-12", 5000)
            compare(selectorState(pane), { level: "UNIVERSITY", institution: "i-2", year: "y-12", levelIndex: 1,
                                           yearIndex: 1 })
            compare(pane.filteredInstitutions.map(entry => entry.id), ["i-2", "i-3"])
            compare(pane.availableYears.map(entry => entry.id), ["y-11", "y-12"])
            compare(named(pane, "profileFullName").text, "Amina Hassan")
            compare(named(pane, "profileNickname").text, "amina")
        }

        function test_withoutEducationEveryInstitutionIsOffered() {
            const loaded = loadedPane(server.profileWithoutEducation)
            compare(selectorState(loaded.pane), { level: "", institution: "", year: "", levelIndex: -1, yearIndex: -1 })
            compare(loaded.pane.filteredInstitutions.map(entry => entry.id), ["i-1", "i-2", "i-3"])
        }

        function test_save_data() {
            const refused = "Nickname must contain 1–64 characters."
            return [
                { tag: "blank nickname", fullName: "A", nickname: "   ", failure: refused },
                { tag: "65-character nickname", fullName: "A", nickname: root.longNickname + "n", failure: refused },
                { tag: "64-character nickname", fullName: "A", nickname: root.longNickname,
                  sent: { fullName: "A", nickname: root.longNickname, yearId: null } },
                { tag: "blank full name", fullName: "   ", nickname: "n",
                  failure: "Enter a full name and quiz nickname." },
                { tag: "trimmed", fullName: " A ", nickname: " n ", sent: { fullName: "A", nickname: "n", yearId: null },
                  shown: { fullName: "A", nickname: "n" } },
                { tag: "level only", fullName: "A", nickname: "n", levelOnly: true }
            ]
        }

        function test_save(row) {
            const loaded = loadedPane(server.profileWithoutEducation)
            const pane = loaded.pane
            const selector = named(pane, "profileEducation")
            const failureNotice = named(pane, "profileFailureNotice")
            Fixture.respond(server.userPath, 200, {})
            if (row.sent)
                Fixture.respond(server.profilePath, 200, Object.assign({}, server.profileWithoutEducation, row.sent))
            named(pane, "profileFullName").text = row.fullName
            named(pane, "profileNickname").text = row.nickname
            if (row.levelOnly) {
                const level = named(selector, "educationLevelSelector")
                level.currentIndex = 0
                level.activated(0)
                compare(selector.educationLevel, "SCHOOL")
                compare(pane.filteredInstitutions.map(entry => entry.id), ["i-1"])
            }
            save(pane)
            verify(pane.saveValidationRequested)
            verify(selector.showValidation)
            if (row.sent) {
                tryCompare(pane, "feedback", "Profile updated successfully!", 10000)
                const patches = server.requestsOf("PATCH", server.userPath)
                compare(patches.length, 1)
                compare(patches[0].body, row.sent)
                verify(named(pane, "profileSuccessNotice").visible)
                compare(named(pane, "profileSuccessNotice").severity, "success")
                verify(!failureNotice.visible)
                verify(!pane.saveValidationRequested)
                verify(!selector.showValidation)
                if (row.shown) {
                    compare(named(pane, "profileFullName").text, row.shown.fullName)
                    compare(named(pane, "profileNickname").text, row.shown.nickname)
                }
                return
            }
            if (row.failure) {
                tryCompare(loaded.controller, "state", "failed")
                verify(failureNotice.visible)
                compare(failureNotice.title, "Profile could not be loaded")
                compare(failureNotice.message, row.failure)
                compare(failureNotice.actionText, "")
                verify(!named(failureNotice, "noticeActionButton").visible)
            } else {
                const validation = named(selector, "educationValidationMessage")
                verify(validation.visible)
                compare(validation.text,
                        "Complete your educational level, institution, and academic year, or clear the education selection.")
                verify(!failureNotice.visible)
                compare(loaded.controller.state, "ready")
            }
            compare(server.requestsOf("PATCH", server.userPath).length, 0)
            compare(pane.feedback, "")
        }

        function test_secondSaveWhileOneRuns() {
            const loaded = loadedPane()
            const pane = loaded.pane
            const selector = named(pane, "profileEducation")
            Fixture.respond(server.userPath, 200, {})
            save(pane)
            tryCompare(pane, "feedback", "Profile updated successfully!", 10000)
            verify(!selector.showValidation)
            Fixture.script(server.userPath, [{ status: 200, body: {}, held: true }])
            save(pane)
            compare(pane.feedback, "")
            verify(loaded.controller.isLoading)
            save(pane)
            compare(pane.feedback, "")
            verify(selector.showValidation)
            verify(pane.saveValidationRequested)
            tryVerify(() => server.requestsOf("PATCH", server.userPath).length === 2, 10000)
            Fixture.release(server.userPath)
            tryCompare(pane, "feedback", "Profile updated successfully!", 10000)
            compare(server.requestsOf("PATCH", server.userPath).length, 2)
            compare(server.requestsOf("PATCH", server.userPath)[1].body,
                    { fullName: "Amina Hassan", nickname: "amina", yearId: "y-12" })
        }

        function test_retryAfterAFailedLoad() {
            Fixture.respond(server.profilePath, 503, { message: "The service is resting." })
            const page = openPage()
            const pane = paneOf(page)
            tryCompare(page.profileController, "state", "failed", 10000)
            const notice = named(pane, "profileFailureNotice")
            verify(notice.visible)
            compare(notice.message, "The service is resting.")
            compare(notice.severity, "critical")
            compare(notice.actionText, "Retry")
            tryVerify(() => Fixture.requests("institutions").length === 1, 10000)
            compare(Fixture.requests(server.profilePath).length, 1)
            server.serve()
            clickInPane(pane, named(notice, "noticeActionButton"))
            tryCompare(page.profileController, "state", "ready", 10000)
            tryVerify(() => Fixture.requests("institutions").length === 2, 10000)
            compare(Fixture.requests(server.profilePath).length, 2)
            verify(!notice.visible)
            compare(named(pane, "profileFullName").text, "Amina Hassan")
        }

        function test_spinnerWhileTheLoadIsHeld() {
            Fixture.script(server.profilePath, [{ body: server.storedProfile, held: true }])
            const page = openPage()
            const spinner = named(paneOf(page), "profileLoadingSpinner")
            tryVerify(() => Fixture.requests(server.profilePath).length === 1, 10000)
            verify(spinner.visible)
            verify(spinner.running)
            verify(named(paneOf(page), "profileSaveButton").isLoading)
            Fixture.release(server.profilePath)
            tryCompare(spinner, "visible", false, 10000)
        }

        function test_passwordFailureShowsOnTheProfilePane() {
            Fixture.respond(server.passwordPath, 400, { message: "The current password is incorrect." })
            const loaded = loadedPane()
            choose(loaded.page, 1)
            const security = named(loaded.page, "settingsPaneStack").currentItem
            mouseClick(named(security, "securityUpdateButton"))
            tryCompare(loaded.controller, "state", "failed", 10000)
            choose(loaded.page, 0)
            const notice = named(paneOf(loaded.page), "profileFailureNotice")
            verify(notice.visible)
            compare(notice.title, "Profile could not be loaded")
            compare(notice.message, "The current password is incorrect.")
        }

        // An empty "years" leaves the years under "academicYears"; the save carries the one chosen.
        function test_yearsUnderAcademicYears() {
            const loaded = loadedPane(server.profileWithoutEducation)
            const pane = loaded.pane
            const selector = named(pane, "profileEducation")
            Fixture.respond(server.userPath, 200, {})
            const level = named(selector, "educationLevelSelector")
            level.currentIndex = 1
            level.activated(1)
            compare(pane.filteredInstitutions.map(entry => entry.id), ["i-2", "i-3"])
            named(selector, "institutionSelector").activated("i-3")
            compare(pane.availableYears.map(entry => entry.id), ["y-31"])
            const year = named(selector, "academicYearSelector")
            compare(year.count, 1)
            year.currentIndex = 0
            year.activated(0)
            compare(selector.yearId, "y-31")
            verify(selector.acceptableInput)
            save(pane)
            tryVerify(() => server.requestsOf("PATCH", server.userPath).length === 1, 10000)
            compare(server.requestsOf("PATCH", server.userPath)[0].body.yearId, "y-31")
        }

        function test_telemetrySwitch() {
            const loaded = loadedPane()
            const toggle = named(loaded.pane, "profileTelemetrySwitch")
            verify(toggle.checked)
            Fixture.clearRequests()
            Fixture.clearSettingsRequests()
            clickInPane(loaded.pane, toggle)
            verify(!SettingsController.usageTelemetryEnabled)
            compare(Fixture.requests().length, 0)
            compare(Fixture.settingsRequests(), [])
            choose(loaded.page, 1)
            choose(loaded.page, 0)
            verify(!named(paneOf(loaded.page), "profileTelemetrySwitch").checked)
        }
    }
}
