import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 800
    height: 600

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: spinnerComponent

        QuorinSpinner {
            x: 40
            y: 40
        }
    }

    Component {
        id: barComponent

        QuorinProgressBar {
            x: 100
            y: 200
            width: 400
        }
    }

    TestCase {
        name: "QuorinSpinner"
        when: windowShown

        function cleanup() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function test_ringWidth_data() {
            return [
                { tag: "12", size: 12, ring: 2 },
                { tag: "16", size: 16, ring: 2 },
                { tag: "20", size: 20, ring: 2.5 },
                { tag: "24", size: 24, ring: 3 },
                { tag: "36", size: 36, ring: 4.5 }
            ]
        }

        function test_ringWidth(row) {
            const spinner = createTemporaryObject(spinnerComponent, area, { width: row.size, height: row.size })
            const ring = findChild(spinner, "spinnerRing")
            compare(ring.border.width, row.ring)
            compare(ring.radius, row.size / 2)
            const accent = findChild(spinner, "spinnerAccent")
            compare(accent.width, row.size / 2)
            compare(accent.height, row.size / 2)
            compare(accent.y, 0)
            compare(accent.x, row.size / 4)
        }

        function test_colours() {
            const spinner = createTemporaryObject(spinnerComponent, area)
            compare(findChild(spinner, "spinnerRing").border.color, Theme.border)
            compare(findChild(spinner, "spinnerAccent").color, Theme.primary)
            spinner.ringColor = "#ffffff"
            spinner.accentColor = "#000000"
            compare(findChild(spinner, "spinnerRing").border.color, "#ffffff")
            compare(findChild(spinner, "spinnerAccent").color, "#000000")
        }

        function test_stoppedDrawsNothingAndKeepsItsPlace() {
            const spinner = createTemporaryObject(spinnerComponent, area, { running: false })
            compare(spinner.width, 24)
            compare(spinner.height, 24)
            const ring = findChild(spinner, "spinnerRing")
            verify(!ring.visible)
            verify(!findChild(spinner, "spinnerAccent").visible)
            verify(!findChild(spinner, "spinnerTurn").running)
            spinner.running = true
            verify(ring.visible)
            verify(findChild(spinner, "spinnerTurn").running)
        }

        // The turn is fixed: switching animations off must not stop or speed it up.
        function test_turnsOnceASecondWithAnimationsOff() {
            SettingsController.animationSpeedMultiplier = 0
            const spinner = createTemporaryObject(spinnerComponent, area)
            const turn = findChild(spinner, "spinnerTurn")
            verify(turn.running)
            compare(turn.duration, 1000)
            compare(turn.from, 0)
            compare(turn.to, 360)
            compare(turn.direction, RotationAnimation.Clockwise)
            verify(turn.loops < 0, "the turn does not repeat without end")
            const ring = findChild(spinner, "spinnerRing")
            const start = ring.rotation
            tryVerify(() => ring.rotation !== start, 2000, "the ring does not turn")
        }
    }

    TestCase {
        name: "QuorinProgressBar"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
        }

        function fillOf(bar) {
            const fill = findChild(bar, "progressFill")
            verify(fill)
            return fill
        }

        function test_sizeAndColours() {
            const bar = createTemporaryObject(barComponent, area)
            compare(bar.implicitWidth, 200)
            compare(bar.implicitHeight, 6)
            compare(bar.background.radius, 3)
            compare(fillOf(bar).radius, 3)
            compare(bar.background.color, Theme.surfaceMuted)
            compare(fillOf(bar).color, Theme.primary)
            bar.height = 8
            compare(fillOf(bar).height, 8)
        }

        function test_fillAndDescription_data() {
            return [
                { tag: "42 of 100", from: 0, to: 100, value: 42, fraction: 0.42, text: "42%" },
                { tag: "half of the default range", from: 0, to: 1, value: 0.5, fraction: 0.5, text: "50%" },
                { tag: "rounded", from: 0, to: 3, value: 2, fraction: 2 / 3, text: "67%" },
                { tag: "empty", from: 0, to: 1, value: 0, fraction: 0, text: "0%" }
            ]
        }

        function test_fillAndDescription(row) {
            const bar = createTemporaryObject(barComponent, area, { from: row.from, to: row.to })
            bar.value = row.value
            const fill = fillOf(bar)
            tryVerify(() => Math.abs(fill.width - row.fraction * bar.availableWidth) < 0.01, 2000,
                      "fill " + fill.width + " of " + bar.availableWidth)
            compare(fill.x, 0)
            compare(bar.Accessible.description, row.text)
        }

        function test_arabicFillsFromTheLeft() {
            SettingsController.language = "ar"
            const bar = createTemporaryObject(barComponent, area, { from: 0, to: 100, value: 42 })
            const fill = fillOf(bar)
            tryVerify(() => Math.abs(fill.width - 0.42 * bar.availableWidth) < 0.01, 2000)
            compare(fill.x, 0)
            compare(fill.mapToItem(bar, 0, 0).x, 0)
            compare(bar.Accessible.description, "42%")
        }

        function test_glidesToEachValue_data() {
            return [
                { tag: "normal speed", multiplier: 1 },
                { tag: "animations off", multiplier: 0 }
            ]
        }

        function test_glidesToEachValue(row) {
            SettingsController.animationSpeedMultiplier = row.multiplier
            const bar = createTemporaryObject(barComponent, area, { value: 0.2 })
            tryCompare(bar, "smoothedPosition", 0.2)
            const seen = []
            bar.smoothedPositionChanged.connect(() => seen.push(bar.smoothedPosition))
            const started = Date.now()
            bar.value = 0.8
            tryCompare(bar, "smoothedPosition", 0.8, 2000)
            const took = Date.now() - started
            verify(seen.some(value => value > 0.2 && value < 0.8), "no intermediate value in " + seen)
            verify(took >= 250, "the glide took " + took + " ms")
            fuzzyCompare(fillOf(bar).width, 0.8 * bar.availableWidth, 0.01)
        }

        function test_indeterminateSweep() {
            const bar = createTemporaryObject(barComponent, area, { value: 0.5 })
            bar.indeterminate = true
            compare(bar.Accessible.description, "")
            const fill = fillOf(bar)
            const width = bar.availableWidth
            fuzzyCompare(fill.width, 0.3 * width, 0.01)
            const sweep = findChild(bar, "progressSweep")
            verify(sweep.running)
            compare(sweep.duration, 1100)
            compare(sweep.from, -fill.width)
            compare(sweep.to, width)
            compare(sweep.easing.type, Easing.InOutQuad)

            // x starts beyond the left end and moves right.
            const positions = []
            fill.xChanged.connect(() => positions.push(fill.x))
            tryVerify(() => positions.some(x => x > 0), 3000, "the fill never crossed the track")
            verify(positions.every(x => x >= -fill.width - 0.01 && x <= width + 0.01), "outside the sweep: " + positions)
            verify(positions[0] < 0, "first position " + positions[0])
        }

        function test_determinateAgainReturnsAtOnce() {
            const bar = createTemporaryObject(barComponent, area, { value: 0.5, indeterminate: true })
            const fill = fillOf(bar)
            tryVerify(() => fill.x > 0, 3000)
            bar.indeterminate = false
            compare(fill.x, 0)
            fuzzyCompare(fill.width, 0.5 * bar.availableWidth, 0.01)
            compare(bar.Accessible.description, "50%")
        }

        function test_hidingStopsTheSweep() {
            const bar = createTemporaryObject(barComponent, area, { indeterminate: true })
            const sweep = findChild(bar, "progressSweep")
            verify(sweep.running)
            bar.visible = false
            verify(!sweep.running)
            bar.visible = true
            verify(sweep.running)
            area.visible = false
            verify(!sweep.running, "a hidden parent hides the bar too")
            area.visible = true
        }

        function test_sweepKeepsItsLengthWithAnimationsOff() {
            SettingsController.animationSpeedMultiplier = 0
            const bar = createTemporaryObject(barComponent, area, { indeterminate: true })
            compare(findChild(bar, "progressSweep").duration, 1100)
        }
    }
}
