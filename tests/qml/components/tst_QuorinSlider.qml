import QtQuick
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: sliderComponent

        QuorinSlider {
            x: 100
            y: 100
            width: 400
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        id: sliders

        name: "QuorinSlider"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            mouseMove(root, 790, 590)
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const slider = createTemporaryObject(sliderComponent, area, properties || {})
            verify(slider)
            return slider
        }

        function part(slider, name) {
            const found = findChild(slider, name)
            verify(found, name)
            return found
        }

        function shownRanges(slider) {
            const track = part(slider, "sliderTrack")
            const shown = []
            for (let index = 0; index < track.children.length; ++index) {
                const child = track.children[index]
                if (child.objectName.startsWith("sliderBufferedRange") && child.visible)
                    shown.push(child)
            }
            return shown
        }

        // Buffered ranges on a 0..1000 track; x and width as fractions of the track.
        function test_bufferedRanges_data() {
            return [
                { tag: "a normal range", ranges: [{ startMs: 100, endMs: 400 }], drawn: [[0.1, 0.3]] },
                { tag: "texts that are numbers", ranges: [{ startMs: "250", endMs: "500" }], drawn: [[0.25, 0.25]] },
                { tag: "past the end", ranges: [{ startMs: 800, endMs: 1500 }], drawn: [[0.8, 0.2]] },
                { tag: "before the start", ranges: [{ startMs: -300, endMs: 200 }], drawn: [[0, 0.2]] },
                { tag: "wholly after the end", ranges: [{ startMs: 1200, endMs: 1500 }], drawn: [] },
                { tag: "wholly before the start", ranges: [{ startMs: -500, endMs: -100 }], drawn: [] },
                { tag: "missing start", ranges: [{ endMs: 500 }], drawn: [] },
                { tag: "missing end", ranges: [{ startMs: 100 }], drawn: [] },
                { tag: "not a number", ranges: [{ startMs: "soon", endMs: 500 }], drawn: [] },
                { tag: "empty text", ranges: [{ startMs: "", endMs: 500 }], drawn: [] },
                { tag: "null start", ranges: [{ startMs: null, endMs: 500 }], drawn: [] },
                { tag: "end at the start", ranges: [{ startMs: 300, endMs: 300 }], drawn: [] },
                { tag: "end before the start", ranges: [{ startMs: 600, endMs: 300 }], drawn: [] },
                { tag: "a null entry", ranges: [null, { startMs: 0, endMs: 100 }], drawn: [[0, 0.1]] },
                { tag: "overlapping", ranges: [{ startMs: 0, endMs: 500 }, { startMs: 400, endMs: 700 }], drawn: [[0, 0.5], [0.4, 0.3]] },
                { tag: "empty list", ranges: [], drawn: [] },
                { tag: "no list", ranges: null, drawn: [] },
                { tag: "undefined list", ranges: undefined, drawn: [] },
                { tag: "to equal to from", ranges: [{ startMs: 100, endMs: 400 }], to: 0, drawn: [] },
                { tag: "to below from", ranges: [{ startMs: 100, endMs: 400 }], to: -10, drawn: [] },
                { tag: "hidden", ranges: [{ startMs: 100, endMs: 400 }], bufferVisible: false, drawn: [] }
            ]
        }

        function test_bufferedRanges(row) {
            const slider = make({ from: 0, to: row.to === undefined ? 1000 : row.to,
                                  bufferVisible: row.bufferVisible === undefined ? true : row.bufferVisible })
            slider.bufferRanges = row.ranges
            const track = part(slider, "sliderTrack")
            const shown = shownRanges(slider)
            compare(shown.length, row.drawn.length)
            for (let index = 0; index < row.drawn.length; ++index) {
                const [x, width] = row.drawn[index]
                fuzzyCompare(shown[index].x, x * track.width, 0.01)
                fuzzyCompare(shown[index].width, width * track.width, 0.01)
                compare(shown[index].height, track.height)
                compare(shown[index].radius, 3)
            }
        }

        function test_rangeNamesFollowTheList() {
            const slider = make({ from: 0, to: 1000 })
            slider.bufferRanges = [{ startMs: 0, endMs: 100 }, { startMs: 200, endMs: 300 }, { startMs: 400, endMs: 500 }]
            for (let index = 0; index < 3; ++index)
                verify(findChild(slider, "sliderBufferedRange" + index), "sliderBufferedRange" + index)
            compare(findChild(slider, "sliderBufferedRange3"), null)
            slider.bufferVisible = false
            compare(shownRanges(slider).length, 0)
            slider.bufferVisible = true
            compare(shownRanges(slider).length, 3)
        }

        function test_handleStaysLeftToRight_data() {
            return [
                { tag: "English at from", language: "en", value: 0, end: "left" },
                { tag: "Arabic at from", language: "ar", value: 0, end: "left" },
                { tag: "Arabic at to", language: "ar", value: 1, end: "right" }
            ]
        }

        function test_handleStaysLeftToRight(row) {
            SettingsController.language = row.language
            const slider = make({ value: row.value })
            const handle = slider.handle
            const x = handle.mapToItem(slider, 0, 0).x
            if (row.end === "left")
                compare(x, slider.leftPadding)
            else
                compare(x, slider.leftPadding + slider.availableWidth - 16)
            compare(part(slider, "sliderPlayedBar").width, row.value * part(slider, "sliderTrack").width)
        }

        function test_pointerMapsLeftToRightInArabic() {
            SettingsController.language = "ar"
            const slider = make({ value: 0.5 })
            mouseClick(slider, slider.leftPadding + 0.25 * slider.availableWidth, slider.height / 2)
            verify(slider.value < 0.5, "a press on the left end gave " + slider.value)
        }

        function test_valueBubble() {
            const slider = make({ from: 0.5, to: 2, value: 1.25, valueBubbleVisible: true })
            const bubble = part(slider, "sliderValueBubble")
            const label = part(slider, "sliderValueBubbleLabel")
            verify(bubble.visible)
            compare(slider.valueBubbleText, "1.25")
            compare(label.text, "1.25")
            compare(bubble.width, label.implicitWidth + 16)
            compare(bubble.height, 26)
            compare(bubble.radius, 13)
            const handle = slider.handle
            // Centre anchors land on whole pixels.
            fuzzyCompare(bubble.x + bubble.width / 2, handle.width / 2, 1)
            compare(bubble.y + bubble.height, -8)
            slider.valueBubbleText = "1.25×"
            compare(bubble.width, label.implicitWidth + 16)
            slider.valueBubbleVisible = false
            verify(!bubble.visible)
        }

        function test_pressedHandleAndDrag() {
            SettingsController.animationSpeedMultiplier = 1
            const slider = make({ value: 0.2 })
            const moves = createTemporaryObject(spyComponent, sliders, { target: slider, signalName: "moved" })
            const handle = slider.handle
            const y = slider.height / 2
            const startX = slider.leftPadding + 0.2 * (slider.availableWidth - 16) + 8
            mousePress(slider, startX, y)
            tryVerify(() => Checks.coloursClose(handle.color, Theme.primaryVariant), 1000, Checks.describe(handle.color, Theme.primaryVariant))
            mouseMove(slider, startX + 100, y)
            mouseMove(slider, startX + 160, y)
            verify(moves.count > 0, "no moved signal during the drag")
            // No lag: the handle stands where the value says, at once.
            compare(slider.renderedPosition, slider.position)
            fuzzyCompare(handle.x, slider.leftPadding + slider.position * (slider.availableWidth - 16), 0.01)
            mouseRelease(slider, startX + 160, y)
            tryVerify(() => Checks.coloursClose(handle.color, Theme.primary), 1000)
        }

        function test_valueChangesGlideUnlessSwitchedOff_data() {
            return [
                { tag: "animated", multiplier: 1, animate: true, glides: true },
                { tag: "animations off", multiplier: 0, animate: true, glides: false },
                { tag: "animateValueChanges false", multiplier: 1, animate: false, glides: false }
            ]
        }

        function test_valueChangesGlideUnlessSwitchedOff(row) {
            SettingsController.animationSpeedMultiplier = row.multiplier
            const slider = make({ value: 0.1, animateValueChanges: row.animate })
            slider.value = 0.9
            compare(slider.renderedPosition !== slider.position, row.glides)
            tryCompare(slider, "renderedPosition", slider.position)
        }

        function test_palettes_data() {
            return [
                { tag: "media", media: true, track: "#40ffffff", range: "#d9ffffff", border: "#ffffff", bubble: "#f21f242d" },
                { tag: "application, light", media: false, theme: "light", track: "#e2e8f0", range: "#64748b", border: "#ffffff", bubble: "#ffffff" },
                { tag: "application, dark", media: false, theme: "dark", track: "#24324a", range: "#8493aa", border: "#162238", bubble: "#1c2a43" }
            ]
        }

        function test_palettes(row) {
            if (row.theme)
                SettingsController.themeMode = row.theme
            const slider = row.media ? make() : make({ mediaPalette: false })
            compare(slider.mediaPalette, row.media)
            slider.bufferRanges = [{ startMs: 0, endMs: 0.5 }]
            verify(Checks.coloursClose(part(slider, "sliderTrack").color, row.track, 0), Checks.describe(part(slider, "sliderTrack").color, row.track))
            verify(Checks.coloursClose(shownRanges(slider)[0].color, row.range, 0))
            verify(Checks.coloursClose(slider.handle.border.color, row.border, 0))
            compare(slider.handle.border.width, 2)
            verify(Checks.coloursClose(part(slider, "sliderValueBubble").color, row.bubble, 0))
            verify(Checks.coloursClose(part(slider, "sliderPlayedBar").color, "#0f9f92", 0))
        }

        function test_hoverHalo() {
            const slider = make({ value: 0.5 })
            const halo = part(slider, "sliderHoverHalo")
            compare(halo.width, 0)
            mouseMove(slider, slider.width / 2, slider.height / 2)
            compare(halo.width, 24)
            compare(halo.height, 24)
            compare(halo.opacity, 0.3)
            mouseMove(root, 790, 590)
            compare(halo.width, 0)
        }

        function test_geometry() {
            const slider = make()
            const track = part(slider, "sliderTrack")
            compare(track.x, slider.leftPadding)
            compare(track.width, slider.availableWidth)
            compare(track.height, 6)
            compare(track.y, slider.topPadding + slider.availableHeight / 2 - 3)
            compare(slider.handle.width, 16)
            compare(slider.handle.y, slider.topPadding + slider.availableHeight / 2 - 8)
        }

        function test_cursor() {
            const slider = make()
            const cursor = findChild(slider, "quorinSliderCursor")
            compare(cursor.cursorShape, Qt.PointingHandCursor)
            slider.enabled = false
            compare(cursor.cursorShape, Qt.ArrowCursor)
        }
    }
}
