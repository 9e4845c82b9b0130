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

    // A list with its bar attached, as the pages use it. Each row takes clicks.
    Component {
        id: listComponent

        ListView {
            property int rowClicks: 0

            x: 20
            y: 20
            width: 200
            height: 104
            model: 40

            delegate: MouseArea {
                required property int index

                width: ListView.view.width
                height: 52
                onClicked: ListView.view.rowClicks += 1
            }

            ScrollBar.vertical: QuorinScrollBar {}
        }
    }

    // A view with a bar of its own as a direct child, driven by the view: only the view's
    // movement keeps it shown.
    Component {
        id: flickableComponent

        Flickable {
            x: 300
            y: 20
            width: 200
            height: 200
            contentHeight: 200000
            flickDeceleration: 150
            maximumFlickVelocity: 20000
        }
    }

    Component {
        id: childBarComponent

        QuorinScrollBar {
            x: 192
            height: 200
            orientation: Qt.Vertical
            size: 0.001
        }
    }

    Component {
        id: freeBarComponent

        QuorinScrollBar {
            x: 600
            y: 20
            width: 8
            orientation: Qt.Vertical
            size: 0.25
        }
    }

    TestCase {
        id: bars

        name: "QuorinScrollBar"
        when: windowShown

        function init() {
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 1
            mouseMove(root, 790, 590)
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeList(properties) {
            const list = createTemporaryObject(listComponent, root, properties || {})
            verify(list)
            return list
        }

        function thumbOf(bar) {
            return bar.contentItem
        }

        function test_shapeAndDefaults() {
            const list = makeList()
            const bar = list.ScrollBar.vertical
            compare(bar.objectName, "quorinScrollBar")
            verify(bar.quorinStyled)
            compare(bar.width, 8)
            compare(thumbOf(bar).width, 4)
            compare(thumbOf(bar).objectName, "quorinScrollBarThumb")
            compare(bar.background.objectName, "quorinScrollBarTrack")
            compare(bar.policy, ScrollBar.AsNeeded)
            verify(bar.interactive)
            compare(bar.attachedFlickable, list)
            compare(thumbOf(bar).radius, 2)
        }

        function test_minimumThumb_data() {
            return [
                { tag: "104 px bar over twenty views", height: 104, rows: 40, rowHeight: 52, thumb: 24 },
                { tag: "24 px bar: the track is filled", height: 24, rows: 40, rowHeight: 52, thumb: 20 },
                { tag: "a long thumb keeps its share", height: 104, rows: 4, rowHeight: 52, thumb: 50 }
            ]
        }

        function test_minimumThumb(row) {
            const list = makeList({ height: row.height, model: row.rows })
            const bar = list.ScrollBar.vertical
            compare(bar.height, row.height)
            fuzzyCompare(thumbOf(bar).height, row.thumb, 0.01)
            compare(thumbOf(bar).width, 4)
        }

        function test_horizontalBar() {
            const bar = createTemporaryObject(freeBarComponent, root, { orientation: Qt.Horizontal })
            compare(bar.implicitHeight, 8)
            compare(bar.implicitWidth, 80)
        }

        function test_contentThatFitsHasNoBar() {
            const list = makeList({ model: 2 })
            const bar = list.ScrollBar.vertical
            verify(!bar.scrollable)
            verify(!bar.visible)
            mouseClick(list, list.width - 4, 20)
            compare(list.rowClicks, 1, "the click did not reach the row")
            list.model = 40
            verify(bar.visible, "shown again when the content grows")
        }

        // 700 ms after the scrolling stops the bar fades; the fade never drops below 120 ms.
        function test_lingersThenFades_data() {
            return [
                { tag: "normal speed", multiplier: 1, fade: 250 },
                { tag: "half speed", multiplier: 0.5, fade: 125 },
                { tag: "animations off", multiplier: 0, fade: 120 }
            ]
        }

        function test_lingersThenFades(row) {
            SettingsController.animationSpeedMultiplier = row.multiplier
            const list = makeList()
            const bar = list.ScrollBar.vertical
            compare(findChild(bar, "quorinScrollBarFade").duration, row.fade)
            let stoppedAt = 0
            let fadeStartedAt = 0
            let goneAt = 0
            list.movementEnded.connect(() => stoppedAt = Date.now())
            bar.opacityChanged.connect(() => {
                if (stoppedAt > 0 && fadeStartedAt === 0 && bar.opacity < 1)
                    fadeStartedAt = Date.now()
                if (fadeStartedAt > 0 && bar.opacity === 0)
                    goneAt = Date.now()
            })
            list.flick(0, -1500)
            tryVerify(() => bar.opacity === 1, 2000, "scrolling does not show the bar")
            tryVerify(() => goneAt > 0, 10000, "the bar never faded")
            verify(stoppedAt > 0)
            // Qt's coarse timers may fire up to 5 % early.
            verify(fadeStartedAt - stoppedAt >= 660, "the fade started " + (fadeStartedAt - stoppedAt) + " ms after the stop")
            verify(goneAt - fadeStartedAt >= row.fade - 40, "the fade took " + (goneAt - fadeStartedAt) + " ms")
        }

        function test_aMovingViewKeepsItShown() {
            const view = createTemporaryObject(flickableComponent, root)
            const bar = createTemporaryObject(childBarComponent, view)
            compare(bar.attachedFlickable, view)
            compare(bar.opacity, 0)
            view.flick(0, -15000)
            verify(view.moving)
            verify(!bar.active, "the bar itself is not active: only the view's movement counts")
            tryCompare(bar, "opacity", 1)
            const started = Date.now()
            while (Date.now() - started < 1200) {
                verify(view.moving, "the view stopped too early for this test")
                compare(bar.opacity, 1, "hidden while the view still moves")
                wait(100)
            }
            view.cancelFlick()
            tryCompare(view, "moving", false)
            verify(bar.lingering)
            tryCompare(bar, "opacity", 0, 3000)
        }

        function test_pointingShowsAndLeavingLingers() {
            const bar = createTemporaryObject(freeBarComponent, root, { height: 200 })
            compare(bar.opacity, 0)
            mouseMove(bar, 4, 20)
            verify(bar.hovered)
            tryCompare(bar, "opacity", 1)
            mouseMove(root, 790, 590)
            verify(bar.lingering)
            wait(300)
            compare(bar.opacity, 1, "gone before 700 ms")
            mouseMove(bar, 4, 20)
            mouseMove(root, 790, 590)
            tryCompare(bar, "opacity", 0, 3000)
        }

        function test_userBoundLingeringKeepsItShown() {
            const bar = createTemporaryObject(freeBarComponent, root, { height: 200 })
            bar.lingering = Qt.binding(() => bar.visible)
            tryCompare(bar, "opacity", 1)
            wait(900)
            compare(bar.opacity, 1)
        }

        function test_thumbColours_data() {
            return [
                { tag: "light", theme: "light", normal: "#64748b", hover: "#94a3b8", pressed: "#0f9f92" },
                { tag: "dark", theme: "dark", normal: "#8493aa", hover: "#50627d", pressed: "#0f9f92" }
            ]
        }

        function test_thumbColours(row) {
            SettingsController.themeMode = row.theme
            SettingsController.animationSpeedMultiplier = 0
            const bar = createTemporaryObject(freeBarComponent, root, { height: 200 })
            const thumb = thumbOf(bar)
            verify(Checks.coloursClose(thumb.color, row.normal, 0), Checks.describe(thumb.color, row.normal))
            mouseMove(bar, 4, 20)
            verify(Checks.coloursClose(thumb.color, row.hover, 0), Checks.describe(thumb.color, row.hover))
            mousePress(bar, 4, 20)
            verify(Checks.coloursClose(thumb.color, row.pressed, 0), Checks.describe(thumb.color, row.pressed))
            mouseRelease(bar, 4, 20)
        }
    }
}
