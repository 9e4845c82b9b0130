import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 800
    height: 700

    readonly property var institutions: [
        { id: 11, name: "Nile School", educationLevel: "SCHOOL" },
        { id: "u-1", name: "Cairo University", educationLevel: "UNIVERSITY" }
    ]
    readonly property var years: [
        { id: "y-1", value: 1 },
        { id: "y-2", value: 2 }
    ]

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: selectorComponent

        EducationSelector {
            x: 20
            y: 20
            width: 400
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "EducationSelector"
        when: windowShown

        // Every signal of the selector, in order, with the values it held when it was emitted.
        property var heard: []

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            heard = []
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const selector = createTemporaryObject(selectorComponent, area, properties || {})
            verify(selector)
            const note = name => value => heard.push({
                signal: name,
                value: value,
                level: selector.educationLevel,
                institution: selector.institutionId,
                year: selector.yearId
            })
            selector.educationLevelSelected.connect(note("level"))
            selector.institutionSelected.connect(note("institution"))
            selector.yearSelected.connect(note("year"))
            return selector
        }

        function levelBox(selector) {
            return findChild(selector, "educationLevelSelector")
        }

        function institutionBox(selector) {
            return findChild(selector, "institutionSelector")
        }

        function yearBox(selector) {
            return findChild(selector, "academicYearSelector")
        }

        function message(selector) {
            return findChild(selector, "educationValidationMessage")
        }

        // Picks an entry of a themed combo box as the user does, through its pop-up.
        function pick(combo, index) {
            mouseClick(combo)
            tryCompare(combo.popup, "opened", true)
            const list = combo.popup.contentItem
            tryVerify(() => list.itemAtIndex(index) !== null)
            mouseClick(list.itemAtIndex(index))
            tryCompare(combo.popup, "visible", false)
        }

        function chooseInstitution(selector, value) {
            const box = institutionBox(selector)
            mouseClick(box)
            tryCompare(box, "popupVisible", true)
            const index = box.filteredModel.findIndex(record => String(record.id) === value)
            verify(index >= 0, value)
            box.activateIndex(index)
        }

        function test_validity_data() {
            const first = "Select your educational level, institution, and academic year."
            const partial = "Complete your educational level, institution, and academic year, or clear the education selection."
            const rows = []
            const choices = [
                { name: "none", level: "", institution: "", year: "" },
                { name: "level", level: "SCHOOL", institution: "", year: "" },
                { name: "level and institution", level: "SCHOOL", institution: "11", year: "" },
                { name: "all", level: "SCHOOL", institution: "11", year: "y-1" }
            ]
            const expected = {
                "required none": { acceptable: false, message: first },
                "required level": { acceptable: false, message: partial },
                "required level and institution": { acceptable: false, message: partial },
                "required all": { acceptable: true, message: "" },
                "optional none": { acceptable: true, message: "" },
                "optional level": { acceptable: false, message: partial },
                "optional level and institution": { acceptable: false, message: partial },
                "optional all": { acceptable: true, message: "" }
            }
            for (const required of [true, false]) {
                for (const choice of choices) {
                    const tag = (required ? "required " : "optional ") + choice.name
                    rows.push({ tag: tag, required: required, choice: choice, expected: expected[tag] })
                }
            }
            return rows
        }

        function test_validity(row) {
            const selector = make({ requireEducation: row.required, institutionsModel: root.institutions,
                                    yearsModel: root.years })
            selector.selectValues(row.choice.level, row.choice.institution, row.choice.year)
            compare(selector.acceptableInput, row.expected.acceptable)
            compare(message(selector).visible, false, "nothing shows before the host asks")
            selector.showValidation = true
            compare(message(selector).visible, row.expected.message !== "")
            if (row.expected.message !== "") {
                compare(message(selector).text, row.expected.message)
                compare(message(selector).Accessible.role, Accessible.AlertMessage)
            }
        }

        function test_earlierChoicesClearLaterOnes() {
            const selector = make({ institutionsModel: root.institutions, yearsModel: root.years })
            verify(!institutionBox(selector).enabled)
            verify(!yearBox(selector).enabled)
            selector.selectValues("SCHOOL", "11", "y-2")
            compare(yearBox(selector).currentIndex, 1)

            // The level already shown counts as a choice too.
            pick(levelBox(selector), 0)
            compare(heard, [{ signal: "level", value: "SCHOOL", level: "SCHOOL", institution: "", year: "" }])
            compare(institutionBox(selector).currentValue, "")
            compare(yearBox(selector).currentIndex, -1)
            verify(institutionBox(selector).enabled)
            verify(!yearBox(selector).enabled)

            heard = []
            chooseInstitution(selector, "11")
            compare(heard, [{ signal: "institution", value: "11", level: "SCHOOL", institution: "11", year: "" }])
            verify(yearBox(selector).enabled)
            compare(yearBox(selector).currentIndex, -1, "the host's years do not choose one")

            heard = []
            pick(yearBox(selector), 1)
            compare(heard, [{ signal: "year", value: "y-2", level: "SCHOOL", institution: "11", year: "y-2" }])

            heard = []
            chooseInstitution(selector, "11")
            compare(selector.yearId, "")
            compare(yearBox(selector).currentIndex, -1)
            compare(heard.map(entry => entry.signal), ["institution"])
        }

        function test_yearLabels_data() {
            return [
                { tag: "value", record: { id: "a", value: 3 }, english: "Year 3", arabic: "السنة 3" },
                { tag: "name", record: { id: "a", name: "First" }, english: "Year First", arabic: "السنة First" },
                { tag: "value zero beside a name", record: { id: "a", value: 0, name: "Zero" },
                  english: "Year 0", arabic: "السنة 0" },
                { tag: "Arabic-Indic digits", record: { id: "a", value: "\u0663" },
                  english: "Year \u0663", arabic: "السنة \u0663" },
                { tag: "neither", record: { id: 17 }, english: "Year 17", arabic: "السنة 17" }
            ]
        }

        function test_yearLabels(row) {
            const selector = make({ yearsModel: [row.record] })
            compare(selector.localizedYears.length, 1)
            compare(selector.localizedYears[0].id, row.record.id)
            compare(selector.localizedYears[0].value, row.english)
            SettingsController.language = "ar"
            compare(selector.localizedYears[0].value, row.arabic)
        }

        // A language switch gives the boxes new models; the choices stay.
        function test_languageSwitchKeepsTheChoices() {
            const selector = make({ institutionsModel: root.institutions, yearsModel: root.years })
            selector.selectValues("UNIVERSITY", "u-1", "y-2")
            SettingsController.language = "ar"
            compare(levelBox(selector).currentIndex, 1)
            compare(yearBox(selector).currentIndex, 1)
            compare(yearBox(selector).displayText, "السنة 2")
            SettingsController.language = "en"
            compare(yearBox(selector).displayText, "Year 2")
        }

        function test_selectValues() {
            const selector = make({ institutionsModel: root.institutions, yearsModel: root.years })
            compare(levelBox(selector).currentIndex, -1, "no level shows no first entry")
            selector.selectValues("SCHOOL", 11, "y-1")
            compare(selector.institutionId, "11")
            compare(institutionBox(selector).displayText, "Nile School")
            compare(yearBox(selector).currentIndex, 0)

            selector.selectValues("SCHOOL", "11", "y-unknown")
            compare(selector.yearId, "y-unknown")
            compare(yearBox(selector).currentIndex, 0, "an unknown year leaves the box as it was")

            selector.selectValues("UNIVERSITY", "u-unknown", "")
            compare(selector.institutionId, "u-unknown")
            verify(selector.hasAnySelection)
            compare(institutionBox(selector).displayText, "")
            compare(findChild(institutionBox(selector), "searchableComboText").text, "Select an option")
            compare(heard, [], "selectValues announces nothing")
        }
    }
}
