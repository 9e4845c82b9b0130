import QtQuick
import Quorin
import Quorin.Controllers

// Text fields, combo boxes, check boxes and switches, side by side in their states.
Item {
    id: gallery

    width: 1024
    height: 768
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    readonly property string icons: "qrc:/qt/qml/Quorin/assets/icons/"

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    Column {
        anchors.fill: parent
        anchors.margins: Theme.largeSpacing
        spacing: Theme.largeSpacing

        GallerySection {
            title: "Text fields"

            QuorinTextField {
                width: 220
                placeholderText: "Mobile number"
                iconSource: gallery.icons + "phone.svg"
                forceLtr: true
            }
            QuorinTextField {
                id: focusedField

                width: 220
                text: "Physics 101"
            }
            QuorinTextField {
                width: 220
                text: "Unavailable"
                enabled: false
            }
        }

        GallerySection {
            title: "Passwords"

            QuorinTextField {
                width: 220
                text: "hidden secret"
                echoMode: TextInput.Password
                passwordRevealEnabled: true
                iconSource: gallery.icons + "lock.svg"
                forceIconLeft: true
            }
            QuorinTextField {
                width: 220
                text: "revealed secret"
                echoMode: TextInput.Normal
                passwordVisible: true
                passwordRevealEnabled: true
                iconSource: gallery.icons + "lock.svg"
                forceIconLeft: true
            }
            QuorinTextField {
                width: 220
                height: 30
                topPadding: 4
                bottomPadding: 4
                text: "low field"
                echoMode: TextInput.Password
                passwordRevealEnabled: true
            }
        }

        GallerySection {
            title: "Combo boxes"

            QuorinComboBox {
                width: 200
                model: ["Light", "Dark", "System"]
                currentIndex: 2
            }
            QuorinComboBox {
                width: 200
                model: [{ label: "First year" }, { label: "Second year of the secondary certificate" }]
                textRole: "label"
                currentIndex: 1
            }
            QuorinComboBox {
                width: 200
                model: ["No choice yet"]
                currentIndex: -1
            }
            QuorinComboBox {
                width: 200
                model: ["Disabled"]
                enabled: false
            }
        }

        GallerySection {
            title: "Check boxes"

            QuorinCheckBox {
                label: "Unchecked"
            }
            QuorinCheckBox {
                label: "Checked"
                checked: true
            }
            QuorinCheckBox {
                label: "Pending"
                pending: true
            }
            QuorinCheckBox {
                label: "Checked, pending"
                checked: true
                pending: true
            }
            QuorinCheckBox {
                label: "Disabled"
                checked: true
                enabled: false
            }
            QuorinCheckBox {}
        }

        GallerySection {
            title: "Switches"

            QuorinSwitch {}
            QuorinSwitch {
                checked: true
            }
            QuorinSwitch {
                checked: true
                enabled: false
            }
        }

        GallerySection {
            title: "Open list"

            QuorinComboBox {
                id: openCombo

                width: 200
                model: ["Grade 10", "Grade 11", "Grade 12"]
                currentIndex: 1
            }
        }
    }

    // The open list would take the focus from the field, so the field is focused first.
    Component.onCompleted: {
        focusedField.forceActiveFocus(Qt.TabFocusReason)
        openCombo.popup.open()
    }
}
