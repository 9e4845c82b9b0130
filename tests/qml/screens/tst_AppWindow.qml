import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 400
    height: 300

    readonly property url mainDocument: "qrc:/qt/qml/Quorin/ui/screens/Main.qml"

    TestCase {
        name: "AppWindow"
        when: windowShown

        property Component mainComponent: null

        function initTestCase() {
            mainComponent = Qt.createComponent(root.mainDocument)
            compare(mainComponent.status, Component.Ready, mainComponent.errorString())
        }

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            UpdateController.reset()
            ChangelogController.shouldShow = false
            Snackbar.clear()
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeWindow() {
            const window = createTemporaryObject(mainComponent, root)
            verify(window, mainComponent.errorString())
            return window
        }

        function part(window, objectName) {
            const found = findChild(window.contentItem, objectName) || findChild(window.overlay, objectName)
            verify(found, objectName)
            return found
        }

        function waitUntilReady(window) {
            tryCompare(part(window, "pageStackLoader"), "status", Loader.Ready, 10000)
        }

        function test_sizeAndTitle_data() {
            return [{ tag: "English", language: "en" }, { tag: "Arabic", language: "ar" }]
        }

        function test_sizeAndTitle(row) {
            SettingsController.language = row.language
            const window = makeWindow()
            compare(window.width, 1024)
            compare(window.height, 768)
            compare(window.minimumWidth, 640)
            compare(window.minimumHeight, 480)
            compare(window.title, "Quorin Desktop")
            compare(part(window, "splashTitle").text, "Quorin Desktop")
            verify(window.visible)
        }

        function test_mirroringFollowsTheLanguageAtOnce() {
            const window = makeWindow()
            const primaryCircle = part(window, "splashPrimaryCircle")
            const variantCircle = part(window, "splashVariantCircle")
            compare(primaryCircle.x, 0)
            compare(variantCircle.x, 200)

            SettingsController.language = "ar"
            compare(primaryCircle.x, 150, "the circles swap corners")
            compare(variantCircle.x, 0)
            waitUntilReady(window)
            verify(part(window, "stackView").LayoutMirroring.enabled, "the pages inherit the mirroring")

            SettingsController.language = "en"
            compare(primaryCircle.x, 0)
            compare(variantCircle.x, 200)
            verify(!part(window, "stackView").LayoutMirroring.enabled)
        }

        function test_splashFadesOnceThePageStackStands() {
            const window = makeWindow()
            const loader = part(window, "pageStackLoader")
            const splash = part(window, "splash")
            verify(loader.asynchronous)
            compare(splash.z, 100)
            compare(loader.z, 0)
            let ready = 0
            let opacityAtReady = -1
            const noteReady = () => {
                if (loader.status === Loader.Ready && ready === 0) {
                    ready = Date.now()
                    opacityAtReady = splash.opacity
                }
            }
            loader.statusChanged.connect(noteReady)
            while (loader.status !== Loader.Ready) {
                compare(splash.opacity, 1, "full until the page stack stands")
                verify(splash.visible)
                wait(5)
            }
            compare(opacityAtReady, 1)
            // A fixed 800 ms, even with animations switched off: part of the way through it is
            // neither shown nor gone.
            tryVerify(() => splash.opacity > 0 && splash.opacity < 1, 2000, "fading")
            tryCompare(splash, "visible", false, 5000)
            const faded = Date.now() - ready
            compare(splash.opacity, 0)
            verify(faded >= 790, "faded in " + faded + " ms")
        }

        function test_updateOfferAtCreationShowsAboveTheSplash() {
            UpdateController.availableVersion = "1.0.9"
            UpdateController.state = UpdateController.Available
            const window = makeWindow()
            const banner = part(window, "updateBanner")
            const splash = part(window, "splash")
            verify(splash.visible && splash.opacity === 1, "the page stack is still coming")
            verify(banner.visible)
            compare(banner.z, 200)
            verify(banner.z > splash.z)
            compare(banner.version, "1.0.9")
            compare(banner.y, Theme.spacing)
            compare(banner.x + banner.width / 2, window.width / 2)
        }

        function test_snackbarPostedAtStartUpLiesOnTop() {
            Snackbar.show("Posted before the window")
            const window = makeWindow()
            const host = part(window, "globalSnackbarHost")
            verify(host.visible)
            compare(host.z, 1000)
            verify(host.z > part(window, "splash").z)
            compare(host.y, Theme.spacing)
            compare(host.width, 560)
            compare(host.x, (window.width - 560) / 2)
        }

        function test_requiredUpdateDialog_data() {
            return [
                { tag: "required, offline grace", required: true, state: 6, dialog: false, banner: true },
                { tag: "required, available", required: true, state: 3, dialog: true, banner: false },
                { tag: "not required, available", required: false, state: 3, dialog: false, banner: true },
                { tag: "required, error", required: true, state: 8, dialog: true, banner: false }
            ]
        }

        function test_requiredUpdateDialog(row) {
            const window = makeWindow()
            waitUntilReady(window)
            UpdateController.availableVersion = "2.0.0"
            UpdateController.state = row.state
            UpdateController.required = row.required
            const dialog = part(window, "requiredUpdateDialog")
            tryCompare(dialog, "visible", row.dialog)
            compare(part(window, "updateBanner").visible, row.banner)
            compare(Theme.activeDialogs, 0, "the update dialog never blurs the pages")
        }

        function test_viewsCallTheUpdateController_data() {
            return [
                { tag: "banner update", view: "updateBanner", signalName: "updateRequested", call: "download" },
                { tag: "banner install", view: "updateBanner", signalName: "installRequested", call: "install" },
                { tag: "banner dismiss", view: "updateBanner", signalName: "dismissRequested", call: "dismiss" },
                { tag: "dialog update", view: "requiredUpdateDialog", signalName: "updateRequested", call: "download" },
                { tag: "dialog install", view: "requiredUpdateDialog", signalName: "installRequested", call: "install" },
                { tag: "dialog retry", view: "requiredUpdateDialog", signalName: "retryRequested", call: "retry" },
                { tag: "dialog exit", view: "requiredUpdateDialog", signalName: "exitRequested",
                  call: "exitApplication" }
            ]
        }

        function test_viewsCallTheUpdateController(row) {
            const window = makeWindow()
            part(window, row.view)[row.signalName]()
            compare(UpdateController.calls, [row.call])
        }

        function test_bannerFollowsTheController() {
            const window = makeWindow()
            const banner = part(window, "updateBanner")
            verify(!banner.visible, "nothing offered")
            UpdateController.availableVersion = "1.0.9"
            UpdateController.progress = 0.5
            UpdateController.graceRemainingSeconds = 7200
            UpdateController.errorMessage = "Nothing"
            UpdateController.state = UpdateController.Downloading
            verify(banner.visible)
            compare(banner.updateState, UpdateController.Downloading)
            compare(banner.progress, 0.5)
            compare(banner.graceRemainingSeconds, 7200)
            compare(banner.errorMessage, "Nothing")
            UpdateController.dismissed = true
            verify(!banner.visible, "dismissed")
            verify(banner.width <= window.width - 2 * Theme.spacing)
        }

        function test_changelogDialog() {
            ChangelogController.shouldShow = true
            UpdateController.required = true
            const window = makeWindow()
            const dialog = part(window, "changelogDialog")
            verify(!dialog.visible, "a required update comes first")
            UpdateController.required = false
            tryCompare(dialog, "opened", true)
            compare(Theme.activeDialogs, 0, "the changelog never blurs the pages")
            mouseClick(part(window, "changelogGotItButton"))
            tryCompare(dialog, "visible", false)
            compare(ChangelogController.dismissCount, 1)
        }
    }
}
