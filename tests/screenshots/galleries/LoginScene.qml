import QtQuick
import QtQuick.Controls
import Quorin
import Quorin.Controllers

// The real sign-in page filling the gallery window, brought into one of its states through what
// a user would do or what the controllers would answer. Each of the sign-in galleries names its
// scene; "ready" turns true once the scene stands.
Item {
    id: gallery

    // "signIn", "failures", "countries", "signupSubmitted", "institutionSearch", "code",
    // "forgotPassword" or "newPasswordMismatch".
    property string scene: "signIn"
    readonly property bool followsWindowSize: true
    property bool ready: false
    property int step: 0

    // A network failure as the backend client reports one.
    readonly property var networkFailure: ({
        category: "network",
        severity: "error",
        retryable: true,
        userMessage: qsTranslate("NetworkManager", "Sign in could not be completed."),
        technicalDetails: "POST auth/login: Connection refused (network error 1)"
    })

    function find(item, objectName) {
        if (!item)
            return null
        if (item.objectName === objectName)
            return item
        for (let index = 0; index < item.children.length; ++index) {
            const found = find(item.children[index], objectName)
            if (found)
                return found
        }
        return null
    }

    function showForm(name) {
        login.showForm(name, StackView.Immediate)
        return login.currentForm
    }

    // Scrolls the form so that the item stands near the top of its view.
    function scrollTo(form, item) {
        const top = item.mapToItem(form.contentItem, 0, 0).y - Theme.largeSpacing
        form.contentY = Math.max(0, Math.min(top, form.contentHeight - form.height))
    }

    // One step a tick; false while the scene still waits for something.
    function advance() {
        const form = login.currentForm
        switch (scene) {
        case "failures":
            return showFailures(form)
        case "countries":
            find(form, "countrySelector").popup.open()
            return true
        case "signupSubmitted":
            return submitEmptySignup()
        case "institutionSearch":
            return searchInstitutions()
        case "code":
            showForm("otp")
            for (let index = 0; index < 6; ++index)
                find(login.currentForm, "otpDigit-" + index).text = String((index * 3 + 2) % 10)
            return true
        case "forgotPassword":
            showForm("forgotPassword")
            return true
        case "newPasswordMismatch": {
            const reset = showForm("resetPassword")
            for (let index = 0; index < 6; ++index)
                find(reset, "otpDigit-" + index).text = String(index + 1)
            find(reset, "rpNewPassword").text = "correct-horse"
            find(reset, "rpConfirmPassword").text = "correct-horsE"
            reset.submit()
            return true
        }
        default:
            return true
        }
    }

    // Three failures in a row with the notice's details open; once the form has laid them out,
    // scrolled so that the support hint under the links stands at the bottom of the view.
    function showFailures(form) {
        if (step === 0) {
            for (let failure = 0; failure < 3; ++failure)
                login.handleFailure(networkFailure, form.notice)
            form.notice.detailsExpanded = true
            step = 1
            return false
        }
        const hint = find(form, "loginSupportHint")
        const bottom = hint.mapToItem(form.contentItem, 0, hint.height).y + Theme.largeSpacing
        form.contentY = Math.max(0, Math.min(bottom - form.height, form.contentHeight - form.height))
        return true
    }

    // The empty sign-up form submitted; once laid out, scrolled from the phone field down, so
    // that its message and the education's stand in one view.
    function submitEmptySignup() {
        if (step === 0) {
            showForm("signup").submit()
            step = 1
            return false
        }
        const form = login.currentForm
        scrollTo(form, find(form, "signupPhone"))
        return true
    }

    // The sign-up form with the universities listed and a search typed; waits for the
    // institutions the page asked for.
    function searchInstitutions() {
        if (SignupController.isLoading)
            return false
        if (step === 0) {
            const form = showForm("signup")
            const education = find(form, "signupEducation")
            education.selectValues("UNIVERSITY", "", "")
            SignupController.selectStage("UNIVERSITY")
            scrollTo(form, education)
            step = 1
            return false
        }
        const box = find(login.currentForm, "institutionSelector")
        if (!box.popupVisible) {
            box.popupVisible = true
            return false
        }
        // The pop-up shows in the window's overlay, outside the page's own tree.
        const search = find(gallery.Overlay.overlay, "institutionSearchField")
        if (!search)
            return false
        search.text = "Uni"
        return true
    }

    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    Login {
        id: login

        anchors.fill: parent
    }

    Timer {
        interval: 50
        repeat: true
        running: !gallery.ready
        onTriggered: gallery.ready = gallery.advance()
    }
}
