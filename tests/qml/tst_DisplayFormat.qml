import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

// Every table runs twice: with the English interface and with the Arabic one, whose locale keeps
// its own separators while the digits must stay ASCII.
Item {
    component DisplayFormatCases: TestCase {
        id: cases

        required property string language
        readonly property bool arabic: language === "ar"
        readonly property real mebibyte: 1048576
        readonly property real gibibyte: 1073741824

        name: "DisplayFormat_" + language

        // The expected English text in the current language: the Arabic (Egypt) locale has its own
        // decimal and thousands separators, and nothing else differs.
        function localised(english) {
            if (!arabic)
                return english
            return english.replace(/[.,]/g, function (mark) {
                return mark === "." ? "\u066B" : "\u066C"
            })
        }

        function verifyAsciiDigits(text) {
            verify(!/[\u0660-\u0669\u06F0-\u06F9]/.test(text), "non-ASCII digits in " + text)
        }

        function initTestCase() {
            SettingsController.language = language
            compare(Qt.locale().name, arabic ? "ar_EG" : "en_US")
        }

        function test_westernDigits_data() {
            return [
                { tag: "Arabic-Indic digits", input: "\u0660\u0661\u0662\u0663\u0664\u0665\u0666\u0667\u0668\u0669",
                  expected: "0123456789" },
                { tag: "Extended Arabic-Indic digits", input: "\u06F0\u06F1\u06F2\u06F3\u06F4\u06F5\u06F6\u06F7\u06F8\u06F9",
                  expected: "0123456789" },
                { tag: "mixed text", input: "صفحة \u0663 من \u0661\u0662، (v2.0) \u06F4-\u06F5!",
                  expected: "صفحة 3 من 12، (v2.0) 4-5!" },
                { tag: "number", input: 1205, expected: "1205" },
                { tag: "empty text", input: "", expected: "" },
                { tag: "undefined", input: undefined, expected: "" },
                { tag: "null", input: null, expected: "" }
            ]
        }

        function test_westernDigits(row) {
            compare(DisplayFormat.westernDigits(row.input), row.expected)
        }

        function test_numbers_data() {
            return [
                { tag: "number with one decimal", format: "number", value: 1234.5, decimals: 1, expected: "1,234.5" },
                { tag: "number, no decimals given", format: "number", value: 1234, decimals: undefined, expected: "1,234" },
                { tag: "number from text", format: "number", value: "9876.25", decimals: 2, expected: "9,876.25" },
                { tag: "number of a million", format: "number", value: 1234567, decimals: 0, expected: "1,234,567" },
                { tag: "integer", format: "integer", value: 1234, decimals: undefined, expected: "1,234" },
                { tag: "percent of a half", format: "percent", value: 0.5, decimals: undefined, expected: "50%" },
                { tag: "percent with a decimal", format: "percent", value: 0.123, decimals: 1, expected: "12.3%" },
                { tag: "percent of the whole", format: "percent", value: 1, decimals: undefined, expected: "100%" },
                { tag: "number of NaN", format: "number", value: NaN, decimals: 1, expected: "0.0" },
                { tag: "number of undefined", format: "number", value: undefined, decimals: undefined, expected: "0" },
                { tag: "number of a word", format: "number", value: "abc", decimals: undefined, expected: "0" },
                { tag: "number of infinity", format: "number", value: Infinity, decimals: undefined, expected: "0" },
                { tag: "integer of NaN", format: "integer", value: NaN, decimals: undefined, expected: "0" },
                { tag: "percent of NaN", format: "percent", value: NaN, decimals: undefined, expected: "0%" },
                { tag: "percent of a word", format: "percent", value: "abc", decimals: 1, expected: "0.0%" },
                { tag: "percent of infinity", format: "percent", value: -Infinity, decimals: undefined, expected: "0%" }
            ]
        }

        function test_numbers(row) {
            const result = row.format === "integer" ? DisplayFormat.integer(row.value)
                                                    : DisplayFormat[row.format](row.value, row.decimals)
            compare(result, localised(row.expected))
            verifyAsciiDigits(result)
        }

        function test_dates_data() {
            const morning = new Date(2024, 4, 1, 10, 0)
            return [
                { tag: "date object", value: morning },
                { tag: "milliseconds", value: morning.getTime() },
                { tag: "date text", value: "2024-05-01T10:00:00" }
            ]
        }

        function test_dates(row) {
            const day = DisplayFormat.date(row.value)
            const moment = DisplayFormat.dateTime(row.value)
            if (arabic) {
                compare(day, "1\u200F/5\u200F/2024")
                compare(moment, "1\u200F/5\u200F/2024 10:00 \u0635")
            } else {
                compare(day, "5/1/24")
                compare(moment, "5/1/24 10:00 AM")
            }
            verifyAsciiDigits(day)
            verifyAsciiDigits(moment)
        }

        function test_invalidDates_data() {
            return [
                { tag: "text that is no date", value: "not a date" },
                { tag: "empty text", value: "" },
                { tag: "null", value: null },
                { tag: "undefined", value: undefined },
                { tag: "NaN", value: NaN },
                { tag: "invalid date object", value: new Date(NaN) }
            ]
        }

        function test_invalidDates(row) {
            compare(DisplayFormat.date(row.value), "")
            compare(DisplayFormat.dateTime(row.value), "")
        }

        function test_duration_data() {
            return [
                { tag: "0", seconds: 0, expected: "0:00" },
                { tag: "5.9", seconds: 5.9, expected: "0:05" },
                { tag: "59.99", seconds: 59.99, expected: "0:59" },
                { tag: "65", seconds: 65, expected: "1:05" },
                { tag: "600", seconds: 600, expected: "10:00" },
                { tag: "3599", seconds: 3599, expected: "59:59" },
                { tag: "3600", seconds: 3600, expected: "1:00:00" },
                { tag: "3661", seconds: 3661, expected: "1:01:01" },
                { tag: "90061", seconds: 90061, expected: "25:01:01" },
                { tag: "-5", seconds: -5, expected: "0:00" },
                { tag: "empty text", seconds: "", expected: "0:00" },
                { tag: "text of seconds", seconds: "125", expected: "2:05" },
                { tag: "NaN", seconds: NaN, expected: "0:00" },
                { tag: "undefined", seconds: undefined, expected: "0:00" },
                { tag: "a word", seconds: "abc", expected: "0:00" },
                { tag: "infinity", seconds: Infinity, expected: "0:00" }
            ]
        }

        // No locale takes part: the same text in every language.
        function test_duration(row) {
            compare(DisplayFormat.duration(row.seconds), row.expected)
        }

        function test_bytes_data() {
            return [
                { tag: "-1", value: -1, expected: "0.0 MB" },
                { tag: "0", value: 0, expected: "0.0 MB" },
                { tag: "1000", value: 1000, expected: "0.0 MB" },
                { tag: "524288", value: 524288, expected: "0.5 MB" },
                { tag: "52428800", value: 52428800, expected: "50.0 MB" },
                { tag: "just below 1 GiB", value: 1073741823, expected: "1,024.0 MB" },
                { tag: "1 GiB", value: 1073741824, expected: "1.0 GB" },
                { tag: "1.5 GiB", value: 1610612736, expected: "1.5 GB" },
                { tag: "NaN", value: NaN, expected: "0.0 MB" },
                { tag: "undefined", value: undefined, expected: "0.0 MB" },
                { tag: "a word", value: "abc", expected: "0.0 MB" },
                { tag: "infinity", value: Infinity, expected: "0.0 MB" }
            ]
        }

        function test_bytes(row) {
            const result = DisplayFormat.bytes(row.value)
            compare(result, localised(row.expected))
            verifyAsciiDigits(result)
        }

        function test_byteRange_data() {
            return [
                { tag: "100 to 300 MiB", minimum: 100 * mebibyte, maximum: 300 * mebibyte, expected: "100.0\u2013300.0 MB" },
                { tag: "500 MiB to 2 GiB", minimum: 500 * mebibyte, maximum: 2 * gibibyte, expected: "0.5\u20132.0 GB" },
                { tag: "equal sizes", minimum: 50 * mebibyte, maximum: 50 * mebibyte, expected: "50.0 MB" },
                { tag: "maximum below minimum", minimum: 300 * mebibyte, maximum: 100 * mebibyte, expected: "300.0 MB" },
                { tag: "one byte apart", minimum: 104857600, maximum: 104857601, expected: "100.0\u2013100.0 MB" },
                { tag: "half a byte apart", minimum: 104857600, maximum: 104857600.5, expected: "100.0 MB" },
                { tag: "negative minimum", minimum: -5, maximum: mebibyte, expected: "0.0\u20131.0 MB" },
                { tag: "NaN", minimum: NaN, maximum: NaN, expected: "0.0 MB" },
                { tag: "undefined", minimum: undefined, maximum: undefined, expected: "0.0 MB" },
                { tag: "words", minimum: "abc", maximum: "def", expected: "0.0 MB" },
                { tag: "NaN maximum", minimum: 50 * mebibyte, maximum: NaN, expected: "50.0 MB" }
            ]
        }

        function test_byteRange(row) {
            const result = DisplayFormat.byteRange(row.minimum, row.maximum)
            compare(result, localised(row.expected))
            verifyAsciiDigits(result)
        }

        // A binding through the formatter follows a language switch without being told.
        function test_followsTheLanguageAtEachCall() {
            const other = arabic ? "en" : "ar"
            SettingsController.language = other
            compare(DisplayFormat.integer(1234), other === "ar" ? "1\u066C234" : "1,234")
            SettingsController.language = language
            compare(DisplayFormat.integer(1234), localised("1,234"))
        }
    }

    DisplayFormatCases {
        language: "en"
    }

    DisplayFormatCases {
        language: "ar"
    }
}
