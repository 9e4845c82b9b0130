pragma Singleton

import QtQuick

// Turns numbers, dates, durations and sizes into text. Separators and date patterns follow the
// current locale, read at each call so a language switch applies at once, but every digit shown
// is an ASCII digit. A value that is no finite number formats as 0 and an invalid date as "", so
// the interface never shows "NaN" or "Infinity".
QtObject {
    id: format

    function westernDigits(value) {
        if (value === undefined || value === null)
            return ""
        return String(value).replace(/[\u0660-\u0669\u06F0-\u06F9]/g, function (digit) {
            const code = digit.charCodeAt(0)
            return String.fromCharCode(0x30 + code - (code >= 0x06F0 ? 0x06F0 : 0x0660))
        })
    }

    function finiteOrZero(value) {
        const converted = Number(value)
        return isFinite(converted) ? converted : 0
    }

    function precisionOf(decimals) {
        return Math.max(0, Math.floor(finiteOrZero(decimals)))
    }

    function number(value, decimals) {
        return westernDigits(finiteOrZero(value).toLocaleString(Qt.locale(), "f", precisionOf(decimals)))
    }

    function integer(value) {
        return number(value, 0)
    }

    function percent(value, decimals) {
        return number(finiteOrZero(value) * 100, decimals) + "%"
    }

    function toDate(value) {
        if (value instanceof Date)
            return value
        if (value === undefined || value === null)
            return new Date(NaN)
        return new Date(value)
    }

    function date(value) {
        const when = toDate(value)
        if (isNaN(when.getTime()))
            return ""
        return westernDigits(when.toLocaleDateString(Qt.locale(), Locale.ShortFormat))
    }

    function dateTime(value) {
        const when = toDate(value)
        if (isNaN(when.getTime()))
            return ""
        return westernDigits(when.toLocaleString(Qt.locale(), Locale.ShortFormat))
    }

    function twoDigits(value) {
        return value < 10 ? "0" + value : String(value)
    }

    function duration(seconds) {
        const total = Math.max(0, Math.floor(finiteOrZero(seconds)))
        const hours = Math.floor(total / 3600)
        const minutes = Math.floor((total % 3600) / 60)
        const rest = twoDigits(total % 60)
        if (hours > 0)
            return hours + ":" + twoDigits(minutes) + ":" + rest
        return minutes + ":" + rest
    }

    // The larger unit that the size reaches; sizes are 1024-based.
    function sizeUnitFor(size) {
        if (size >= 1073741824)
            return { divisor: 1073741824, suffix: " GB" }
        return { divisor: 1048576, suffix: " MB" }
    }

    function bytes(value) {
        const size = Math.max(0, finiteOrZero(value))
        const unit = sizeUnitFor(size)
        return number(size / unit.divisor, 1) + unit.suffix
    }

    function byteRange(minimum, maximum) {
        const low = Math.max(0, finiteOrZero(minimum))
        const high = Math.max(low, finiteOrZero(maximum))
        if (high - low < 1)
            return bytes(low)
        const unit = sizeUnitFor(high)
        return number(low / unit.divisor, 1) + "\u2013" + number(high / unit.divisor, 1) + unit.suffix
    }
}
