import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The student's education as three dependent choices: level, institution (searchable) and
// academic year. It shows and validates, nothing more: the host answers educationLevelSelected
// and institutionSelected by supplying the institutions of the level and the years of the
// institution, shows stored values with selectValues() and reads institutionId and yearId back.
// An earlier choice clears the later ones; the signals come only from the user's choices.
ColumnLayout {
    id: selector

    property var institutionsModel: []
    property var yearsModel: []
    property string educationLevel: ""
    property string institutionId: ""
    property string yearId: ""
    property bool showValidation: false
    property bool requireEducation: true
    readonly property var localizedYears: {
        const label = qsTr("Year %1")
        return listOf(yearsModel).map(record => ({ id: record ? record.id : undefined, value: label.arg(yearText(record)) }))
    }
    readonly property bool hasAnySelection: educationLevel !== "" || institutionId !== "" || yearId !== ""
    readonly property bool acceptableInput: hasAnySelection
                                            ? educationLevel !== "" && institutionId !== "" && yearId !== ""
                                            : !requireEducation

    signal educationLevelSelected(string value)
    signal institutionSelected(string value)
    signal yearSelected(string value)

    // A plain array of the list's elements; a list handed over by a controller is no array.
    function listOf(value) {
        const list = []
        if (value && typeof value === "object" && typeof value.length === "number") {
            for (let index = 0; index < value.length; ++index)
                list.push(value[index])
        }
        return list
    }

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    // What stands for %1 in "Year %1": the record's value, else its name, a number of ASCII
    // digits written as a locale integer; a record with neither gives its id.
    function yearText(record) {
        if (!record || typeof record !== "object")
            return ""
        let label = record.value
        if (label === undefined || label === null)
            label = record.name
        if (label === undefined || label === null)
            return textOf(record.id)
        const text = String(label)
        return /^[0-9]+$/.test(text) ? DisplayFormat.integer(Number(text)) : text
    }

    function levelIndexFor(level) {
        return level === "UNIVERSITY" ? 1 : level === "SCHOOL" ? 0 : -1
    }

    function yearIndexFor(id) {
        if (id === "")
            return -1
        for (let index = 0; index < localizedYears.length; ++index) {
            if (textOf(localizedYears[index].id) === id)
                return index
        }
        return -1
    }

    // Shows stored values without announcing them. The host supplies the years of the
    // institution before the call; a year they do not hold leaves the year box as it was.
    function selectValues(level, institution, year) {
        educationLevel = textOf(level)
        institutionId = textOf(institution)
        yearId = textOf(year)
        levelBox.currentIndex = levelIndexFor(educationLevel)
        institutionBox.selectValue(institutionId)
        const yearIndex = yearIndexFor(yearId)
        if (yearIndex >= 0)
            yearBox.currentIndex = yearIndex
    }

    spacing: Theme.smallSpacing

    component Caption: Text {
        color: Theme.textSecondary
        font.family: Theme.fontFamily
        font.pixelSize: 14
        font.bold: true
        horizontalAlignment: Text.AlignLeft
        Layout.fillWidth: true
    }

    Caption {
        text: qsTr("Educational level")
    }

    QuorinComboBox {
        id: levelBox

        objectName: "educationLevelSelector"
        model: [
            { text: qsTr("School"), value: "SCHOOL" },
            { text: qsTr("University"), value: "UNIVERSITY" }
        ]
        textRole: "text"
        valueRole: "value"
        currentIndex: -1
        Accessible.name: qsTr("Educational level")
        Layout.fillWidth: true

        // A combo box goes back to its first entry whenever its model is replaced, as a
        // language switch does; the chosen level decides, from creation on.
        onModelChanged: currentIndex = selector.levelIndexFor(selector.educationLevel)
        Component.onCompleted: currentIndex = selector.levelIndexFor(selector.educationLevel)
        onActivated: index => {
            const value = valueAt(index)
            selector.educationLevel = value
            selector.institutionId = ""
            selector.yearId = ""
            institutionBox.selectValue("")
            yearBox.currentIndex = -1
            selector.educationLevelSelected(value)
        }
    }

    Caption {
        text: qsTr("Institution")
    }

    SearchableComboBox {
        id: institutionBox

        objectName: "institutionSelector"
        model: selector.institutionsModel
        textRole: "name"
        valueRole: "id"
        enabled: selector.educationLevel !== ""
        Accessible.name: qsTr("Institution")
        Layout.fillWidth: true

        onActivated: value => {
            selector.institutionId = value
            selector.yearId = ""
            yearBox.currentIndex = -1
            selector.institutionSelected(value)
        }
    }

    Caption {
        text: qsTr("Academic year")
    }

    QuorinComboBox {
        id: yearBox

        objectName: "academicYearSelector"
        model: selector.localizedYears
        textRole: "value"
        valueRole: "id"
        currentIndex: -1
        enabled: selector.institutionId !== ""
        Accessible.name: qsTr("Academic year")
        Layout.fillWidth: true

        // New years (a new institution, or a language switch) would otherwise show the first
        // entry as chosen; the chosen year decides.
        onModelChanged: currentIndex = selector.yearIndexFor(selector.yearId)
        onActivated: index => {
            selector.yearId = selector.textOf(selector.localizedYears[index].id)
            selector.yearSelected(selector.yearId)
        }
    }

    Text {
        objectName: "educationValidationMessage"
        visible: selector.showValidation && !selector.acceptableInput
        text: selector.requireEducation && !selector.hasAnySelection
              ? qsTr("Select your educational level, institution, and academic year.")
              : qsTr("Complete your educational level, institution, and academic year, or clear the education selection.")
        color: Theme.error
        font.family: Theme.fontFamily
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignLeft
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
        Layout.fillWidth: true
    }
}
