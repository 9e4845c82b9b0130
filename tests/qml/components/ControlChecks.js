.pragma library

// Checks shared by the control tests.

function asColour(value) {
    // Qt.lighter by 1.0 turns a colour text into a colour value and leaves a colour unchanged.
    return Qt.lighter(value, 1.0)
}

// True when every channel (alpha included) is within `tolerance` steps of 255.
function coloursClose(actual, expected, tolerance) {
    const a = asColour(actual)
    const e = asColour(expected)
    const limit = (tolerance === undefined ? 1 : tolerance) + 0.01
    return Math.abs(a.r - e.r) * 255 <= limit && Math.abs(a.g - e.g) * 255 <= limit
           && Math.abs(a.b - e.b) * 255 <= limit && Math.abs(a.a - e.a) * 255 <= limit
}

function describe(actual, expected) {
    return "got " + asColour(actual) + " (alpha " + asColour(actual).a.toFixed(3) + "), expected " + expected
}
