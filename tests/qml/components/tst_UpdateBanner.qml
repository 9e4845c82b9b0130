import QtQuick
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 1024
    height: 768

    Component {
        id: bannerComponent

        UpdateBanner {
            x: 20
            y: 20
            version: "1.0.9"
            progress: 0.4
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        id: testCase

        name: "UpdateBanner"
        when: windowShown

        // UpdateController's states, by name.
        readonly property int idle: 0
        readonly property int checking: 1
        readonly property int upToDate: 2
        readonly property int available: 3
        readonly property int downloading: 4
        readonly property int ready: 5
        readonly property int offlineGrace: 6
        readonly property int required: 7
        readonly property int error: 8

        function init() {
            SettingsController.themeMode = "light"
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const banner = createTemporaryObject(bannerComponent, root, properties || {})
            verify(banner)
            return banner
        }

        function part(banner, name) {
            const found = findChild(banner, name)
            verify(found, name)
            return found
        }

        function spyOn(banner, signalName) {
            return createTemporaryObject(spyComponent, testCase, { target: banner, signalName: signalName })
        }

        function test_states_data() {
            const title = "Quorin 1.0.9 is available"
            const hidden = { shown: false }
            const rows = [
                { tag: "Idle", state: idle },
                { tag: "Checking", state: checking },
                { tag: "UpToDate", state: upToDate },
                { tag: "Error", state: error, errorMessage: "The update download failed." },
                { tag: "Required", state: required, required: true },
                { tag: "Available", state: available, shown: true, title: title,
                  body: "Download and install when convenient.", primary: "Update" },
                { tag: "Downloading", state: downloading, shown: true, title: title, body: "Downloading update…",
                  bar: true },
                { tag: "Ready", state: ready, shown: true, title: title, body: "The verified installer is ready.",
                  primary: "Install" },
                { tag: "Ready, the desktop could not open it", state: ready, shown: true, title: title,
                  errorMessage: "Open the downloaded package with your system's software installer.",
                  body: "Open the downloaded package with your system's software installer.", primary: "Install" },
                { tag: "Downloading, with an earlier message", state: downloading, shown: true, title: title,
                  errorMessage: "Open the downloaded package with your system's software installer.",
                  body: "Downloading update…", bar: true },
                { tag: "Available, required", state: available, required: true },
                { tag: "Available, dismissed", state: available, dismissed: true },
                { tag: "Downloading, required", state: downloading, required: true },
                { tag: "Ready, dismissed", state: ready, dismissed: true },
                { tag: "OfflineGrace, required and dismissed", state: offlineGrace, required: true, dismissed: true,
                  shown: true, grace: true, title: "A required update could not be checked",
                  body: "Connect within 1 hours to keep using Quorin." },
                { tag: "OfflineGrace", state: offlineGrace, shown: true, grace: true,
                  title: "A required update could not be checked",
                  body: "Connect within 1 hours to keep using Quorin." }
            ]
            return rows
        }

        function test_states(row) {
            const banner = make({ updateState: row.state, updateRequired: row.required === true,
                                  dismissed: row.dismissed === true, errorMessage: row.errorMessage || "" })
            compare(banner.shouldShow, row.shown === true)
            compare(banner.visible, row.shown === true)
            if (!row.shown)
                return

            const grace = row.grace === true
            const titleText = part(banner, "updateBannerTitle")
            compare(titleText.text, row.title)
            verify(titleText.font.bold)
            verify(Checks.coloursClose(titleText.color, grace ? Theme.warning : Theme.text, 0))
            compare(part(banner, "updateBannerBody").text, row.body)
            verify(Checks.coloursClose(part(banner, "updateBannerBody").color, Theme.textSecondary, 0))
            compare(banner.Accessible.role, Accessible.AlertMessage)
            compare(banner.Accessible.name, grace ? "Required update grace period warning" : "Software update available")

            const background = part(banner, "updateBannerBackground")
            compare(background.border.width, 1)
            compare(background.radius, Theme.radius)
            if (grace) {
                verify(Checks.coloursClose(background.border.color, Theme.warning, 0))
                verify(Checks.coloursClose(background.color, Qt.rgba(Theme.warning.r, Theme.warning.g, Theme.warning.b,
                                                                     0.15), 1))
            } else {
                verify(Checks.coloursClose(background.border.color, Theme.borderStrong, 0))
                verify(Checks.coloursClose(background.color, Theme.surfaceElevated, 0))
            }

            const bar = part(banner, "updateBannerProgress")
            compare(bar.visible, row.bar === true)
            compare(bar.value, 0.4)
            compare(bar.Accessible.name, "Update download progress")

            const primary = part(banner, "updateBannerPrimaryButton")
            const dismiss = part(banner, "updateBannerDismissButton")
            compare(primary.visible, row.primary !== undefined)
            compare(dismiss.visible, row.primary !== undefined)
            if (row.primary !== undefined) {
                compare(primary.text, row.primary)
                compare(primary.Accessible.name, row.primary)
                compare(dismiss.text, "Dismiss")
                verify(dismiss.isOutline)
                compare(dismiss.Accessible.name, "Dismiss this update notification")
            }
            verify(banner.implicitWidth >= 320)
        }

        function test_graceHours_data() {
            return [
                { tag: "0 s", seconds: 0, hours: "1" },
                { tag: "30 s", seconds: 30, hours: "1" },
                { tag: "90 s", seconds: 90, hours: "1" },
                { tag: "3600 s", seconds: 3600, hours: "1" },
                { tag: "3601 s", seconds: 3601, hours: "2" },
                { tag: "7200 s", seconds: 7200, hours: "2" },
                { tag: "7201 s", seconds: 7201, hours: "3" },
                { tag: "72 hours", seconds: 259200, hours: "72" }
            ]
        }

        function test_graceHours(row) {
            const banner = make({ updateState: offlineGrace, graceRemainingSeconds: row.seconds })
            compare(part(banner, "updateBannerBody").text, "Connect within " + row.hours + " hours to keep using Quorin.")
            // The main window updates the seconds as the grace period runs.
            banner.graceRemainingSeconds = 36000
            compare(part(banner, "updateBannerBody").text, "Connect within 10 hours to keep using Quorin.")
        }

        function test_graceHoursInArabicAreAsciiDigits_data() {
            return test_graceHours_data()
        }

        function test_graceHoursInArabicAreAsciiDigits(row) {
            SettingsController.language = "ar"
            const banner = make({ updateState: offlineGrace, graceRemainingSeconds: row.seconds })
            const text = part(banner, "updateBannerBody").text
            verify(text.indexOf(row.hours) >= 0, text)
            verify(!/[\u0660-\u0669\u06F0-\u06F9]/.test(text), text)
            verify(text.indexOf("Connect within") < 0, text)
        }

        function test_buttonsEmitOnce_data() {
            return [
                { tag: "Update", state: available, button: "updateBannerPrimaryButton", signal: "updateRequested" },
                { tag: "Install", state: ready, button: "updateBannerPrimaryButton", signal: "installRequested" },
                { tag: "Dismiss when available", state: available, button: "updateBannerDismissButton",
                  signal: "dismissRequested" },
                { tag: "Dismiss when ready", state: ready, button: "updateBannerDismissButton",
                  signal: "dismissRequested" }
            ]
        }

        function test_buttonsEmitOnce(row) {
            const banner = make({ updateState: row.state })
            const spies = {}
            for (const name of ["updateRequested", "installRequested", "dismissRequested"])
                spies[name] = spyOn(banner, name)
            mouseClick(part(banner, row.button))
            for (const name in spies)
                compare(spies[name].count, name === row.signal ? 1 : 0, name)
        }

        function test_implicitWidth() {
            const narrow = make({ updateState: downloading, version: "1" })
            compare(narrow.implicitWidth, 320)
            const wide = make({ updateState: available,
                                version: "1.0.9-release-candidate.with.a.very.long.pre-release.name" })
            const row = wide.contentItem
            verify(row.implicitWidth + 2 * Theme.spacing > 320)
            compare(wide.implicitWidth, row.implicitWidth + 2 * Theme.spacing)
            compare(wide.padding, Theme.spacing)
        }
    }
}
