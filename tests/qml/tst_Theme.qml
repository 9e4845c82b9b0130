import QtQuick
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

TestCase {
    id: testCase

    name: "Theme"

    Rectangle {
        id: card

        width: 10
        height: 10
        color: Theme.surface
    }

    function initTestCase() {
        SettingsController.animationSpeedMultiplier = 1
    }

    function cleanup() {
        SettingsController.themeMode = "system"
        SettingsController.animationSpeedMultiplier = 1
    }

    function themeColourRows() {
        return [
            { tag: "background", dark: "#0b1220", light: "#f1f5f9" },
            { tag: "backgroundElevated", dark: "#111c2e", light: "#e7edf5" },
            { tag: "surface", dark: "#162238", light: "#ffffff" },
            { tag: "surfaceElevated", dark: "#1c2a43", light: "#ffffff" },
            { tag: "surfaceMuted", dark: "#24324a", light: "#e2e8f0" },
            { tag: "border", dark: "#314158", light: "#cbd5e1" },
            { tag: "borderStrong", dark: "#50627d", light: "#94a3b8" },
            { tag: "hover", dark: "#263752", light: "#dbeafe" },
            { tag: "pressed", dark: "#304565", light: "#bfdbfe" },
            { tag: "scrim", dark: "#b3000000", light: "#660f172a" },
            { tag: "text", dark: "#f8fafc", light: "#172033" },
            { tag: "textSecondary", dark: "#b6c2d4", light: "#475569" },
            { tag: "textMuted", dark: "#8493aa", light: "#64748b" },
            { tag: "icon", dark: "#f8fafc", light: "#172033" },
            { tag: "iconMuted", dark: "#b6c2d4", light: "#475569" },
            { tag: "secondary", dark: "#24324a", light: "#e2e8f0" }
        ]
    }

    // Tokens that must not move when the theme does.
    function fixedTokenRows() {
        return [
            { tag: "primary", value: "#0f9f92" },
            { tag: "primaryVariant", value: "#087b73" },
            { tag: "accentForeground", value: "#ffffff" },
            { tag: "success", value: "#16a34a" },
            { tag: "warning", value: "#d97706" },
            { tag: "error", value: "#dc2626" },
            { tag: "mediaBackground", value: "#000000" },
            { tag: "mediaForeground", value: "#ffffff" },
            { tag: "mediaSurface", value: "#e61b1f26" },
            { tag: "mediaSurfaceElevated", value: "#f21f242d" },
            { tag: "mediaBorder", value: "#40ffffff" },
            { tag: "mediaHover", value: "#26ffffff" },
            { tag: "mediaPressed", value: "#3dffffff" },
            { tag: "mediaTextSecondary", value: "#b8ffffff" },
            { tag: "mediaTextMuted", value: "#80ffffff" },
            { tag: "mediaBuffered", value: "#d9ffffff" },
            { tag: "radius", value: 8 },
            { tag: "spacing", value: 16 },
            { tag: "smallSpacing", value: 8 },
            { tag: "largeSpacing", value: 32 },
            { tag: "workspaceSpinnerSize", value: 36 },
            { tag: "cardHoverScale", value: 1.01 },
            { tag: "fontFamily", value: "IBM Plex Sans Arabic" }
        ]
    }

    function sameColour(actual, expected) {
        return Qt.colorEqual(actual, expected)
    }

    function test_themeColours_data() {
        return themeColourRows()
    }

    function test_themeColours(row) {
        SettingsController.themeMode = "dark"
        verify(Theme.isDark)
        verify(sameColour(Theme[row.tag], row.dark), row.tag + " dark is " + Theme[row.tag])
        SettingsController.themeMode = "light"
        verify(!Theme.isDark)
        verify(sameColour(Theme[row.tag], row.light), row.tag + " light is " + Theme[row.tag])
    }

    function test_fixedTokens_data() {
        return fixedTokenRows()
    }

    function test_fixedTokens(row) {
        for (const mode of ["dark", "light"]) {
            SettingsController.themeMode = mode
            const actual = Theme[row.tag]
            if (typeof row.value === "string" && row.value.startsWith("#"))
                verify(sameColour(actual, row.value), row.tag + " in " + mode + " is " + actual)
            else
                compare(actual, row.value, row.tag + " in " + mode)
        }
    }

    function test_navigationHighlightIsThePrimaryAtOneTenth() {
        for (const mode of ["dark", "light"]) {
            SettingsController.themeMode = mode
            const highlight = Theme.navigationHighlight
            fuzzyCompare(highlight.a, 0.1, 0.002)
            const opaque = Qt.rgba(highlight.r, highlight.g, highlight.b, 1)
            verify(sameColour(opaque, "#0f9f92"), "highlight in " + mode + " is " + highlight)
        }
    }

    function test_switchingRecoloursBoundItemsInTheSameTurn() {
        SettingsController.themeMode = "light"
        verify(sameColour(card.color, "#ffffff"))
        SettingsController.themeMode = "dark"
        verify(sameColour(card.color, "#162238"), "the card still shows " + card.color)
        SettingsController.themeMode = "light"
        verify(sameColour(card.color, "#ffffff"), "the card still shows " + card.color)
    }

    function test_systemModeFollowsThePalette() {
        SettingsController.themeMode = "system"
        TestSetup.setPaletteWindowColor(Qt.hsla(0, 0, 0.1, 1))
        verify(Theme.isDark)
        verify(sameColour(card.color, "#162238"))
        TestSetup.setPaletteWindowColor(Qt.hsla(0, 0, 0.9, 1))
        verify(!Theme.isDark)
        verify(sameColour(card.color, "#ffffff"))
        TestSetup.setPaletteWindowColor(Qt.hsla(0, 0, 0.1, 1))
        verify(Theme.isDark)
    }

    function test_animationLengths_data() {
        return [
            { tag: "0", multiplier: 0, full: 0, short: 0 },
            { tag: "0.25", multiplier: 0.25, full: 63, short: 38 },
            { tag: "0.5", multiplier: 0.5, full: 125, short: 75 },
            { tag: "1", multiplier: 1, full: 250, short: 150 },
            { tag: "1.5", multiplier: 1.5, full: 375, short: 225 },
            { tag: "2", multiplier: 2, full: 500, short: 300 }
        ]
    }

    function test_animationLengths(row) {
        // Start from another speed, so each row shows the tokens following a change.
        SettingsController.animationSpeedMultiplier = row.multiplier === 1 ? 0.75 : 1
        SettingsController.animationSpeedMultiplier = row.multiplier
        compare(Theme.animDuration, row.full)
        compare(Theme.animDurationShort, row.short)
        compare(Theme.cardHoverAnimationDuration, row.full)
        compare(Theme.navigationHighlightDuration, row.full)
        compare(Theme.resourceTransitionDuration, row.full)
    }

    function test_activeDialogsStartsAtZeroAndCounts() {
        compare(Theme.activeDialogs, 0)
        Theme.activeDialogs += 2
        compare(Theme.activeDialogs, 2)
        Theme.activeDialogs -= 2
        compare(Theme.activeDialogs, 0)
    }

    function test_tokensAreReadOnly_data() {
        const rows = []
        for (const row of themeColourRows().concat(fixedTokenRows()))
            rows.push({ tag: row.tag })
        rows.push({ tag: "navigationHighlight" }, { tag: "cardHoverAnimationDuration" })
        return rows
    }

    // Nothing but the counter may be written by the interface; a token left writable would let
    // one screen restyle every other.
    function test_tokensAreReadOnly(row) {
        const before = Theme[row.tag]
        let refused = false
        try {
            Theme[row.tag] = typeof before === "number" ? 3 : "#123456"
        } catch (error) {
            refused = true
        }
        verify(refused, row.tag + " took a new value")
        compare(String(Theme[row.tag]), String(before))
    }
}
