import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

Item {
    id: root

    width: 400
    height: 300

    readonly property url mainDocument: "qrc:/qt/qml/Quorin/ui/screens/Main.qml"
    readonly property url pageStackDocument: "qrc:/qt/qml/Quorin/ui/screens/AppWrapper.qml"

    // The lecture the tests play; the session only knows what it is given.
    readonly property var lecture: ({
        videoUrl: "https://media.example/lecture/master.m3u8",
        videoRenditions: [{ label: "720p", url: "https://media.example/lecture/720.m3u8" }],
        videoFileSizeBytes: 1048576,
        downloadQualities: [{ label: "720p", url: "https://media.example/720.mp4", fileSizeBytes: 1048576,
                              sizeKnown: true }],
        courseId: "c-101",
        lectureId: "r-1001",
        sectionId: "s-101",
        videoTitle: "Velocity and acceleration",
        courseTitle: "Foundations of Physics",
        posterUrl: "https://media.example/poster.png",
        watermarkEnabled: false,
        headphonesRequired: true
    })

    // The page stack alone, in a window, with a key handler of the window's around it.
    Component {
        id: escapeHarness

        Window {
            property alias loader: loader
            property bool escapeReachedOutside: false

            width: 800
            height: 600
            visible: true

            FocusScope {
                anchors.fill: parent
                focus: true
                Keys.onEscapePressed: parent.Window.window.escapeReachedOutside = true

                Loader {
                    id: loader

                    anchors.fill: parent
                    focus: true
                    source: root.pageStackDocument
                }
            }
        }
    }

    SignalSpy {
        id: stopped

        target: VideoPlaybackSession
        signalName: "sessionStopped"
    }

    TestCase {
        id: pageStackTest

        name: "PageStack"
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
            HeadphoneMonitor.permits = true
            Snackbar.clear()
            VideoPlaybackSession.stop("test_reset")
            stopped.clear()
            signIn()
        }

        function cleanup() {
            Snackbar.clear()
            VideoPlaybackSession.stop("test_reset")
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function signIn() {
            if (!NetworkManager.isAuthenticated)
                TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
        }

        function stopReasons() {
            const reasons = []
            for (let index = 0; index < stopped.count; ++index)
                reasons.push(stopped.signalArguments[index][0])
            return reasons
        }

        // The window with its page stack standing and its first page in place.
        function makeWindow() {
            const window = createTemporaryObject(mainComponent, root)
            verify(window, mainComponent.errorString())
            const loader = findChild(window.contentItem, "pageStackLoader")
            tryCompare(loader, "status", Loader.Ready, 10000)
            const stack = findChild(loader.item, "stackView")
            tryCompare(stack, "busy", false)
            window.requestActivate()
            tryCompare(window, "active", true)
            return window
        }

        function stackOf(window) {
            return findChild(findChild(window.contentItem, "pageStackLoader").item, "stackView")
        }

        function pages(stack) {
            const found = []
            for (let index = 0; index < stack.depth; ++index)
                found.push(stack.get(index))
            return found
        }

        function pageNames(stack) {
            return pages(stack).map(page => page.objectName)
        }

        function click(page, objectName) {
            const target = findChild(page, objectName)
            verify(target, objectName)
            mouseClick(target)
        }

        // Opens a page from the one on top, as the user does, and waits for it to settle.
        function openFromTop(stack, buttonName) {
            const depth = stack.depth
            click(stack.currentItem, buttonName)
            tryCompare(stack, "depth", depth + 1)
            tryCompare(stack, "busy", false)
        }

        function playInPictureInPicture() {
            verify(VideoPlaybackSession.open(root.lecture, null, 0))
            VideoPlaybackSession.enterPictureInPicture("")
            verify(VideoPlaybackSession.inPictureInPicture)
        }

        function pictureInPictureWindow(window) {
            const wrapper = findChild(window.contentItem, "pageStackLoader").item
            for (let index = 0; index < wrapper.resources.length; ++index) {
                if (wrapper.resources[index].objectName === "pictureInPictureWindow")
                    return wrapper.resources[index]
            }
            fail("no picture-in-picture window")
        }

        function test_firstPage_data() {
            return [
                { tag: "signed in", signedIn: true, expected: "homePage" },
                { tag: "signed out", signedIn: false, expected: "loginPage" }
            ]
        }

        function test_firstPage(row) {
            if (!row.signedIn)
                NetworkManager.logout()
            const window = createTemporaryObject(mainComponent, root)
            const loader = findChild(window.contentItem, "pageStackLoader")
            let atReady = null
            const capture = () => {
                if (loader.status !== Loader.Ready)
                    return
                const stack = findChild(loader.item, "stackView")
                atReady = { depth: stack.depth, busy: stack.busy, top: stack.currentItem.objectName }
            }
            loader.statusChanged.connect(capture)
            capture()
            tryVerify(() => atReady !== null, 10000)
            compare(atReady, { depth: 1, busy: false, top: row.expected })
        }

        function test_signOutWhilePlaying_data() {
            return [
                { tag: "inline", pictureInPicture: false },
                { tag: "picture-in-picture", pictureInPicture: true }
            ]
        }

        function test_signOutWhilePlaying(row) {
            const window = makeWindow()
            const stack = stackOf(window)
            openFromTop(stack, "homeOpenCourseButton")
            verify(VideoPlaybackSession.open(root.lecture, null, 0))
            if (row.pictureInPicture) {
                VideoPlaybackSession.enterPictureInPicture("")
                tryCompare(pictureInPictureWindow(window), "visible", true)
            }

            NetworkManager.logout()
            compare(stopReasons(), ["logout"])
            verify(!VideoPlaybackSession.active)
            compare(pictureInPictureWindow(window).visible, false)
            // Only the top page makes way, at once.
            compare(pageNames(stack), ["homePage", "loginPage"])
            verify(!stack.busy)
        }

        function test_expiredSessionBringsTheSignInPage() {
            const window = makeWindow()
            const stack = stackOf(window)
            openFromTop(stack, "homeOpenCourseButton")
            TestSetup.expireSession()
            verify(!NetworkManager.isAuthenticated)
            compare(stopReasons(), [], "nothing was playing")
            compare(pageNames(stack), ["homePage", "loginPage"])
        }

        function test_requiredUpdateStopsThePlayback() {
            const window = makeWindow()
            verify(VideoPlaybackSession.open(root.lecture, null, 0))
            UpdateController.required = false
            compare(stopReasons(), [], "an update that is not required leaves it playing")
            UpdateController.required = true
            compare(stopReasons(), ["required_update"])
        }

        function test_destroyingTheWindowStopsThePlayback() {
            const window = makeWindow()
            verify(VideoPlaybackSession.open(root.lecture, null, 0))
            window.destroy()
            tryCompare(stopped, "count", 1)
            compare(stopReasons(), ["application_exit"])
        }

        function test_terminalFailureInPictureInPicture() {
            const window = makeWindow()
            window.showFullScreen()
            tryCompare(window, "visibility", Window.FullScreen)
            playInPictureInPicture()
            StreamController.reportPlaybackFailure("access_denied", "upstream_backend",
                                                   "You no longer have access to this lecture.", true, false)
            compare(stopReasons(), ["terminal_playback_failure"])
            compare(window.visibility, Window.Windowed)
            verify(Snackbar.visible)
            compare(Snackbar.message, "You no longer have access to this lecture.")
            compare(Snackbar.severity, "error")
        }

        function test_failuresLeftToThePlayer_data() {
            return [
                { tag: "not terminal, picture-in-picture", terminal: false, pictureInPicture: true },
                { tag: "terminal, inline", terminal: true, pictureInPicture: false }
            ]
        }

        function test_failuresLeftToThePlayer(row) {
            makeWindow()
            verify(VideoPlaybackSession.open(root.lecture, null, 0))
            if (row.pictureInPicture)
                VideoPlaybackSession.enterPictureInPicture("")
            StreamController.reportPlaybackFailure("source_unavailable", "network_transport", "Try again.",
                                                   row.terminal, true)
            compare(stopReasons(), [])
            verify(VideoPlaybackSession.active)
            verify(!Snackbar.visible)
        }

        function test_headphonesLostInPictureInPicture_data() {
            return [
                { tag: "required and lost", required: true, permits: false, pictureInPicture: true, stops: true },
                { tag: "required, still headphones", required: true, permits: true, pictureInPicture: true,
                  stops: false },
                { tag: "not required", required: false, permits: false, pictureInPicture: true, stops: false },
                { tag: "inline", required: true, permits: false, pictureInPicture: false, stops: false }
            ]
        }

        function test_headphonesLostInPictureInPicture(row) {
            const window = makeWindow()
            window.showFullScreen()
            tryCompare(window, "visibility", Window.FullScreen)
            const lecture = Object.assign({}, root.lecture, { headphonesRequired: row.required })
            verify(VideoPlaybackSession.open(lecture, null, 0))
            if (row.pictureInPicture)
                VideoPlaybackSession.enterPictureInPicture("")
            HeadphoneMonitor.changeRoute(row.permits)
            if (row.stops) {
                compare(stopReasons(), ["headphones_disconnected"])
                compare(window.visibility, Window.Windowed)
                compare(Snackbar.message, "Headphones were disconnected. Reconnect them and reopen the video.")
                compare(Snackbar.severity, "error")
            } else {
                compare(stopReasons(), [])
                verify(!Snackbar.visible)
            }
        }

        function test_returnInlineOverTheSettingsPage() {
            const window = makeWindow()
            const stack = stackOf(window)
            openFromTop(stack, "homeOpenSettingsButton")
            playInPictureInPicture()
            const generation = VideoPlaybackSession.generation

            VideoPlaybackSession.returnInline()
            tryCompare(stack, "depth", 3)
            tryCompare(stack, "busy", false)
            compare(pageNames(stack), ["homePage", "profileSettingsPage", "videoPlayerPage"])
            const player = stack.currentItem
            for (const key in root.lecture)
                compare(player[key], root.lecture[key], key)
            compare(player.initialPositionMs, 0, "no start position: the playback goes on where it is")
            compare(stopReasons(), [], "the session was not restarted")
            compare(VideoPlaybackSession.generation, generation)
            verify(VideoPlaybackSession.active)
            verify(!VideoPlaybackSession.inPictureInPicture)
            compare(pictureInPictureWindow(window).visible, false)
        }

        function test_returnInlineWithoutAnAddressPushesNothing() {
            const window = makeWindow()
            const stack = stackOf(window)
            verify(VideoPlaybackSession.open(Object.assign({}, root.lecture, { videoUrl: "" }), null, 0))
            VideoPlaybackSession.enterPictureInPicture("")
            VideoPlaybackSession.returnInline()
            wait(50)
            compare(pageNames(stack), ["homePage"])
        }

        function test_escapeDismissesTheSnackbarAndShowsTheNext() {
            const window = makeWindow()
            Snackbar.show("First")
            Snackbar.show("Second")
            keyClick(Qt.Key_Escape)
            compare(Snackbar.message, "Second")
            keyClick(Qt.Key_Escape)
            verify(!Snackbar.visible)
        }

        function test_escapeWithoutSnackbarTravelsOn() {
            const harness = createTemporaryObject(escapeHarness, root)
            tryCompare(harness.loader, "status", Loader.Ready, 10000)
            harness.requestActivate()
            tryCompare(harness, "active", true)
            tryVerify(() => harness.loader.item.activeFocus, 5000, "the page stack has the keyboard")

            Snackbar.show("Shown")
            keyClick(Qt.Key_Escape)
            verify(!Snackbar.visible)
            verify(!harness.escapeReachedOutside, "the page stack took the key")

            keyClick(Qt.Key_Escape)
            verify(harness.escapeReachedOutside, "with no snackbar the key travels on")
        }

        // The keyboard stays with the page stack after the snackbar's own buttons or a dialog's
        // were used, so a later Escape still finds its last handler.
        function test_escapeStillArrivesAfterClicks_data() {
            return [
                { tag: "snackbar close button", dialog: false },
                { tag: "dialog button", dialog: true }
            ]
        }

        function test_escapeStillArrivesAfterClicks(row) {
            const window = makeWindow()
            const stack = stackOf(window)
            if (row.dialog) {
                click(stack.currentItem, "homeOpenDialogButton")
                const dialog = findChild(stack.currentItem, "homeSampleDialog")
                tryCompare(dialog, "opened", true)
                mouseClick(findChild(dialog.footer, "quorinDialogCancelButton"))
                tryCompare(dialog, "visible", false)
                Snackbar.show("Next")
            } else {
                Snackbar.show("First")
                Snackbar.show("Next")
                mouseClick(findChild(window.contentItem, "snackbarDismissButton"))
                compare(Snackbar.message, "Next")
            }
            keyClick(Qt.Key_Escape)
            verify(!Snackbar.visible, "Escape reached the page stack")
        }

        function test_closingThePictureInPictureWindowStopsThePlayback() {
            const window = makeWindow()
            playInPictureInPicture()
            const pictureInPicture = pictureInPictureWindow(window)
            tryCompare(pictureInPicture, "visible", true)
            pictureInPicture.close()
            compare(stopReasons(), ["pip_close"])
            verify(!pictureInPicture.visible)
        }

        function test_escapeClosesADialogFirst() {
            const window = makeWindow()
            const stack = stackOf(window)
            click(stack.currentItem, "homeOpenDialogButton")
            const dialog = findChild(stack.currentItem, "homeSampleDialog")
            tryCompare(dialog, "opened", true)
            Snackbar.show("Behind the dialog")
            keyClick(Qt.Key_Escape)
            tryCompare(dialog, "visible", false)
            verify(Snackbar.visible, "the snackbar stays")
            compare(Snackbar.message, "Behind the dialog")
        }

        function test_blurFollowsModalDialogs() {
            const window = makeWindow()
            const stack = stackOf(window)
            const wrapper = findChild(window.contentItem, "pageStackLoader").item
            verify(!stack.layer.enabled, "no layer without a dialog")

            const opened = Date.now()
            click(stack.currentItem, "homeOpenDialogButton")
            const dialog = findChild(stack.currentItem, "homeSampleDialog")
            tryCompare(dialog, "opened", true)
            compare(Theme.activeDialogs, 1)
            // A fixed 250 ms, even with animations switched off.
            tryVerify(() => wrapper.blurValue > 0 && wrapper.blurValue < 1, 1000, "blurring")
            verify(stack.layer.enabled)
            compare(findChild(wrapper, "pageBlur").radius, 32 * wrapper.blurValue)
            tryCompare(wrapper, "blurValue", 1, 2000)
            const blurred = Date.now() - opened
            verify(blurred >= 240, "blurred in " + blurred + " ms")

            dialog.close()
            compare(Theme.activeDialogs, 0)
            tryVerify(() => wrapper.blurValue > 0 && wrapper.blurValue < 1, 1000, "clearing")
            tryCompare(wrapper, "blurValue", 0, 2000)
            verify(!stack.layer.enabled, "the layer goes with the blur")
        }

        function test_onlyThePagesBlur() {
            const window = makeWindow()
            const stack = stackOf(window)
            const underStack = item => {
                for (let ancestor = item.parent; ancestor; ancestor = ancestor.parent) {
                    if (ancestor === stack)
                        return true
                }
                return false
            }
            verify(!underStack(findChild(window.contentItem, "globalSnackbarHost")))
            verify(!underStack(findChild(window.contentItem, "updateBanner")))
            verify(underStack(stack.currentItem))
        }

        function test_pagesAndShellShareTheSingletons() {
            const window = makeWindow()
            const stack = stackOf(window)
            const wrapper = findChild(window.contentItem, "pageStackLoader").item
            click(stack.currentItem, "homeShowMessageButton")
            const host = findChild(window.contentItem, "globalSnackbarHost")
            verify(host.visible, "the host in ui/components draws what a page in ui/screens posted")
            compare(findChild(host, "snackbarMessage").text, Snackbar.message)
            verify(Snackbar.message !== "")

            click(stack.currentItem, "homeOpenDialogButton")
            tryCompare(wrapper, "blurValue", 1, 2000)
            findChild(stack.currentItem, "homeSampleDialog").close()
        }

        function test_signOutFromTheSettingsPage() {
            failOnWarning(/TypeError/)
            const window = makeWindow()
            const stack = stackOf(window)
            openFromTop(stack, "homeOpenSettingsButton")
            click(stack.currentItem, "signOutButton")
            tryCompare(stack, "busy", false)
            verify(!NetworkManager.isAuthenticated)
            compare(pageNames(stack), ["loginPage"])
        }

        function test_signInReplacesTheSignInPage() {
            NetworkManager.logout()
            const window = makeWindow()
            const stack = stackOf(window)
            compare(pageNames(stack), ["loginPage"])
            TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
            tryCompare(stack, "busy", false)
            tryVerify(() => stack.currentItem.objectName === "homePage", 5000)
            compare(stack.depth, 1)
        }

        function test_pagesOpenWithTheirArguments_data() {
            return [
                { tag: "course", button: "homeOpenCourseButton", page: "coursePage",
                  expected: { courseId: "c-101", courseProgress: 0.25, initialSectionId: "" } },
                { tag: "quiz", button: "homeOpenQuizButton", page: "quizPage", expected: { quizId: "qz-201" },
                  back: "quizBackButton" },
                { tag: "timed quiz", button: "homeOpenQuizButton-qz-202", page: "quizPage", expected: { quizId: "qz-202" },
                  back: "quizBackButton" },
                { tag: "ordinary quiz", button: "homeOpenQuizButton-qz-205", page: "quizPage",
                  expected: { quizId: "qz-205" }, back: "quizBackButton" },
                { tag: "document", button: "homeOpenDocumentButton", page: "pdfViewerPage",
                  expected: { resourceId: "r-1002", isShareable: false, initialPageIndex: -1 } },
                { tag: "settings", button: "homeOpenSettingsButton", page: "profileSettingsPage", expected: {},
                  back: "settingsBackButton" }
            ]
        }

        function test_pagesOpenWithTheirArguments(row) {
            const window = makeWindow()
            const stack = stackOf(window)
            openFromTop(stack, row.button)
            compare(stack.currentItem.objectName, row.page)
            for (const key in row.expected)
                compare(stack.currentItem[key], row.expected[key], key)
            // Pages below the top take no input.
            verify(!stack.get(0).enabled)
            click(stack.currentItem, row.back || "placeholderBackButton")
            tryCompare(stack, "depth", 1)
            tryCompare(stack, "busy", false)
            verify(stack.currentItem.enabled)
        }
    }
}
