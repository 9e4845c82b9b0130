import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic as Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Quorin

// A drop-down choice for long lists: closed it shows the chosen record's text; open, a search
// field above the records whose text contains the search. The choice is a value held as text,
// not a row, so refiltering or replacing the model never changes it; a value no record has
// leaves the box showing its placeholder.
T.Control {
    id: control

    property var model: []
    property string textRole: "text"
    property string valueRole: "value"
    property string currentValue: ""
    property string placeholderText: qsTr("Select an option")
    property string noResultsText: qsTr("No results found")
    property alias popupVisible: popup.visible
    readonly property var filteredModel: internal.filtered
    readonly property string displayText: {
        if (currentValue === "")
            return ""
        const records = listOf(model)
        for (let index = 0; index < records.length; ++index) {
            if (valueOf(records[index]) === currentValue)
                return textOf(records[index])
        }
        return ""
    }

    // The user chose the record with this value, also when it was the chosen one already.
    signal activated(string value)

    // A plain array of the list's elements; a list handed over by a controller is no array.
    function listOf(value) {
        const list = []
        if (value && typeof value === "object" && typeof value.length === "number") {
            for (let index = 0; index < value.length; ++index)
                list.push(value[index])
        }
        return list
    }

    function entryOf(record, role) {
        if (record === undefined || record === null || typeof record !== "object")
            return ""
        const entry = record[role]
        return entry === undefined || entry === null ? "" : String(entry)
    }

    function textOf(record) {
        return entryOf(record, textRole)
    }

    function valueOf(record) {
        return entryOf(record, valueRole)
    }

    function selectValue(value) {
        currentValue = value === undefined || value === null ? "" : String(value)
    }

    function activateIndex(index) {
        const records = internal.filtered
        if (index < 0 || index >= records.length)
            return
        currentValue = valueOf(records[index])
        activated(currentValue)
        popup.close()
    }

    function refilter() {
        const records = listOf(model)
        // Neither trimmed nor folded beyond the locale's lower case: accents, letter variants
        // and other digits match only themselves.
        const query = searchField.text.toLocaleLowerCase()
        internal.filtered = query === "" ? records
                                         : records.filter(record => textOf(record).toLocaleLowerCase().indexOf(query) >= 0)
    }

    function togglePopup() {
        if (popup.visible)
            popup.close()
        else
            popup.open()
    }

    implicitWidth: 200
    implicitHeight: 48
    leftPadding: 12
    rightPadding: 12
    topPadding: 0
    bottomPadding: 0
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true

    Accessible.role: Accessible.ComboBox
    Accessible.name: placeholderText

    onModelChanged: refilter()
    onTextRoleChanged: refilter()
    Component.onCompleted: refilter()

    Keys.onPressed: event => {
        if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space
                || event.key === Qt.Key_Down) {
            if (!popup.visible)
                popup.open()
            event.accepted = true
        }
    }

    QtObject {
        id: internal

        property var filtered: []
    }

    background: Rectangle {
        objectName: "searchableComboBackground"
        color: control.enabled ? Theme.surface : Theme.surfaceElevated
        radius: Theme.radius
        border.width: 1
        border.color: control.activeFocus || popup.visible ? Theme.primary : Theme.border
    }

    contentItem: RowLayout {
        spacing: Theme.smallSpacing

        QuorinElidedLabel {
            objectName: "searchableComboText"
            text: control.displayText !== "" ? control.displayText : control.placeholderText
            color: control.displayText !== "" ? Theme.text : Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
            hoverCursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
        }

        QuorinChevron {
            Layout.preferredWidth: 10
            Layout.preferredHeight: 6
            Layout.alignment: Qt.AlignVCenter
        }
    }

    TapHandler {
        onTapped: {
            control.forceActiveFocus(Qt.MouseFocusReason)
            control.togglePopup()
        }
    }

    QuorinDropdownPopup {
        id: popup

        objectName: "searchableComboPopup"
        minimumWidth: 260
        naturalHeight: Math.min(320, popupContent.implicitHeight + topPadding + bottomPadding)

        onAboutToShow: control.refilter()
        onOpened: searchField.forceActiveFocus()
        // The keyboard goes back to the box as the pop-up starts closing: a press on another
        // field, which closes it too, is delivered after this and takes the focus there.
        onAboutToHide: {
            if (searchField.activeFocus || resultList.activeFocus)
                control.forceActiveFocus()
        }
        // Every close forgets the search, so the next opening lists the whole model.
        onClosed: searchField.text = ""

        contentItem: ColumnLayout {
            id: popupContent

            spacing: Theme.smallSpacing

            QuorinTextField {
                id: searchField

                objectName: "institutionSearchField"
                placeholderText: qsTr("Search institutions")
                Accessible.name: placeholderText
                Layout.fillWidth: true

                onTextChanged: {
                    control.refilter()
                    resultList.currentIndex = internal.filtered.length > 0 ? 0 : -1
                }
                Keys.onDownPressed: resultList.forceActiveFocus()
            }

            Text {
                objectName: "searchableComboNoResults"
                visible: control.filteredModel.length === 0
                text: control.noResultsText
                color: Theme.textSecondary
                font.family: Theme.fontFamily
                font.pixelSize: 14
                horizontalAlignment: Text.AlignHCenter
                topPadding: Theme.spacing
                bottomPadding: Theme.spacing
                Layout.fillWidth: true
            }

            ListView {
                id: resultList

                objectName: "searchableComboResults"
                visible: control.filteredModel.length > 0
                clip: true
                keyNavigationEnabled: true
                boundsBehavior: Flickable.StopAtBounds
                model: control.filteredModel
                implicitHeight: Math.min(contentHeight, 220)
                Layout.fillWidth: true
                Layout.preferredHeight: implicitHeight

                Keys.onReturnPressed: control.activateIndex(currentIndex)
                Keys.onEnterPressed: control.activateIndex(currentIndex)

                ScrollBar.vertical: QuorinScrollBar {}

                delegate: Basic.ItemDelegate {
                    id: resultRow

                    required property int index
                    required property var modelData
                    readonly property bool current: ListView.isCurrentItem

                    objectName: "searchableComboResultDelegate"
                    width: ListView.view ? ListView.view.width : implicitWidth
                    height: 44
                    padding: 12
                    hoverEnabled: true
                    focusPolicy: Qt.NoFocus
                    text: control.textOf(modelData)
                    Accessible.name: text

                    contentItem: QuorinElidedLabel {
                        text: resultRow.text
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                        color: resultRow.current ? Theme.primary : Theme.text
                        elide: Text.ElideRight
                        verticalAlignment: Text.AlignVCenter
                        hoverCursorShape: Qt.PointingHandCursor
                    }

                    background: Rectangle {
                        color: resultRow.current || resultRow.hovered ? Theme.hover : Theme.surfaceElevated
                        radius: Theme.radius - 2
                    }

                    onClicked: control.activateIndex(index)
                }
            }
        }
    }
}
