import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

Item {
    id: root

    width: 1000
    height: 900

    Component {
        id: hostComponent

        LoginPageHost {}
    }

    TestCase {
        name: "RecoveryForms"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            if (NetworkManager.isAuthenticated)
                NetworkManager.logout()
            Fixture.reset()
            Fixture.respond("institutions", 200, [])
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        // Waits until the named form is on show and the change has ended.
        function settle(page, formName) {
            tryVerify(() => page.currentForm && page.currentForm.objectName === formName, 10000, formName)
            tryCompare(named(page, "loginAuthStack"), "busy", false)
        }

        // Clicks an item of the form on show, scrolled into its view first as a user would.
        function click(page, item) {
            const form = page.currentForm
            const top = item.mapToItem(form.contentItem, 0, 0).y
            form.contentY = Math.max(0, Math.min(top - 20, form.contentHeight - form.height))
            mouseClick(item)
        }

        function makePage() {
            const host = createTemporaryObject(hostComponent, root)
            verify(host)
            const page = host.open()
            settle(page, "loginForm")
            click(page, named(page.currentForm, "forgotPasswordLink"))
            settle(page, "forgotPasswordForm")
            return page
        }

        function notice(form, name) {
            const box = named(form, name)
            return { visible: box.visible, message: box.message, action: box.actionText }
        }

        function requestCode(page, phone) {
            named(page.currentForm, "fpPhone").text = phone
            click(page, named(page.currentForm, "sendOtpBtn"))
        }

        // The new-password form, reached through a code request for +201012345678.
        function reachNewPasswordForm() {
            const page = makePage()
            Fixture.respond("auth/forgot-password", 200, { message: "Sent" })
            requestCode(page, "01012345678")
            settle(page, "resetPasswordForm")
            return page
        }

        function typeCode(page, digits) {
            click(page, named(page.currentForm, "otpDigit-0"))
            for (const digit of digits)
                keyClick(digit)
        }

        function test_sendOtpWithAnInvalidNumberSendsNothing() {
            const page = makePage()
            page.resetMobile = "+201000000000"
            requestCode(page, "0100")
            verify(named(page.currentForm, "phoneValidationMessage").visible)
            wait(50)
            compare(Fixture.requests("auth/forgot-password").length, 0)
            compare(page.resetMobile, "+201000000000")
        }

        function test_failedCodeRequestKeepsTheNumberAndRetries() {
            const page = makePage()
            Fixture.respond("auth/forgot-password", 500, "")
            requestCode(page, "0512345678")
            compare(page.resetMobile, "", "Egypt is chosen: no valid number, nothing kept")
            named(page.currentForm, "fpPhone").text = "+966512345678"
            click(page, named(page.currentForm, "sendOtpBtn"))
            compare(page.resetMobile, "+966512345678", "kept before the answer")
            tryCompare(named(page.currentForm, "fpErrorBox"), "visible", true, 10000)
            compare(notice(page.currentForm, "fpErrorBox").action, "Try again")
            compare(page.consecutiveTechnicalAuthFailures, 1)

            Fixture.respond("auth/forgot-password", 200, { message: "Sent" })
            click(page, named(named(page.currentForm, "fpErrorBox"), "noticeActionButton"))
            settle(page, "resetPasswordForm")
            const requests = Fixture.requests("auth/forgot-password")
            compare(requests.length, 2)
            compare(requests[0].body, { mobileNumber: "+966512345678" })
            compare(requests[1].body, requests[0].body)

            const sent = Fixture.requests().length
            typeCode(page, "123456")
            wait(50)
            compare(Fixture.requests().length, sent, "a complete code sends nothing")
        }

        function test_mismatchIsRefusedWithoutARequest() {
            const page = reachNewPasswordForm()
            page.consecutiveTechnicalAuthFailures = 2
            const form = page.currentForm
            typeCode(page, "123456")
            named(form, "rpNewPassword").text = "new secret"
            named(form, "rpConfirmPassword").text = "new secreT"
            click(page, named(form, "resetPasswordBtn"))
            compare(notice(form, "rpErrorBox"), { visible: true, message: "Passwords do not match.", action: "" })
            compare(page.consecutiveTechnicalAuthFailures, 0)
            compare(page.currentForm, form)
            wait(50)
            compare(Fixture.requests("auth/reset-password").length, 0)
        }

        function test_resetSendsWhatWasTyped() {
            const page = reachNewPasswordForm()
            const form = page.currentForm
            typeCode(page, "1234")
            named(form, "rpNewPassword").text = " new secret"
            named(form, "rpConfirmPassword").text = " new secret"
            Fixture.respond("auth/reset-password", 200, { message: "Password reset." })
            click(page, named(form, "resetPasswordBtn"))
            settle(page, "loginForm")
            const requests = Fixture.requests("auth/reset-password")
            compare(requests.length, 1)
            compare(requests[0].body, {
                mobileNumber: "+201012345678",
                otp: "1234",
                newPassword: " new secret",
                confirmPassword: " new secret"
            })
            compare(named(page.currentForm, "loginErrorBox").visible, false)
            compare(named(page.currentForm, "loginPhone").text, "")
        }

        function test_hintSurvivesASuccessfulReset() {
            const page = makePage()
            const failures = [{ drop: true }, { status: 500 }, { drop: true }]
            for (let attempt = 1; attempt <= failures.length; ++attempt) {
                Fixture.script("auth/forgot-password", [failures[attempt - 1]])
                requestCode(page, "01012345678")
                tryCompare(page, "consecutiveTechnicalAuthFailures", attempt, 10000)
            }
            Fixture.respond("auth/forgot-password", 200, { message: "Sent" })
            requestCode(page, "01012345678")
            settle(page, "resetPasswordForm")
            Fixture.respond("auth/reset-password", 200, { message: "Password reset." })
            named(page.currentForm, "rpNewPassword").text = "new secret"
            named(page.currentForm, "rpConfirmPassword").text = "new secret"
            click(page, named(page.currentForm, "resetPasswordBtn"))
            settle(page, "loginForm")
            compare(page.consecutiveTechnicalAuthFailures, 3)
            verify(named(page.currentForm, "loginSupportHint").visible)
        }
    }
}
