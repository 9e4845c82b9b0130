import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The settings page of the signed-in user: a column of categories and one pane at a time. The
// page owns the profile controller that the profile and security panes share, so a failure of
// any of its calls shows in the profile pane; it confirms an account deletion itself and ends
// the sign-in on "Logout" or after the deletion.
Rectangle {
    id: page

    readonly property bool compactLayout: width < 760
    readonly property ProfileController profileController: controller
    // The chosen category, kept apart from the list: a language switch hands the list a new
    // model, and the list then falls back to its first row.
    property int chosenCategory: 0
    readonly property var paneComponents: [profilePaneComponent, securityPaneComponent,
                                           appearancePaneComponent, integrationsPaneComponent,
                                           aboutPaneComponent]

    function chooseCategory(index) {
        if (index === chosenCategory)
            return
        const below = index > chosenCategory
        chosenCategory = index
        categoryList.currentIndex = index
        contentPane.currentDirection = below ? 1 : -1
        paneStack.replace(paneComponents[index])
    }

    // The sign-out announces the end of the session within the call, and the page stack then
    // puts the sign-in page in this page's place, taking this page off the stack: its attached
    // view is null afterwards. The stack is read first, so that every page still goes.
    function signOut() {
        const stack = StackView.view
        NetworkManager.logout()
        if (stack)
            stack.replace(null, Qt.resolvedUrl("Login.qml"))
    }

    objectName: "profileSettingsPage"
    color: Theme.background

    Component.onCompleted: SettingsController.fetchTelegramStatus()

    ProfileController {
        id: controller

        Component.onCompleted: fetchProfile()
        onAccountDeleted: page.signOut()
        // The dialog has closed by now; the profile pane shows the failure only when chosen.
        onAccountDeleteError: failure => Snackbar.show(failure.userMessage, "error")
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: page.compactLayout ? Theme.spacing : 24
        spacing: Theme.spacing

        Item {
            objectName: "settingsHeader"
            Layout.fillWidth: true
            Layout.preferredHeight: 44
            Layout.bottomMargin: page.compactLayout ? Theme.smallSpacing : Theme.largeSpacing

            QuorinBackIconButton {
                objectName: "settingsBackButton"
                width: 48
                height: 48
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                onClicked: page.StackView.view.pop()
            }

            Text {
                objectName: "settingsTitle"
                anchors.centerIn: parent
                text: qsTr("Settings")
                color: Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: 24
                font.bold: true
            }
        }

        RowLayout {
            objectName: "settingsBody"
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: page.compactLayout ? Theme.spacing : Theme.largeSpacing

            Rectangle {
                objectName: "settingsNavigationPane"
                Layout.preferredWidth: page.compactLayout ? 180 : 250
                Layout.fillHeight: true
                color: Theme.surface
                radius: Theme.radius
                border.width: 1
                border.color: "#0DFFFFFF"

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 0

                    ListView {
                        id: categoryList

                        objectName: "settingsCategoryList"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        Layout.margins: Theme.spacing
                        clip: true
                        interactive: false
                        // A plain list of texts, so a language switch relabels the rows at once.
                        model: [qsTr("Profile"), qsTr("Security"), qsTr("Appearance"), qsTr("Integrations"),
                                qsTr("About")]
                        currentIndex: 0
                        highlightFollowsCurrentItem: false
                        highlight: NavigationSelectionHighlight {
                            objectName: "settingsNavigationHighlight"
                            targetY: categoryList.currentIndex * 48
                            targetHeight: 48
                        }

                        onModelChanged: currentIndex = page.chosenCategory

                        delegate: ItemDelegate {
                            id: row

                            required property string modelData
                            required property int index

                            objectName: "settingsCategory" + index
                            width: ListView.view.width
                            height: 48
                            padding: 0
                            leftPadding: Theme.spacing
                            rightPadding: Theme.spacing
                            background: null
                            text: modelData
                            Accessible.name: modelData
                            contentItem: Text {
                                objectName: "settingsCategoryLabel"
                                text: row.modelData
                                color: Theme.text
                                font.family: Theme.fontFamily
                                font.pixelSize: 16
                                font.bold: row.ListView.isCurrentItem
                                verticalAlignment: Text.AlignVCenter
                                horizontalAlignment: Text.AlignLeft
                                elide: Text.ElideRight
                            }

                            HoverHandler {
                                cursorShape: Qt.PointingHandCursor
                            }

                            onClicked: page.chooseCategory(index)
                        }
                    }

                    Item {
                        objectName: "settingsLogoutArea"
                        Layout.fillWidth: true
                        Layout.preferredHeight: logoutButton.height + 2 * Theme.largeSpacing

                        Rectangle {
                            width: parent.width
                            height: 1
                            color: "#1AFFFFFF"
                        }

                        QuorinButton {
                            id: logoutButton

                            objectName: "signOutButton"
                            anchors.centerIn: parent
                            width: parent.width - 2 * Theme.spacing
                            text: qsTr("Logout")
                            isOutline: true
                            buttonColor: Theme.error
                            onClicked: page.signOut()
                        }
                    }
                }
            }

            Rectangle {
                id: contentPane

                // 1 when the category chosen last lies below the previous one, -1 above.
                property int currentDirection: 1

                objectName: "settingsContentPane"
                Layout.fillWidth: true
                Layout.fillHeight: true
                color: Theme.surface
                radius: Theme.radius
                border.width: 1
                border.color: "#0DFFFFFF"
                clip: true

                StackView {
                    id: paneStack

                    objectName: "settingsPaneStack"
                    anchors.fill: parent
                    anchors.margins: page.compactLayout ? Theme.spacing : Theme.largeSpacing
                    initialItem: profilePaneComponent

                    // A fixed slide, whatever the animation speed setting: the panes move up when
                    // the new category lies below, down when it lies above.
                    replaceEnter: Transition {
                        NumberAnimation {
                            property: "y"
                            from: contentPane.currentDirection * paneStack.height
                            to: 0
                            duration: 300
                            easing.type: Easing.OutCubic
                        }
                        NumberAnimation {
                            property: "opacity"
                            from: 0
                            to: 1
                            duration: 300
                        }
                    }
                    replaceExit: Transition {
                        NumberAnimation {
                            property: "y"
                            from: 0
                            to: -contentPane.currentDirection * paneStack.height
                            duration: 300
                            easing.type: Easing.OutCubic
                        }
                        NumberAnimation {
                            property: "opacity"
                            from: 1
                            to: 0
                            duration: 300
                        }
                    }
                }
            }
        }
    }

    // The wrapper of every pane but the profile pane, which scrolls itself.
    component PaneScroll: ScrollView {
        id: scroll

        default property alias pane: holder.data

        clip: true
        contentWidth: availableWidth
        contentHeight: holder.height
        ScrollBar.vertical: QuorinScrollBar {}
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

        Item {
            id: holder

            readonly property Item child: children.length > 0 ? children[0] : null

            width: scroll.availableWidth
            height: child ? Math.max(child.implicitHeight, scroll.availableHeight) : 0
        }
    }

    Component {
        id: profilePaneComponent

        ProfilePane {
            profile: controller
        }
    }

    Component {
        id: securityPaneComponent

        PaneScroll {
            objectName: "settingsSecurityScroll"

            SecurityPane {
                anchors.fill: parent
                profile: controller
                onDeleteRequested: deleteDialog.open()
            }
        }
    }

    Component {
        id: appearancePaneComponent

        PaneScroll {
            objectName: "settingsAppearanceScroll"

            AppearancePane {
                anchors.fill: parent
            }
        }
    }

    Component {
        id: integrationsPaneComponent

        PaneScroll {
            objectName: "settingsIntegrationsScroll"

            IntegrationsPane {
                anchors.fill: parent
            }
        }
    }

    Component {
        id: aboutPaneComponent

        PaneScroll {
            objectName: "settingsAboutScroll"

            AboutPane {
                anchors.fill: parent
            }
        }
    }

    QuorinDialog {
        id: deleteDialog

        objectName: "settingsDeleteDialog"
        headerText: qsTr("Delete account")
        bodyText: qsTr("Are you sure you want to delete your account? This action cannot be undone.")
        confirmText: qsTr("Delete")
        cancelText: qsTr("Cancel")
        confirmColor: Theme.error
        headerColor: Theme.error
        onAccepted: controller.deleteAccount()
    }
}
