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

    // Two universities, one of them with its years under "academicYears", and a school.
    readonly property var institutions: [
        { id: "s-1", name: "Nile School", educationLevel: "SCHOOL", years: [{ id: "y-s1", value: 10 }] },
        { id: 7, name: "Cairo University", educationLevel: "UNIVERSITY", years: [],
          academicYears: [{ id: "y-c1", name: "1" }, { id: "y-c2", name: "2" }] },
        { id: "u-2", name: "Alexandria University", educationLevel: "UNIVERSITY", years: [{ id: 31, value: 1 }] }
    ]
    readonly property string sessionText: "Your session has expired. Please sign in again."

    Component {
        id: hostComponent

        LoginPageHost {}
    }

    TestCase {
        name: "SignupForms"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            if (NetworkManager.isAuthenticated)
                NetworkManager.logout()
            Fixture.reset()
            Fixture.clearMessages()
            Fixture.respond("institutions", 200, root.institutions)
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

        function showAndSettle(page, name) {
            page.showForm(name)
            settle(page, name + "Form")
        }

        // Scrolls the form on show until the item is inside its view, as a user would.
        function reveal(form, item) {
            const top = item.mapToItem(form.contentItem, 0, 0).y
            form.contentY = Math.max(0, Math.min(top - 20, form.contentHeight - form.height))
        }

        function click(form, item) {
            reveal(form, item)
            mouseClick(item)
        }

        // A new sign-in page whose institutions have come, showing the sign-up form.
        function makeSignupPage() {
            const host = createTemporaryObject(hostComponent, root)
            verify(host)
            const page = host.open()
            tryVerify(() => Fixture.requests("institutions").length === 1, 10000)
            tryCompare(SignupController, "isLoading", false, 10000)
            showAndSettle(page, "signup")
            return page
        }

        function pick(form, combo, index) {
            click(form, combo)
            tryCompare(combo.popup, "opened", true)
            const list = combo.popup.contentItem
            tryVerify(() => list.itemAtIndex(index) !== null)
            mouseClick(list.itemAtIndex(index))
            tryCompare(combo.popup, "visible", false)
        }

        function institutionNames(form, box) {
            click(form, box)
            tryCompare(box, "popupVisible", true)
            const names = box.filteredModel.map(record => record.name)
            keyClick(Qt.Key_Escape)
            tryCompare(box, "popupVisible", false)
            return names
        }

        function chooseInstitution(form, box, name) {
            click(form, box)
            tryCompare(box, "popupVisible", true)
            const index = box.filteredModel.findIndex(record => record.name === name)
            verify(index >= 0, name)
            box.activateIndex(index)
            tryCompare(box, "popupVisible", false)
        }

        // University, Cairo University, its second year.
        function chooseEducation(form) {
            const education = named(form, "signupEducation")
            pick(form, named(education, "educationLevelSelector"), 1)
            chooseInstitution(form, named(education, "institutionSelector"), "Cairo University")
            pick(form, named(education, "academicYearSelector"), 1)
            verify(education.acceptableInput)
        }

        function fill(form, fields) {
            for (const name in fields)
                named(form, name).text = fields[name]
        }

        function fillValidForm(form, nickname) {
            fill(form, {
                signupName: "  Omar Saleh ",
                signupNickname: nickname === undefined ? " omar " : nickname,
                signupPhone: "010 1234 5678",
                signupPassword: "first secret",
                signupConfirmPassword: "second secret"
            })
            chooseEducation(form)
        }

        function notice(form) {
            const box = named(form, "signupErrorBox")
            return { visible: box.visible, message: box.message, action: box.actionText }
        }

        function test_levelListsItsInstitutionsAndAnInstitutionItsYears() {
            const page = makeSignupPage()
            const form = page.currentForm
            const education = named(form, "signupEducation")
            pick(form, named(education, "educationLevelSelector"), 1)
            const box = named(education, "institutionSelector")
            compare(institutionNames(form, box), ["Cairo University", "Alexandria University"])
            chooseInstitution(form, box, "Cairo University")
            const years = named(education, "academicYearSelector")
            compare(years.count, 2)
            compare(education.localizedYears.map(year => year.value), ["Year 1", "Year 2"])
            compare(years.currentIndex, -1)
        }

        function test_oneSubmitShowsBothMessagesAndSendsNothing() {
            const page = makeSignupPage()
            const form = page.currentForm
            fill(form, { signupName: "Omar", signupNickname: "omar", signupPhone: "0123",
                         signupPassword: "secret", signupConfirmPassword: "secret" })
            click(form, named(form, "signupBtn"))
            verify(named(form, "phoneValidationMessage").visible)
            const education = named(form, "educationValidationMessage")
            verify(education.visible)
            compare(education.text, "Select your educational level, institution, and academic year.")
            wait(50)
            compare(Fixture.requests("auth/signup").length, 0)
        }

        function test_registrationSendsNineKeys() {
            const page = makeSignupPage()
            const form = page.currentForm
            fillValidForm(form)
            Fixture.respond("auth/signup", 200, { success: true })
            click(form, named(form, "signupBtn"))
            settle(page, "otpForm")
            const requests = Fixture.requests("auth/signup")
            compare(requests.length, 1)
            compare(requests[0].body, {
                fullName: "Omar Saleh",
                nickname: "omar",
                mobileNumber: "+201012345678",
                password: "first secret",
                confirmPassword: "second secret",
                institutionId: "7",
                yearId: "y-c2",
                deviceType: "DESKTOP",
                deviceId: NetworkManager.getDeviceId()
            })
            verify(Fixture.messages().some(message => message.endsWith("Signup successful, moving to OTP")))
        }

        function test_nicknameOfSpacesIsRefusedHere() {
            const page = makeSignupPage()
            page.consecutiveTechnicalAuthFailures = 2
            const form = page.currentForm
            fillValidForm(form, "   ")
            click(form, named(form, "signupBtn"))
            compare(notice(form), { visible: true, message: "Nickname must contain 1–64 characters.", action: "" })
            compare(page.consecutiveTechnicalAuthFailures, 0)
            wait(50)
            compare(Fixture.requests("auth/signup").length, 0)
        }

        function test_refusedRegistrations_data() {
            return [
                { tag: "success false", answer: { status: 200, body: { success: false } },
                  message: "Registration failed", retry: true, count: 2 },
                { tag: "401", answer: { status: 401, body: { message: "Unauthorized" } },
                  message: root.sessionText, retry: false, count: 0 }
            ]
        }

        function test_refusedRegistrations(row) {
            const page = makeSignupPage()
            page.consecutiveTechnicalAuthFailures = 1
            const form = page.currentForm
            fillValidForm(form)
            Fixture.script("auth/signup", [row.answer])
            click(form, named(form, "signupBtn"))
            tryCompare(named(form, "signupErrorBox"), "visible", true, 10000)
            compare(notice(form), { visible: true, message: row.message, action: row.retry ? "Try again" : "" })
            compare(page.consecutiveTechnicalAuthFailures, row.count)
            compare(page.currentForm, form)
            if (!row.retry)
                return
            click(form, named(named(form, "signupErrorBox"), "noticeActionButton"))
            tryVerify(() => Fixture.requests("auth/signup").length === 2, 10000)
            const requests = Fixture.requests("auth/signup")
            compare(requests[1].body, requests[0].body)
            tryCompare(page, "consecutiveTechnicalAuthFailures", 3, 10000)
        }

        function test_heldRegistration() {
            const page = makeSignupPage()
            const form = page.currentForm
            fillValidForm(form)
            Fixture.script("auth/signup", [{ status: 200, body: { success: true }, held: true }])
            const button = named(form, "signupBtn")
            click(form, button)
            tryVerify(() => Fixture.requests("auth/signup").length === 1, 10000)
            verify(button.isLoading)
            verify(button.enabled)
            mouseClick(button)
            wait(50)
            compare(Fixture.requests("auth/signup").length, 1, "a second press sends nothing")

            click(form, named(form, "signupSignInLink"))
            settle(page, "loginForm")
            Fixture.release("auth/signup")
            tryCompare(SignupController, "isLoading", false, 10000)
            wait(50)
            compare(page.currentForm.objectName, "loginForm", "the answer leads nowhere")
            compare(named(page.currentForm, "loginErrorBox").visible, false)
        }

        // Reaches the code form through a successful registration.
        function reachCodeForm() {
            const page = makeSignupPage()
            fillValidForm(page.currentForm)
            Fixture.respond("auth/signup", 200, { success: true })
            click(page.currentForm, named(page.currentForm, "signupBtn"))
            settle(page, "otpForm")
            return page
        }

        function typeCode(form, digits) {
            mouseClick(named(form, "otpDigit-0"))
            for (const digit of digits)
                keyClick(digit)
        }

        function test_codeFormSendsNothingAndVerifyLeadsToSignIn() {
            const page = reachCodeForm()
            const form = page.currentForm
            const sent = Fixture.requests().length
            const verifyButton = named(form, "verifyBtn")
            typeCode(form, "12345")
            compare(verifyButton.enabled, false)
            keyClick("6")
            compare(named(form, "otpInput").otpValue, "123456")
            compare(verifyButton.enabled, true)
            wait(50)
            compare(Fixture.requests().length, sent, "the code goes nowhere")
            const messages = Fixture.messages()
            verify(messages.some(message => message.endsWith("OTP entered")))
            verify(!messages.some(message => message.indexOf("123456") >= 0), "no message holds the code")

            mouseClick(verifyButton)
            settle(page, "loginForm")
            const notice = named(page.currentForm, "loginErrorBox")
            compare(notice.visible, true)
            compare(notice.severity, "success")
            compare(notice.message, "Account created. Sign in with your mobile number and password.")
            compare(Fixture.requests().length, sent)

            showAndSettle(page, "signup")
            showAndSettle(page, "login")
            compare(named(page.currentForm, "loginErrorBox").visible, false, "the notice shows once")
        }

        function test_backToLoginShowsEmptyForms() {
            const page = reachCodeForm()
            mouseClick(named(page.currentForm, "otpBackLink"))
            settle(page, "loginForm")
            compare(named(page.currentForm, "loginPhone").text, "")
            compare(named(page.currentForm, "loginErrorBox").visible, false)

            showAndSettle(page, "signup")
            const form = page.currentForm
            for (const name of ["signupName", "signupNickname", "signupPhone", "signupPassword",
                                "signupConfirmPassword"])
                compare(named(form, name).text, "", name)
            const education = named(form, "signupEducation")
            compare([education.educationLevel, education.institutionId, education.yearId], ["", "", ""])
            compare(named(education, "educationLevelSelector").currentIndex, -1)
            compare(named(form, "signupErrorBox").visible, false)
        }
    }
}
