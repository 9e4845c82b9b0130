import QtQuick
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    // A side list as the settings page builds it: rows of 48 over the highlight.
    Item {
        id: list

        width: 240
        height: 480
    }

    Component {
        id: highlightComponent

        NavigationSelectionHighlight {}
    }

    TestCase {
        name: "NavigationSelectionHighlight"
        when: windowShown

        function init() {
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 1
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeHighlight(properties) {
            const highlight = createTemporaryObject(highlightComponent, list, properties || {})
            verify(highlight)
            return highlight
        }

        // Every value `property` takes from now on.
        function track(highlight, property) {
            const values = []
            highlight[property + "Changed"].connect(() => values.push(highlight[property]))
            return values
        }

        function test_look() {
            const highlight = makeHighlight({ targetY: 96, targetHeight: 48 })
            compare(highlight.width, list.width)
            compare(highlight.x, 0)
            compare(highlight.radius, Theme.radius)
            compare(highlight.border.width, 0)
            verify(Checks.coloursClose(highlight.color, Theme.navigationHighlight, 0))
            verify(Checks.coloursClose(highlight.color, Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.1), 1))
            list.width = 300
            compare(highlight.width, 300)
            list.width = 240
        }

        function test_widthWithoutParent() {
            const highlight = createTemporaryObject(highlightComponent, null)
            verify(highlight)
            compare(highlight.width, 0)
            highlight.parent = list
            compare(highlight.width, list.width)
        }

        function test_movementFollowsTheCurve_data() {
            return [
                { tag: "y", target: "targetY", property: "y", to: 144 },
                { tag: "height", target: "targetHeight", property: "height", to: 48 }
            ]
        }

        // Each value the bar takes, with the moment it was taken; the animation computes a value
        // from the time elapsed when it draws, and the change handler runs right then.
        function test_movementFollowsTheCurve(row) {
            const highlight = makeHighlight()
            const samples = []
            highlight[row.property + "Changed"].connect(() => samples.push({ at: Date.now(), value: highlight[row.property] }))
            const started = Date.now()
            highlight[row.target] = row.to
            compare(highlight[row.property], 0, "not there at once")
            tryCompare(highlight, row.property, row.to, 3000)
            const trace = JSON.stringify(samples.map(sample => [sample.at - started, sample.value]))
            const arrived = samples[samples.length - 1].at - started
            verify(arrived >= 240, "arrived after " + arrived + " ms: " + trace)
            verify(samples.every(sample => sample.value >= 0 && sample.value <= row.to), "overshoot: " + trace)

            const midway = samples.filter(sample => sample.value > 0.02 * row.to && sample.value < 0.95 * row.to)
            verify(midway.length > 0, "no value mid-way: " + trace)
            // Out-cubic over 250 ms reaches the fraction p of the way 250 × (1 − ∛(1 − p)) ms in;
            // the moments the values give must lie as far apart as the moments they were seen.
            const momentOf = value => 250 * (1 - Math.cbrt(1 - value / row.to))
            for (const sample of midway.slice(1)) {
                const expected = momentOf(sample.value) - momentOf(midway[0].value)
                const seen = sample.at - midway[0].at
                verify(Math.abs(expected - seen) <= 15,
                       "value " + sample.value + " seen " + seen + " ms after " + midway[0].value
                       + ", out-cubic says " + expected.toFixed(1) + " ms: " + trace)
            }
        }

        function test_durationFollowsTheSpeed() {
            SettingsController.animationSpeedMultiplier = 2
            const highlight = makeHighlight()
            const started = Date.now()
            highlight.targetY = 96
            tryVerify(() => highlight.y > 0, 2000)
            tryCompare(highlight, "y", 96, 3000)
            verify(Date.now() - started >= 490, "a 500 ms glide took " + (Date.now() - started) + " ms")
        }

        function test_thirdTargetContinuesFromWhereItIs() {
            const highlight = makeHighlight()
            highlight.targetY = 192
            tryVerify(() => highlight.y > 20 && highlight.y < 172, 2000, "never mid-way")
            const midway = highlight.y
            const values = track(highlight, "y")
            highlight.targetY = 48
            compare(highlight.y, midway, "no jump when retargeted")
            tryCompare(highlight, "y", 48, 2000)
            const low = Math.min(48, midway)
            const high = Math.max(48, midway)
            verify(values.every(value => value >= low - 0.001 && value <= high + 0.001),
                   "left the way from " + midway + " to 48: " + values)
        }

        function test_jumpsWithAnimationsOff() {
            SettingsController.animationSpeedMultiplier = 0
            const highlight = makeHighlight()
            highlight.targetY = 240
            highlight.targetHeight = 48
            compare(highlight.y, 240)
            compare(highlight.height, 48)
        }
    }
}
