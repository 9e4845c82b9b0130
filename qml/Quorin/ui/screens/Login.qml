import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The page shown while nobody is signed in: a brand panel beside a stack of five forms (sign in,
// sign up, code entry, forgotten password, new password), one at a time. Each form is made anew
// whenever it is shown and listens to its controller only while it is the form on show, so an
// answer that comes after the user moved on is acted on nowhere. After a successful sign-in the
// page replaces itself on the page stack with the home page.
Item {
    id: page

    readonly property bool compactLayout: width < 900
    // The number the last reset code was asked for; the new-password form sends it.
    property string resetMobile: ""
    // Network and server failures in a row, over all forms; the support hint reads it.
    property int consecutiveTechnicalAuthFailures: 0
    // Set by "Verify" on the code form; the next sign-in form shows the notice once.
    property bool accountCreatedNoticePending: false
    readonly property Item currentForm: authStack.currentItem
    readonly property var forms: ({
        login: loginForm,
        signup: signupForm,
        otp: otpForm,
        forgotPassword: forgotPasswordForm,
        resetPassword: resetPasswordForm
    })

    // Shows a new instance of the named form in place of the one on show. Forms are never
    // pushed or popped; operation defaults to the fixed 250 ms change.
    function showForm(name, operation) {
        const form = forms[name]
        if (!form)
            return null
        return authStack.replace(form, {}, operation === undefined ? StackView.ReplaceTransition : operation)
    }

    // Shows a controller's failure in the calling form's notice and keeps the count of technical
    // failures in a row that decides the support hint.
    function handleFailure(failure, errorBox) {
        errorBox.message = failure.userMessage || ""
        errorBox.severity = failure.severity ? failure.severity : "error"
        errorBox.details = failure.technicalDetails || ""
        errorBox.actionText = failure.retryable ? Qt.binding(() => qsTr("Try again")) : ""
        if (failure.category === "network" || failure.category === "server")
            consecutiveTechnicalAuthFailures += 1
        else
            consecutiveTechnicalAuthFailures = 0
    }

    function replaceWithHome() {
        const view = page.StackView.view
        if (view)
            view.replace(page, Qt.resolvedUrl("Home.qml"))
    }

    objectName: "loginPage"

    Component.onCompleted: SignupController.fetchInstitutions()

    // The frame every form stands in: a vertical scroll view holding one centred column that
    // starts with the form's title and ends with the closing spacer the form places last.
    component FormFrame: Flickable {
        id: frame

        default property alias content: column.data
        property string title
        // Only the form on show (or coming into view) acts on its controller's answers.
        readonly property bool listening: StackView.status === StackView.Active
                                          || StackView.status === StackView.Activating

        clip: true
        contentWidth: width
        contentHeight: column.y + column.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: QuorinScrollBar {}

        ColumnLayout {
            id: column

            width: Math.min(500, frame.width * 0.8)
            x: Math.round((frame.width - width) / 2)
            y: Math.max(2 * Theme.largeSpacing, (frame.height - implicitHeight) / 2)
            spacing: Theme.largeSpacing

            Text {
                objectName: "formTitle"
                text: frame.title
                color: Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: 28
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Layout.bottomMargin: Theme.spacing
            }
        }
    }

    component Explanation: Text {
        color: Theme.textSecondary
        font.family: Theme.fontFamily
        font.pixelSize: 16
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    // A label that reacts to the pointer only: no keyboard focus, no accessible role of its own.
    component TextLink: Text {
        id: link

        property color normalColor: Theme.primary
        property color hoverColor: normalColor
        readonly property bool hovered: linkArea.containsMouse

        signal activated()

        color: hovered ? hoverColor : normalColor
        font.family: Theme.fontFamily
        font.pixelSize: 14

        MouseArea {
            id: linkArea

            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: link.activated()
        }
    }

    // "Question? Link", centred, mirrored with the reading direction.
    component LinkRow: Row {
        id: linkRow

        property string prompt
        property string linkText
        property string linkName

        signal activated()

        spacing: 4
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: Theme.largeSpacing

        Text {
            text: linkRow.prompt
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
        }

        TextLink {
            objectName: linkRow.linkName
            text: linkRow.linkText
            font.bold: true
            hoverColor: Qt.lighter(Theme.primary, 1.2)
            onActivated: linkRow.activated()
        }
    }

    component ClosingSpacer: Item {
        Layout.fillWidth: true
        Layout.preferredHeight: 4 * Theme.largeSpacing
    }

    component PasswordField: QuorinTextField {
        iconSource: "qrc:/qt/qml/Quorin/assets/icons/lock.svg"
        echoMode: TextInput.Password
        passwordRevealEnabled: true
        forceIconLeft: true
        Accessible.name: placeholderText
        Layout.fillWidth: true
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    RowLayout {
        id: loginRow

        objectName: "loginRow"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        // A free strip along the bottom edge.
        anchors.bottomMargin: page.compactLayout ? 56 : 80
        spacing: 0

        Loader {
            active: !page.compactLayout
            visible: active
            Layout.fillHeight: true
            Layout.preferredWidth: loginRow.width * 0.4
            Layout.minimumWidth: 400

            sourceComponent: Rectangle {
                objectName: "loginBrandingPane"

                gradient: Gradient {
                    GradientStop {
                        position: 0.0
                        color: Theme.backgroundElevated
                    }
                    GradientStop {
                        position: 1.0
                        color: Theme.background
                    }
                }

                Column {
                    anchors.centerIn: parent
                    width: parent.width
                    spacing: Theme.largeSpacing

                    Image {
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: 150
                        height: 150
                        sourceSize.width: 150
                        sourceSize.height: 150
                        fillMode: Image.PreserveAspectFit
                        smooth: true
                        source: "qrc:/qt/qml/Quorin/assets/logo.png"
                    }

                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: qsTr("Welcome to Quorin")
                        color: Theme.text
                        font.family: Theme.fontFamily
                        font.pixelSize: 32
                        font.bold: true
                        horizontalAlignment: Text.AlignHCenter
                    }

                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: qsTr("The modern learning platform\nfor ambitious students.")
                        color: Theme.textSecondary
                        font.family: Theme.fontFamily
                        font.pixelSize: 18
                        horizontalAlignment: Text.AlignHCenter
                    }
                }
            }
        }

        Rectangle {
            objectName: "loginFormArea"
            color: Theme.background
            Layout.fillWidth: true
            Layout.fillHeight: true

            StackView {
                id: authStack

                objectName: "loginAuthStack"
                anchors.fill: parent
                initialItem: loginForm

                // Fixed lengths: form changes do not follow the animation speed preference.
                replaceEnter: Transition {
                    ParallelAnimation {
                        NumberAnimation {
                            property: "opacity"
                            from: 0.0
                            to: 1.0
                            duration: 250
                            easing.type: Easing.OutQuad
                        }
                        NumberAnimation {
                            property: "scale"
                            from: 0.95
                            to: 1.0
                            duration: 250
                            easing.type: Easing.OutBack
                        }
                    }
                }
                replaceExit: Transition {
                    NumberAnimation {
                        property: "opacity"
                        from: 1.0
                        to: 0.0
                        duration: 250
                        easing.type: Easing.InQuad
                    }
                }
            }
        }
    }

    FloatingSupportAction {
        z: 100
        x: SettingsController.layoutDirection === Qt.RightToLeft ? Theme.spacing
                                                                 : page.width - width - Theme.spacing
        y: page.height - height - Theme.spacing
    }

    Component {
        id: loginForm

        FormFrame {
            id: form

            readonly property alias notice: loginErrorBox

            function submit() {
                loginErrorBox.message = ""
                if (!loginPhone.validate())
                    return
                loginBtn.isLoading = true
                const deviceId = NetworkManager.getDeviceId()
                NetworkManager.login(loginPhone.e164Number, loginPassword.text, deviceId)
            }

            objectName: "loginForm"
            title: qsTr("Sign in to your account")

            Component.onCompleted: {
                if (!page.accountCreatedNoticePending)
                    return
                page.accountCreatedNoticePending = false
                loginErrorBox.severity = "success"
                loginErrorBox.message = Qt.binding(
                    () => qsTr("Account created. Sign in with your mobile number and password."))
            }

            PhoneNumberField {
                id: loginPhone

                objectName: "loginPhone"
                Layout.fillWidth: true
            }

            PasswordField {
                id: loginPassword

                objectName: "loginPassword"
                placeholderText: qsTr("Password")
            }

            TextLink {
                objectName: "forgotPasswordLink"
                text: qsTr("Forgot password?")
                normalColor: Theme.textSecondary
                hoverColor: Theme.primary
                Layout.alignment: Qt.AlignRight
                Layout.topMargin: -Theme.smallSpacing
                onActivated: page.showForm("forgotPassword")
            }

            QuorinNotice {
                id: loginErrorBox

                objectName: "loginErrorBox"
                Layout.fillWidth: true
                Layout.bottomMargin: Theme.spacing
                onActionTriggered: form.submit()
            }

            QuorinButton {
                id: loginBtn

                objectName: "loginBtn"
                text: qsTr("Sign in")
                Layout.fillWidth: true
                onClicked: form.submit()
            }

            LinkRow {
                prompt: qsTr("Don't have an account?")
                linkText: qsTr("Sign up")
                linkName: "signUpLink"
                onActivated: page.showForm("signup")
            }

            Text {
                objectName: "loginSupportHint"
                visible: page.consecutiveTechnicalAuthFailures >= 3
                text: qsTr("Having trouble signing in? Our support team can help with technical issues.")
                color: Theme.textSecondary
                font.family: Theme.fontFamily
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }

            ClosingSpacer {}

            Connections {
                target: NetworkManager
                enabled: form.listening

                function onLoginSuccess() {
                    loginBtn.isLoading = false
                    console.debug("Login successful!")
                    page.replaceWithHome()
                }

                function onLoginFailed(failure) {
                    loginBtn.isLoading = false
                    page.handleFailure(failure, loginErrorBox)
                }
            }
        }
    }

    Component {
        id: signupForm

        FormFrame {
            id: form

            readonly property alias notice: signupErrorBox

            function submit() {
                signupErrorBox.message = ""
                // First, so that one press shows the phone's and the education's messages.
                signupEducation.showValidation = true
                if (!signupPhone.validate())
                    return
                if (!signupEducation.acceptableInput)
                    return
                SignupController.registerUser(signupName.text, signupNickname.text, signupPhone.e164Number,
                                              signupPassword.text, signupConfirmPassword.text,
                                              signupEducation.institutionId, signupEducation.yearId)
            }

            objectName: "signupForm"
            title: qsTr("Create your account")

            QuorinTextField {
                id: signupName

                objectName: "signupName"
                placeholderText: qsTr("Full name")
                iconSource: "qrc:/qt/qml/Quorin/assets/icons/person.svg"
                Accessible.name: placeholderText
                Layout.fillWidth: true
            }

            QuorinTextField {
                id: signupNickname

                objectName: "signupNickname"
                placeholderText: qsTr("Quiz nickname")
                iconSource: "qrc:/qt/qml/Quorin/assets/icons/person.svg"
                Accessible.name: qsTr("Quiz nickname")
                Layout.fillWidth: true
            }

            PhoneNumberField {
                id: signupPhone

                objectName: "signupPhone"
                Layout.fillWidth: true
            }

            PasswordField {
                id: signupPassword

                objectName: "signupPassword"
                placeholderText: qsTr("Password")
            }

            PasswordField {
                id: signupConfirmPassword

                objectName: "signupConfirmPassword"
                placeholderText: qsTr("Confirm password")
            }

            EducationSelector {
                id: signupEducation

                objectName: "signupEducation"
                requireEducation: true
                institutionsModel: SignupController.institutions
                yearsModel: SignupController.academicYears
                Layout.fillWidth: true
                onEducationLevelSelected: value => SignupController.selectStage(value)
                onInstitutionSelected: value => SignupController.selectInstitution(value)
            }

            QuorinButton {
                id: signupBtn

                objectName: "signupBtn"
                text: qsTr("Create account")
                isLoading: SignupController.isLoading
                Layout.fillWidth: true
                onClicked: form.submit()
            }

            LinkRow {
                prompt: qsTr("Already have an account?")
                linkText: qsTr("Sign in")
                linkName: "signupSignInLink"
                onActivated: page.showForm("login")
            }

            QuorinNotice {
                id: signupErrorBox

                objectName: "signupErrorBox"
                Layout.fillWidth: true
                onActionTriggered: form.submit()
            }

            ClosingSpacer {}

            Connections {
                target: SignupController
                enabled: form.listening

                function onRegisterSuccess() {
                    console.debug("Signup successful, moving to OTP")
                    page.showForm("otp")
                }

                function onRegisterError(failure) {
                    page.handleFailure(failure, signupErrorBox)
                }
            }
        }
    }

    Component {
        id: otpForm

        FormFrame {
            id: form

            objectName: "otpForm"
            title: qsTr("Verify your number")

            Explanation {
                text: qsTr("Enter the 6-digit code sent to your phone or Telegram.")
            }

            QuorinOTPInput {
                id: otpInput

                objectName: "otpInput"
                Layout.alignment: Qt.AlignHCenter
                // The code itself never reaches a log: the diagnostics log goes to support.
                onOtpComplete: console.debug("OTP entered")
            }

            // No call checks the code yet; the account is made, so the way on is signing in.
            QuorinButton {
                objectName: "verifyBtn"
                text: qsTr("Verify")
                enabled: otpInput.otpValue.length === otpInput.length
                Layout.fillWidth: true
                onClicked: {
                    page.accountCreatedNoticePending = true
                    page.showForm("login")
                }
            }

            TextLink {
                objectName: "otpBackLink"
                text: qsTr("Back to login")
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: Theme.largeSpacing
                onActivated: page.showForm("login")
            }

            ClosingSpacer {}
        }
    }

    Component {
        id: forgotPasswordForm

        FormFrame {
            id: form

            readonly property alias notice: fpErrorBox

            function submit() {
                fpErrorBox.message = ""
                if (!fpPhone.validate())
                    return
                page.resetMobile = fpPhone.e164Number
                ResetPasswordController.requestPasswordReset(page.resetMobile)
            }

            objectName: "forgotPasswordForm"
            title: qsTr("Reset password")

            Explanation {
                text: qsTr("Enter your mobile number to receive a verification code.")
            }

            PhoneNumberField {
                id: fpPhone

                objectName: "fpPhone"
                Layout.fillWidth: true
            }

            QuorinNotice {
                id: fpErrorBox

                objectName: "fpErrorBox"
                Layout.fillWidth: true
                onActionTriggered: form.submit()
            }

            QuorinButton {
                objectName: "sendOtpBtn"
                text: qsTr("Send OTP")
                isLoading: ResetPasswordController.isLoading
                Layout.fillWidth: true
                onClicked: form.submit()
            }

            LinkRow {
                prompt: qsTr("Remembered your password?")
                linkText: qsTr("Sign in")
                linkName: "forgotSignInLink"
                onActivated: page.showForm("login")
            }

            ClosingSpacer {}

            Connections {
                target: ResetPasswordController
                enabled: form.listening

                function onRequestSuccess() {
                    page.showForm("resetPassword")
                }

                function onRequestError(failure) {
                    page.handleFailure(failure, fpErrorBox)
                }
            }
        }
    }

    Component {
        id: resetPasswordForm

        FormFrame {
            id: form

            readonly property alias notice: rpErrorBox

            // The form checks nothing itself: the code goes with however many digits it has.
            function submit() {
                rpErrorBox.message = ""
                ResetPasswordController.resetPassword(page.resetMobile, resetOtpInput.otpValue,
                                                      rpNewPassword.text, rpConfirmPassword.text)
            }

            objectName: "resetPasswordForm"
            title: qsTr("Create new password")

            Explanation {
                text: qsTr("Enter the code sent to you and your new password.")
            }

            QuorinOTPInput {
                id: resetOtpInput

                objectName: "resetOtpInput"
                Layout.alignment: Qt.AlignHCenter
            }

            PasswordField {
                id: rpNewPassword

                objectName: "rpNewPassword"
                placeholderText: qsTr("New password")
            }

            PasswordField {
                id: rpConfirmPassword

                objectName: "rpConfirmPassword"
                placeholderText: qsTr("Confirm new password")
            }

            QuorinNotice {
                id: rpErrorBox

                objectName: "rpErrorBox"
                Layout.fillWidth: true
                onActionTriggered: form.submit()
            }

            QuorinButton {
                objectName: "resetPasswordBtn"
                text: qsTr("Reset password")
                isLoading: ResetPasswordController.isLoading
                Layout.fillWidth: true
                onClicked: form.submit()
            }

            TextLink {
                objectName: "resetBackLink"
                text: qsTr("Back to login")
                font.bold: true
                hoverColor: Qt.lighter(Theme.primary, 1.2)
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: Theme.largeSpacing
                onActivated: page.showForm("login")
            }

            ClosingSpacer {}

            Connections {
                target: ResetPasswordController
                enabled: form.listening

                function onResetSuccess() {
                    page.showForm("login")
                }

                function onResetError(failure) {
                    page.handleFailure(failure, rpErrorBox)
                }
            }
        }
    }
}
