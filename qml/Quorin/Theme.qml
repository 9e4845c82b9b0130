pragma Singleton

import QtQuick
import Quorin.Controllers

// The design tokens of the interface. Every token is a constant or a binding to a preference, so
// a change of theme mode or animation speed restyles the open interface at once. Only
// activeDialogs is ever written by the interface: modal surfaces count themselves in it.
QtObject {
    id: theme

    property bool isDark: SettingsController.effectiveDark

    // Theme colours: the first value is the dark theme's, the second the light theme's.
    readonly property color background: isDark ? "#0b1220" : "#f1f5f9"
    readonly property color backgroundElevated: isDark ? "#111c2e" : "#e7edf5"
    readonly property color surface: isDark ? "#162238" : "#ffffff"
    readonly property color surfaceElevated: isDark ? "#1c2a43" : "#ffffff"
    readonly property color surfaceMuted: isDark ? "#24324a" : "#e2e8f0"
    readonly property color border: isDark ? "#314158" : "#cbd5e1"
    readonly property color borderStrong: isDark ? "#50627d" : "#94a3b8"
    readonly property color hover: isDark ? "#263752" : "#dbeafe"
    readonly property color pressed: isDark ? "#304565" : "#bfdbfe"
    readonly property color scrim: isDark ? "#b3000000" : "#660f172a"
    readonly property color text: isDark ? "#f8fafc" : "#172033"
    readonly property color textSecondary: isDark ? "#b6c2d4" : "#475569"
    readonly property color textMuted: isDark ? "#8493aa" : "#64748b"

    readonly property color icon: text
    readonly property color iconMuted: textSecondary
    // Older name of surfaceMuted that some screens still read.
    readonly property color secondary: surfaceMuted
    readonly property color navigationHighlight: Qt.rgba(primary.r, primary.g, primary.b, 0.1)

    // The same in both themes.
    readonly property color primary: "#0f9f92"
    readonly property color primaryVariant: "#087b73"
    readonly property color accentForeground: "#ffffff"
    readonly property color success: "#16a34a"
    readonly property color warning: "#d97706"
    readonly property color error: "#dc2626"

    // The player's chrome stays dark in both themes, so nothing over a video is ever bright.
    readonly property color mediaBackground: "#000000"
    readonly property color mediaForeground: "#ffffff"
    readonly property color mediaSurface: "#e61b1f26"
    readonly property color mediaSurfaceElevated: "#f21f242d"
    readonly property color mediaBorder: "#40ffffff"
    readonly property color mediaHover: "#26ffffff"
    readonly property color mediaPressed: "#3dffffff"
    readonly property color mediaTextSecondary: "#b8ffffff"
    readonly property color mediaTextMuted: "#80ffffff"
    readonly property color mediaBuffered: "#d9ffffff"

    readonly property int radius: 8
    readonly property int spacing: 16
    readonly property int smallSpacing: 8
    readonly property int largeSpacing: 32
    readonly property int workspaceSpinnerSize: 36
    readonly property real cardHoverScale: 1.01
    readonly property string fontFamily: "IBM Plex Sans Arabic"

    // Whole milliseconds, rounded: the quarter steps of the speed preference fall on halves.
    property int animDuration: Math.round(250 * SettingsController.animationSpeedMultiplier)
    property int animDurationShort: Math.round(150 * SettingsController.animationSpeedMultiplier)
    readonly property int cardHoverAnimationDuration: animDuration
    property int navigationHighlightDuration: animDuration
    property int resourceTransitionDuration: animDuration

    // Modal surfaces now shown that ask for the page blur; each holds at most one count.
    property int activeDialogs: 0
}
