import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The profile form of the settings page: full name, quiz nickname and education, saved together
// through the page's controller, and the usage telemetry switch, which takes effect at once.
// It shows whatever failure the controller holds, from this pane or from the security pane.
ScrollView {
    id: pane

    required property ProfileController profile
    property var filteredInstitutions: []
    property var availableYears: []
    property string feedback: ""
    property bool saveValidationRequested: false

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

    function filterInstitutions(level) {
        const wanted = textOf(level)
        filteredInstitutions = listOf(profile.institutions).filter(
                    entry => wanted === "" || (entry && textOf(entry.educationLevel) === wanted))
    }

    // An institution whose "years" is empty lists its years under "academicYears", as sign-up
    // reads them; taking the empty list would leave nothing to choose and block every save.
    function selectInstitution(id) {
        availableYears = []
        const wanted = textOf(id)
        const found = filteredInstitutions.find(entry => entry && textOf(entry.id) === wanted)
        if (!found)
            return
        const years = listOf(found.years)
        availableYears = years.length > 0 ? years : listOf(found.academicYears)
    }

    // The controller's stored education, never what the selector shows meanwhile. The selector
    // picks the values on the next turn, once its lists hold the new models.
    function showStoredEducation() {
        filterInstitutions(profile.educationLevel)
        selectInstitution(profile.institutionId)
        storedEducationTimer.restart()
    }

    function save() {
        feedback = ""
        educationSelector.showValidation = true
        saveValidationRequested = true
        if (!educationSelector.acceptableInput)
            return
        profile.updateProfile(fullNameField.text, nicknameField.text, educationSelector.yearId)
    }

    objectName: "profilePaneScrollView"
    clip: true
    contentWidth: availableWidth
    contentHeight: form.height
    ScrollBar.vertical: QuorinScrollBar {}
    ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

    Component.onCompleted: {
        fullNameField.text = profile.fullName
        nicknameField.text = profile.nickname
        profile.fetchInstitutions()
        filterInstitutions(profile.educationLevel)
    }

    // Stops with the pane, so a pane that is gone selects nothing.
    Timer {
        id: storedEducationTimer

        interval: 0
        onTriggered: educationSelector.selectValues(pane.profile.educationLevel, pane.profile.institutionId,
                                                    pane.profile.yearId)
    }

    Connections {
        target: pane.profile

        function onProfileLoaded() {
            fullNameField.text = pane.profile.fullName
            nicknameField.text = pane.profile.nickname
            pane.showStoredEducation()
        }

        function onInstitutionsChanged() {
            pane.showStoredEducation()
        }

        function onProfileUpdated() {
            pane.saveValidationRequested = false
            educationSelector.showValidation = false
            pane.feedback = qsTr("Profile updated successfully!")
        }
    }

    component FieldLabel: Text {
        color: Theme.textSecondary
        font.family: Theme.fontFamily
        font.bold: true
        horizontalAlignment: Text.AlignLeft
        Layout.fillWidth: true
    }

    ColumnLayout {
        id: form

        width: pane.availableWidth
        height: Math.max(implicitHeight, pane.availableHeight)
        spacing: Theme.spacing

        Text {
            objectName: "profileHeading"
            text: qsTr("Edit information")
            color: Theme.primary
            font.family: Theme.fontFamily
            font.pixelSize: 18
            font.bold: true
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
        }

        QuorinSpinner {
            objectName: "profileLoadingSpinner"
            running: visible
            visible: pane.profile.isLoading && pane.profile.state === "loading"
            Layout.preferredWidth: Theme.workspaceSpinnerSize
            Layout.preferredHeight: Theme.workspaceSpinnerSize
            Layout.alignment: Qt.AlignHCenter
        }

        QuorinNotice {
            objectName: "profileFailureNotice"
            visible: pane.profile.state === "failed"
            severity: pane.profile.failure.severity !== "" ? pane.profile.failure.severity : "error"
            title: qsTr("Profile could not be loaded")
            message: pane.profile.failure.userMessage
            details: pane.profile.failure.technicalDetails
            actionText: pane.profile.failure.retryable ? qsTr("Retry") : ""
            Layout.fillWidth: true
            onActionTriggered: {
                pane.profile.fetchProfile()
                pane.profile.fetchInstitutions()
            }
        }

        FieldLabel {
            text: qsTr("Full name")
        }

        QuorinTextField {
            id: fullNameField

            objectName: "profileFullName"
            Accessible.name: qsTr("Full name")
            Layout.fillWidth: true
        }

        FieldLabel {
            text: qsTr("Quiz nickname")
        }

        QuorinTextField {
            id: nicknameField

            objectName: "profileNickname"
            placeholderText: qsTr("Nickname shown in quizzes")
            Accessible.name: qsTr("Quiz nickname")
            Layout.fillWidth: true
        }

        FieldLabel {
            text: qsTr("Education")
        }

        EducationSelector {
            id: educationSelector

            objectName: "profileEducation"
            institutionsModel: pane.filteredInstitutions
            yearsModel: pane.availableYears
            requireEducation: false
            Layout.fillWidth: true
            onEducationLevelSelected: value => {
                pane.filterInstitutions(value)
                pane.availableYears = []
            }
            onInstitutionSelected: value => pane.selectInstitution(value)
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing

            Text {
                text: qsTr("Share usage telemetry")
                color: Theme.text
                font.family: Theme.fontFamily
                horizontalAlignment: Text.AlignLeft
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }

            QuorinSwitch {
                objectName: "profileTelemetrySwitch"
                checked: SettingsController.usageTelemetryEnabled
                Accessible.name: qsTr("Share usage telemetry")
                onToggled: SettingsController.usageTelemetryEnabled = checked
            }
        }

        Text {
            objectName: "profileTelemetryNote"
            text: qsTr("Operational crash and reliability diagnostics remain enabled. Usage events never include course names, URLs, phone numbers, or credentials.")
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 12
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
        }

        QuorinNotice {
            objectName: "profileSuccessNotice"
            severity: "success"
            message: pane.feedback
            visible: pane.feedback !== ""
            Layout.fillWidth: true
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: Theme.spacing
        }

        // Given before the window mirrors: right-to-left sets the left side, which the
        // mirroring then carries over.
        QuorinButton {
            readonly property bool rightToLeft: SettingsController.layoutDirection === Qt.RightToLeft

            objectName: "profileSaveButton"
            text: qsTr("Save profile")
            isLoading: pane.profile.isLoading
            transformOrigin: rightToLeft ? Item.TopRight : Item.TopLeft
            Layout.alignment: rightToLeft ? Qt.AlignLeft : Qt.AlignRight
            Layout.rightMargin: rightToLeft ? 0 : Theme.smallSpacing
            Layout.leftMargin: rightToLeft ? Theme.smallSpacing : 0
            onClicked: pane.save()
        }
    }
}
