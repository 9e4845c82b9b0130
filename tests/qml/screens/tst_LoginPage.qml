import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

Item {
    id: root

    width: 1000
    height: 700

    readonly property url mainDocument: "qrc:/qt/qml/Quorin/ui/screens/Main.qml"
    readonly property string number: "+201012345678"
    readonly property var tokens: ({ accessToken: "access-a", refreshToken: "refresh-a" })

    // Sign-in answers reach every page through the one network manager: a test that leaves one
    // on its way would have it land on the next test's page.
    SignalSpy {
        id: loginFailures

        target: NetworkManager
        signalName: "loginFailed"
    }

    Component {
        id: hostComponent

        LoginPageHost {}
    }

    TestCase {
        id: loginTest

        name: "LoginPage"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 1
            if (NetworkManager.isAuthenticated)
                NetworkManager.logout()
            Fixture.reset()
            Fixture.clearSettingsRequests()
            Fixture.clearMessages()
            Fixture.respond("institutions", 200, [])
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        // A page stack of the given width holding a new sign-in page, settled.
        function makePage(width) {
            const host = createTemporaryObject(hostComponent, root)
            verify(host)
            if (width !== undefined) {
                host.anchors.fill = undefined
                host.width = width
                host.height = root.height
            }
            const page = host.open()
            verify(page)
            compare(page.objectName, "loginPage")
            settle(page, "loginForm")
            return { host: host, stack: host.stack, page: page }
        }

        function form(page) {
            return page.currentForm
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        // Fills the sign-in form and presses "Sign in".
        function signIn(page, phone, password) {
            const current = form(page)
            named(current, "loginPhone").text = phone
            named(current, "loginPassword").text = password
            clickInForm(page, "loginBtn")
        }

        // Waits until the named form is on show and the change has ended.
        function settle(page, formName) {
            tryVerify(() => page.currentForm && page.currentForm.objectName === formName, 10000, formName)
            tryCompare(findChild(page, "loginAuthStack"), "busy", false)
        }

        function showAndSettle(page, name) {
            page.showForm(name)
            settle(page, name + "Form")
        }

        // Scrolls the form on show until the item is inside its view, as a user would.
        function reveal(page, item) {
            const current = form(page)
            const top = item.mapToItem(current.contentItem, 0, 0).y
            current.contentY = Math.max(0, Math.min(top - 20, current.contentHeight - current.height))
        }

        function clickInForm(page, objectName) {
            const item = named(form(page), objectName)
            reveal(page, item)
            mouseClick(item)
        }

        function notice(page) {
            return named(form(page), "loginErrorBox")
        }

        function noticeState(page) {
            const box = notice(page)
            return { visible: box.visible, message: box.message, action: box.actionText }
        }

        function test_layoutFollowsTheWidth_data() {
            return [
                { tag: "899 px", width: 899, panel: 0, strip: 56 },
                { tag: "900 px", width: 900, panel: 400, strip: 80 },
                { tag: "1400 px", width: 1400, panel: 560, strip: 80 }
            ]
        }

        function test_layoutFollowsTheWidth(row) {
            const made = makePage(row.width)
            compare(made.page.compactLayout, row.width < 900)
            const panel = findChild(made.page, "loginBrandingPane")
            if (row.panel === 0)
                verify(!panel, "no brand panel when compact")
            else
                compare(panel.width, row.panel)
            compare(named(made.page, "loginRow").height, made.page.height - row.strip)
        }

        // What the sign-in request's answers show on the form, and how they move the count of
        // technical failures in a row (it starts at 1 here).
        function test_signInAnswers_data() {
            return [
                { tag: "dropped connection", answer: { drop: true }, message: "Sign in could not be completed.",
                  retry: true, count: 2 },
                { tag: "500", answer: { status: 500 }, message: "Sign in could not be completed.",
                  retry: true, count: 2 },
                { tag: "200 without tokens", answer: { status: 200, body: {} },
                  message: "Invalid response from server.", retry: true, count: 2 },
                { tag: "401", answer: { status: 401, body: { message: "Wrong password" } },
                  message: "Wrong password", retry: false, count: 0 },
                { tag: "409 with an empty body", answer: { status: 409, body: "" },
                  message: "This account is already active on another device.", retry: false, count: 0 },
                { tag: "429", answer: { status: 429 }, message: "Sign in could not be completed.", retry: true,
                  count: 0 },
                { tag: "408", answer: { status: 408 }, message: "Sign in could not be completed.", retry: true,
                  count: 0 },
                { tag: "400", answer: { status: 400 }, message: "Sign in could not be completed.", retry: false,
                  count: 0 }
            ]
        }

        function test_signInAnswers(row) {
            const made = makePage()
            made.page.consecutiveTechnicalAuthFailures = 1
            Fixture.script("auth/login", [row.answer])
            signIn(made.page, "01012345678", "secret")
            const button = named(form(made.page), "loginBtn")
            verify(button.isLoading)
            tryCompare(button, "isLoading", false, 10000)
            compare(noticeState(made.page), { visible: true, message: row.message,
                                               action: row.retry ? "Try again" : "" })
            compare(made.page.consecutiveTechnicalAuthFailures, row.count)
            compare(made.stack.currentItem, made.page)
            if (!row.retry)
                return
            const sent = Fixture.requests("auth/login").length
            Fixture.respond("auth/login", 401, { message: "Wrong password" })
            const retry = named(notice(made.page), "noticeActionButton")
            reveal(made.page, retry)
            mouseClick(retry)
            tryVerify(() => Fixture.requests("auth/login").length > sent, 10000)
            const requests = Fixture.requests("auth/login")
            compare(requests[requests.length - 1].body, requests[0].body, "Try again sends the same body")
            tryCompare(notice(made.page), "message", "Wrong password", 10000)
        }

        function test_supportHintAfterThreeTechnicalFailures() {
            const made = makePage()
            const hint = named(form(made.page), "loginSupportHint")
            Fixture.script("auth/login", [{ drop: true }])
            for (let attempt = 1; attempt <= 3; ++attempt) {
                compare(hint.visible, false, "before failure " + attempt)
                signIn(made.page, "01012345678", "secret")
                tryCompare(made.page, "consecutiveTechnicalAuthFailures", attempt, 10000)
            }
            compare(hint.visible, true)
            compare(hint.text, "Having trouble signing in? Our support team can help with technical issues.")
            Fixture.respond("auth/login", 401, { message: "Wrong password" })
            signIn(made.page, "01012345678", "wrong")
            tryCompare(made.page, "consecutiveTechnicalAuthFailures", 0, 10000)
            compare(hint.visible, false)
        }

        function test_successSendsTheFormAndOpensHome_data() {
            return [
                { tag: "password as typed", password: " pass word " },
                { tag: "empty password", password: "" }
            ]
        }

        function test_successSendsTheFormAndOpensHome(row) {
            const made = makePage()
            Fixture.respond("auth/login", 200, root.tokens)
            signIn(made.page, "010 1234 5678", row.password)
            tryCompare(made.stack, "depth", 1)
            tryVerify(() => made.stack.currentItem && made.stack.currentItem.objectName === "homePage", 10000)
            const requests = Fixture.requests("auth/login")
            compare(requests.length, 1)
            compare(requests[0].method, "POST")
            compare(requests[0].body, {
                mobileNumber: root.number,
                password: row.password,
                deviceId: NetworkManager.getDeviceId(),
                deviceType: "DESKTOP"
            })
            verify(Fixture.messages().some(message => message.endsWith("Login successful!")))
        }

        // The button stays enabled while it spins: a second press sends the sign-in again, and
        // the answers end the wait.
        function test_secondPressWhileWaitingSendsAgain() {
            const made = makePage()
            loginFailures.clear()
            Fixture.script("auth/login", [{ status: 401, body: { message: "Wrong password" }, held: true }])
            signIn(made.page, "01012345678", "secret")
            tryVerify(() => Fixture.requests("auth/login").length === 1, 10000)
            const button = named(form(made.page), "loginBtn")
            verify(button.isLoading)
            verify(button.enabled)
            clickInForm(made.page, "loginBtn")
            tryVerify(() => Fixture.requests("auth/login").length === 2, 10000)
            const requests = Fixture.requests("auth/login")
            compare(requests[1].body, requests[0].body)
            Fixture.release("auth/login")
            tryCompare(button, "isLoading", false, 10000)
            tryCompare(notice(made.page), "message", "Wrong password", 10000)
            compare(made.stack.currentItem, made.page)
            tryCompare(loginFailures, "count", 2, 10000)
        }

        function test_nothingIsSentWithoutAValidNumber() {
            const made = makePage()
            Fixture.respond("auth/login", 401, { message: "Wrong password" })
            signIn(made.page, "01012345678", "secret")
            tryCompare(notice(made.page), "visible", true, 10000)

            signIn(made.page, "0123", "secret")
            compare(noticeState(made.page).visible, false, "the old notice is cleared")
            verify(named(form(made.page), "phoneValidationMessage").visible)
            verify(!named(form(made.page), "loginBtn").isLoading)

            named(form(made.page), "loginPhone").text = "01012345678"
            const password = named(form(made.page), "loginPassword")
            mouseClick(password)
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Enter)
            wait(50)
            compare(Fixture.requests("auth/login").length, 1, "Return sends nothing")
        }

        function test_lateAnswersAreShownNowhere_data() {
            return [
                { tag: "failure", status: 500, body: "" },
                { tag: "success", status: 200, body: root.tokens }
            ]
        }

        function test_lateAnswersAreShownNowhere(row) {
            const made = makePage()
            made.page.consecutiveTechnicalAuthFailures = 2
            Fixture.script("auth/login", [{ status: row.status, body: row.body, held: true }])
            signIn(made.page, "01012345678", "secret")
            tryVerify(() => Fixture.requests("auth/login").length === 1, 10000)
            showAndSettle(made.page, "signup")
            const answered = []
            const note = () => answered.push(true)
            NetworkManager.loginSuccess.connect(note)
            NetworkManager.loginFailed.connect(note)
            Fixture.release("auth/login")
            tryCompare(answered, "length", 1, 10000)
            NetworkManager.loginSuccess.disconnect(note)
            NetworkManager.loginFailed.disconnect(note)
            wait(50)
            compare(made.stack.depth, 1)
            compare(made.stack.currentItem, made.page, "the page stays")
            compare(made.page.consecutiveTechnicalAuthFailures, 2)
            compare(named(form(made.page), "signupErrorBox").visible, false)
            showAndSettle(made.page, "login")
            compare(noticeState(made.page).visible, false)
            compare(named(form(made.page), "loginPhone").text, "", "a new sign-in form")
        }

        // The page loads the institutions and leaves the client configuration to the session:
        // asked while signed out, it would end a session nobody has and the page stack would
        // replace the page while it is being shown.
        function test_creationRequests_data() {
            return [
                { tag: "signed out", signedIn: false },
                { tag: "signed in", signedIn: true }
            ]
        }

        function test_creationRequests(row) {
            if (row.signedIn) {
                TestSetup.signIn()
                tryCompare(NetworkManager, "isAuthenticated", true, 10000)
                Fixture.clearRequests()
            }
            makePage()
            tryVerify(() => Fixture.requests("institutions").length === 1, 10000)
            compare(Fixture.settingsRequests(), [])
            compare(Fixture.requests("desktop/client-config").length, 0)
        }

        function test_signedOutStartShowsTheSignInPage() {
            const component = Qt.createComponent(root.mainDocument)
            compare(component.status, Component.Ready, component.errorString())
            const window = createTemporaryObject(component, root)
            const loader = findChild(window.contentItem, "pageStackLoader")
            tryCompare(loader, "status", Loader.Ready, 10000)
            const stack = findChild(loader.item, "stackView")
            tryCompare(stack, "busy", false)
            compare(stack.depth, 1)
            compare(stack.currentItem.objectName, "loginPage")
            tryVerify(() => Fixture.requests("institutions").length === 1, 10000)
            compare(Fixture.settingsRequests(), [])
            wait(100)
            compare(stack.depth, 1)
            compare(stack.currentItem.objectName, "loginPage")
        }

        function test_arabicLayout() {
            SettingsController.language = "ar"
            const made = makePage(1000)
            const page = made.page
            const panel = named(page, "loginBrandingPane")
            const area = named(page, "loginFormArea")
            verify(panel.mapToItem(null, 0, 0).x > area.mapToItem(null, 0, 0).x, "the brand panel stands on the right")
            const link = named(form(page), "forgotPasswordLink")
            const password = named(form(page), "loginPassword")
            compare(link.mapToItem(null, 0, 0).x, password.mapToItem(null, 0, 0).x, "at the left end")
            const support = named(page, "floatingSupportAction")
            compare(support.x, 16)
            compare(support.y, page.height - support.height - 16)
            const lock = named(password, "textFieldIcon")
            verify(lock.x < password.width / 2, "the lock stays left")

            // Layouts follow the switch on their next polish.
            SettingsController.language = "en"
            compare(support.x, page.width - support.width - 16)
            tryVerify(() => panel.mapToItem(null, 0, 0).x < area.mapToItem(null, 0, 0).x)
            tryVerify(() => link.mapToItem(null, 0, 0).x + link.width === password.mapToItem(null, 0, 0).x + password.width)
        }

        // Form changes last 250 ms whatever the animation preference says.
        function test_formChangesKeepTheirLength() {
            SettingsController.animationSpeedMultiplier = 0
            const made = makePage()
            const authStack = named(made.page, "loginAuthStack")
            const started = Date.now()
            made.page.showForm("signup")
            const incoming = made.page.currentForm
            verify(authStack.busy)
            wait(125)
            if (Date.now() - started < 240) {
                verify(authStack.busy, "still changing at 125 ms")
                verify(incoming.opacity < 1, "still fading in: " + incoming.opacity)
            }
            tryCompare(authStack, "busy", false, 5000)
            verify(Date.now() - started >= 240, "a change takes 250 ms")
            compare(incoming.opacity, 1)
        }

        function test_linksChangeTheForm_data() {
            return [
                { tag: "sign up", from: "login", link: "signUpLink", to: "signupForm" },
                { tag: "forgot password", from: "login", link: "forgotPasswordLink", to: "forgotPasswordForm" },
                { tag: "sign in from sign-up", from: "signup", link: "signupSignInLink", to: "loginForm" },
                { tag: "back from the code", from: "otp", link: "otpBackLink", to: "loginForm" },
                { tag: "sign in from the reset", from: "forgotPassword", link: "forgotSignInLink", to: "loginForm" },
                { tag: "back from the new password", from: "resetPassword", link: "resetBackLink", to: "loginForm" }
            ]
        }

        function test_linksChangeTheForm(row) {
            const made = makePage()
            if (row.from !== "login")
                showAndSettle(made.page, row.from)
            const before = made.page.currentForm
            clickInForm(made.page, row.link)
            settle(made.page, row.to)
            verify(made.page.currentForm !== before, "a new form")
            compare(named(made.page, "loginAuthStack").depth, 1, "nothing is pushed")
        }
    }
}
