import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The colour theme, the interface language and the animation speed. Every change is written to
// the preference at once; the controls always show what is stored.
Item {
    id: pane

    readonly property var themeModes: ["system", "light", "dark"]
    readonly property var languages: ["en", "ar"]

    function themeIndex() {
        const index = themeModes.indexOf(SettingsController.themeMode)
        return index < 0 ? 0 : index
    }

    function languageIndex() {
        return SettingsController.language === "ar" ? 1 : 0
    }

    function speedDescription(multiplier) {
        if (multiplier === 0)
            return qsTr("Instant (disabled)")
        if (multiplier <= 0.5)
            return qsTr("Fast")
        if (multiplier <= 1.0)
            return qsTr("Normal")
        return qsTr("Slow")
    }

    objectName: "appearancePane"
    implicitWidth: column.implicitWidth
    implicitHeight: column.implicitHeight

    ColumnLayout {
        id: column

        anchors.fill: parent
        spacing: Theme.largeSpacing

        Label {
            objectName: "appearanceHeading"
            Layout.fillWidth: true
            text: qsTr("Appearance")
            color: Theme.primary
            font.bold: true
            font.pixelSize: 18
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing

            Label {
                objectName: "themeLabel"
                Layout.fillWidth: true
                text: qsTr("Theme")
                color: Theme.text
                font.pixelSize: 16
            }

            QuorinComboBox {
                id: themeBox

                objectName: "themeComboBox"
                model: [qsTr("System"), qsTr("Light"), qsTr("Dark")]
                currentIndex: pane.themeIndex()
                Accessible.name: qsTr("Theme")
                onActivated: index => SettingsController.themeMode = pane.themeModes[index]
                // A retranslation hands the box a new list, and the box falls back to the first
                // item although its index is bound: the stored choice is shown again.
                onModelChanged: currentIndex = Qt.binding(() => pane.themeIndex())
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing

            Label {
                objectName: "languageLabel"
                Layout.fillWidth: true
                text: qsTr("Language")
                color: Theme.text
                font.pixelSize: 16
            }

            QuorinComboBox {
                id: languageBox

                objectName: "languageComboBox"
                model: [qsTr("English"), qsTr("Arabic")]
                currentIndex: pane.languageIndex()
                Accessible.name: qsTr("Language")
                onActivated: index => SettingsController.language = pane.languages[index]
                onModelChanged: currentIndex = Qt.binding(() => pane.languageIndex())
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.smallSpacing

            Label {
                objectName: "animationSpeedLabel"
                Layout.fillWidth: true
                text: qsTr("Animation speed")
                color: Theme.text
                font.pixelSize: 16
            }

            Label {
                objectName: "animationSpeedDescription"
                Layout.fillWidth: true
                text: pane.speedDescription(SettingsController.animationSpeedMultiplier)
                color: Theme.textSecondary
                font.pixelSize: 13
            }

            QuorinSlider {
                id: speedSlider

                objectName: "animationSpeedSlider"
                Layout.fillWidth: true
                mediaPalette: false
                bufferVisible: false
                from: 0
                to: 2
                stepSize: 0.25
                snapMode: Slider.NoSnap
                Accessible.name: qsTr("Animation speed")
                // A drag may end between steps, so the handle's position is written, not value:
                // on Qt 6.4 a drag rounds value to the step even without snapping.
                onMoved: SettingsController.animationSpeedMultiplier = from + position * (to - from)

                // Let go while dragged: the stored speed coming back would move the slider's
                // rounded value, and the handle with it, under the pointer.
                Binding {
                    target: speedSlider
                    property: "value"
                    value: SettingsController.animationSpeedMultiplier
                    when: !speedSlider.pressed
                    restoreMode: Binding.RestoreNone
                }
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }
}
