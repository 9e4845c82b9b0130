pragma Singleton

import QtQml

// The transient messages of the interface: the entry on show and a short queue of waiting
// entries. Any QML code posts with show(); the one SnackbarHost of the window draws and times
// the entry on show. Two entries with the same message and severity never coexist, and the queue
// is never changed in place, so that everything bound to `pending` is told of each change.
QtObject {
    id: snackbar

    readonly property int maximumQueued: 5
    // Entries {message, severity, actionText, actionId, duration}, oldest first.
    property var pending: []
    property var current: null

    readonly property bool visible: current !== null
    readonly property string message: current ? current.message : ""
    readonly property string severity: current ? current.severity : "info"
    readonly property string actionText: current ? current.actionText : ""
    readonly property string actionId: current ? current.actionId : ""
    readonly property int duration: current ? current.duration : 3000

    signal actionTriggered(string actionId)

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function durationOf(value) {
        const given = Number(value)
        // Absent, zero or not a number all mean the ordinary length.
        if (value === undefined || value === null || !isFinite(given) || given === 0)
            return 3000
        return Math.max(1000, Math.round(given))
    }

    function sameEntry(entry, message, severity) {
        return entry !== null && entry.message === message && entry.severity === severity
    }

    function show(message, severity, actionText, actionId, duration) {
        const text = textOf(message).trim()
        if (text === "")
            return
        const givenSeverity = textOf(severity)
        const entry = {
            message: text,
            severity: givenSeverity === "" ? "info" : givenSeverity,
            actionText: textOf(actionText),
            actionId: textOf(actionId),
            duration: durationOf(duration)
        }
        if (sameEntry(current, entry.message, entry.severity))
            return
        if (pending.some(waiting => sameEntry(waiting, entry.message, entry.severity)))
            return
        if (current === null) {
            current = entry
            return
        }
        const queue = pending.slice()
        if (queue.length >= maximumQueued)
            queue.shift()
        queue.push(entry)
        pending = queue
    }

    function dismiss() {
        const queue = pending.slice()
        const next = queue.length > 0 ? queue.shift() : null
        if (next === null && current === null)
            return
        // The queue moves before the entry, so that a reader woken by `current` sees the queue
        // without it.
        pending = queue
        current = next
    }

    function triggerAction() {
        if (current === null || current.actionId === "")
            return
        const id = current.actionId
        dismiss()
        actionTriggered(id)
    }

    function clear() {
        pending = []
        current = null
    }
}
