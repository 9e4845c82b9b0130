import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The about pane alone, over the real SettingsController and the doubles of the update and
// changelog controllers; links handed to the desktop are read back from the fixture.
Item {
    id: root

    width: 800
    height: 900
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    Component {
        id: paneComponent

        AboutPane {
            width: 600
        }
    }

    function findNamed(item, objectName) {
        if (!item)
            return null
        if (item.objectName === objectName)
            return item
        const children = item.children || []
        for (let index = 0; index < children.length; ++index) {
            const found = findNamed(children[index], objectName)
            if (found)
                return found
        }
        return null
    }

    // Every text shown in the item's tree.
    function textsIn(item) {
        let texts = []
        if (item.text !== undefined && typeof item.text === "string" && item.visible)
            texts.push(item.text)
        const children = item.children || []
        for (let index = 0; index < children.length; ++index)
            texts = texts.concat(textsIn(children[index]))
        return texts
    }

    TestCase {
        name: "AboutPane"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.detailedDiagnosticsEnabled = false
            UpdateController.reset()
            Fixture.clearOpenedUrls()
            Fixture.clearSettingsRequests()
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.detailedDiagnosticsEnabled = false
            UpdateController.reset()
        }

        function named(item, objectName) {
            const found = root.findNamed(item, objectName)
            verify(found, objectName)
            return found
        }

        function makePane() {
            const pane = createTemporaryObject(paneComponent, root)
            verify(pane)
            waitForRendering(pane)
            return pane
        }

        function test_headingAndVersion() {
            const pane = makePane()
            compare(named(pane, "aboutHeading").text, "About Quorin Desktop")
            // The version start-up gives the application, which the project's build declares.
            const isolated = "\u2066" + Qt.application.version + "\u2069"
            verify(/^[0-9]+\.[0-9]+\.[0-9]+$/.test(Qt.application.version), Qt.application.version)
            compare(named(pane, "aboutVersion").text, "Version " + isolated)
            SettingsController.language = "ar"
            const version = named(pane, "aboutVersion").text
            verify(version !== "Version " + isolated, "not translated")
            verify(version.indexOf(isolated) >= 0, version)
        }

        function test_updateStates_data() {
            return [
                { tag: "Idle", state: UpdateController.Idle, text: "Updates have not been checked yet.",
                  checkEnabled: true, install: "" },
                { tag: "Checking", state: UpdateController.Checking, text: "Checking for updates…",
                  checkEnabled: false, install: "" },
                { tag: "UpToDate", state: UpdateController.UpToDate, text: "Quorin is up to date.",
                  checkEnabled: true, install: "" },
                { tag: "Available", state: UpdateController.Available, text: "Version 1.2.0 is available.",
                  checkEnabled: true, install: "Update" },
                { tag: "Downloading", state: UpdateController.Downloading, progress: 0.4,
                  text: "Downloading version 1.2.0…", checkEnabled: false, install: "" },
                { tag: "Ready", state: UpdateController.Ready,
                  text: "Version 1.2.0 is verified and ready to install.", checkEnabled: true, install: "Install" },
                { tag: "Ready, the desktop could not open it", state: UpdateController.Ready,
                  error: "Open the downloaded package with your system's software installer.",
                  text: "Open the downloaded package with your system's software installer.", checkEnabled: true,
                  install: "Install" },
                { tag: "Required", state: UpdateController.Required, text: "A required update must be installed.",
                  checkEnabled: true, install: "" },
                { tag: "Error", state: UpdateController.Error, error: "The download stalled.",
                  text: "The download stalled.", checkEnabled: true, install: "" },
            ]
        }

        function test_updateStates(row) {
            const pane = makePane()
            UpdateController.availableVersion = "1.2.0"
            UpdateController.progress = row.progress || 0
            UpdateController.errorMessage = row.error || ""
            UpdateController.state = row.state
            compare(pane.updateStatusText, row.text)
            const status = named(pane, "updateStatus")
            compare(status.text, row.text)
            verify(Qt.colorEqual(status.color, row.state === UpdateController.Error ? Theme.error
                                                                                      : Theme.textSecondary))
            const check = named(pane, "checkForUpdatesButton")
            compare(check.enabled, row.checkEnabled)
            compare(check.Accessible.name, "Check for updates")
            const install = named(pane, "installUpdateButton")
            compare(install.visible, row.install !== "")
            if (row.install !== "") {
                compare(install.text, row.install)
                compare(install.Accessible.name, row.install)
            }
            const progress = named(pane, "updateProgress")
            compare(progress.visible, row.state === UpdateController.Downloading)
            if (progress.visible) {
                fuzzyCompare(progress.value, 0.4, 0.0001)
                compare(progress.Accessible.name, "Update download progress")
            }
        }

        function test_offlineGraceHours_data() {
            return [
                { tag: "5400 s", seconds: 5400, hours: "2" },
                { tag: "3600 s", seconds: 3600, hours: "1" },
                { tag: "60 s", seconds: 60, hours: "1" },
                { tag: "0 s", seconds: 0, hours: "1" },
                { tag: "7201 s", seconds: 7201, hours: "3" },
                { tag: "5400 s in Arabic", seconds: 5400, hours: "2", arabic: true },
            ]
        }

        function test_offlineGraceHours(row) {
            if (row.arabic)
                SettingsController.language = "ar"
            const pane = makePane()
            UpdateController.graceRemainingSeconds = row.seconds
            UpdateController.state = UpdateController.OfflineGrace
            const text = pane.updateStatusText
            if (row.arabic) {
                verify(text.indexOf(row.hours) >= 0, text)
                verify(!/[\u0660-\u0669\u06F0-\u06F9]/.test(text), text)
                verify(text.indexOf("Reconnect") < 0, "not translated: " + text)
            } else {
                compare(text, "Required update check is offline. Reconnect within " + row.hours + " hours.")
            }
        }

        function test_updateActionsReachTheControllers() {
            const pane = makePane()
            mouseClick(named(pane, "checkForUpdatesButton"))
            compare(UpdateController.calls, ["checkForUpdates"])

            UpdateController.availableVersion = "1.2.0"
            UpdateController.state = UpdateController.Available
            mouseClick(named(pane, "installUpdateButton"))
            compare(UpdateController.calls, ["checkForUpdates", "download"])

            UpdateController.state = UpdateController.Ready
            mouseClick(named(pane, "installUpdateButton"))
            compare(UpdateController.calls, ["checkForUpdates", "download", "install"])

            const reopened = ChangelogController.reopenCount
            mouseClick(named(pane, "whatsNewButton"))
            compare(ChangelogController.reopenCount, reopened + 1)
            compare(UpdateController.calls, ["checkForUpdates", "download", "install"])
        }

        function test_websiteAndSupportLinks_data() {
            return [
                { tag: "privacy", button: "privacyPolicyButton", url: "https://quorin.example/privacy-policy" },
                { tag: "terms", button: "termsOfServiceButton", url: "https://quorin.example/terms-of-service" },
                { tag: "support", button: "contactSupportButton", url: SettingsController.supportUrl },
            ]
        }

        function test_websiteAndSupportLinks(row) {
            compare(SettingsController.websiteUrl, "https://quorin.example/")
            const pane = makePane()
            mouseClick(named(pane, row.button))
            compare(Fixture.openedUrls(), [row.url])
            compare(Fixture.settingsRequests(), [])
        }

        function test_diagnosticZip() {
            compare(SettingsController.lastDiagnosticBundlePath, "")
            const pane = makePane()
            const reveal = named(pane, "revealDiagnosticsButton")
            verify(!reveal.visible)

            mouseClick(named(pane, "saveDiagnosticsButton"))
            const path = SettingsController.lastDiagnosticBundlePath
            verify(path.startsWith(TestSetup.downloadsFolder() + "/"), path)
            verify(TestSetup.zipEntries(path).indexOf("system.txt") >= 0, "not a diagnostic ZIP: " + path)
            verify(reveal.visible)
            verify(named(makePane(), "revealDiagnosticsButton").visible)

            mouseClick(reveal)
            compare(Fixture.openedUrls(), ["file://" + TestSetup.downloadsFolder()])

            verify(TestSetup.blockDownloadsFolder())
            mouseClick(named(pane, "saveDiagnosticsButton"))
            compare(SettingsController.lastDiagnosticBundlePath, "")
            verify(!reveal.visible)
            verify(TestSetup.unblockDownloadsFolder())
        }

        function test_detailedDiagnosticsSwitch() {
            const pane = makePane()
            const toggle = named(pane, "detailedDiagnosticsSwitch")
            const label = named(pane, "detailedDiagnosticsLabel")
            compare(toggle.Accessible.name, "Detailed diagnostics for 3 hours")
            verify(!toggle.checked)
            verify(toggle.enabled)
            compare(label.text, "Detailed diagnostics for 3 hours")

            const before = Date.now()
            mouseClick(toggle)
            const after = Date.now()
            verify(SettingsController.detailedDiagnosticsEnabled)
            verify(toggle.checked)
            const expiry = SettingsController.detailedDiagnosticsExpiry.getTime()
            verify(expiry >= before + 10800 * 1000 - 1000 && expiry <= after + 10800 * 1000 + 1000,
                   "ends at " + expiry)
            verify(label.text.startsWith("Detailed diagnostics (ends "), label.text)
            verify(label.text.indexOf("1970") < 0, label.text)

            mouseClick(toggle)
            verify(!SettingsController.detailedDiagnosticsEnabled)
            verify(!toggle.checked)
            compare(label.text, "Detailed diagnostics for 3 hours")
        }
    }

    // Registered a second time as tst_AboutPaneVerbose, with QUORIN_DIAGNOSTICS=verbose, where
    // only this case runs; without the variable it skips.
    TestCase {
        name: "AboutPaneVerbose"
        when: windowShown

        function test_forcedDiagnostics() {
            failOnWarning(/.?/)
            SettingsController.detailedDiagnosticsEnabled = false
            if (!SettingsController.detailedDiagnosticsEnabled)
                skip("runs with QUORIN_DIAGNOSTICS=verbose")
            const pane = createTemporaryObject(paneComponent, root)
            verify(pane)
            const toggle = root.findNamed(pane, "detailedDiagnosticsSwitch")
            const label = root.findNamed(pane, "detailedDiagnosticsLabel")
            verify(toggle.checked)
            verify(!toggle.enabled)
            compare(label.text, "Detailed diagnostics (always on in this session)")
            mouseClick(toggle)
            verify(toggle.checked)
            const texts = root.textsIn(pane)
            verify(texts.length > 5)
            for (const text of texts)
                verify(text.indexOf("1970") < 0, text)
        }
    }
}
