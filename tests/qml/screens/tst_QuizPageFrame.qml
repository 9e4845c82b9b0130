import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The quiz page's frame on the real controller against the fixture server: what each state
// shows, the header and its fit, the notice, the submit dialog, the shortcut sheet, the switch
// animation and the way back.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    TestCase {
        id: testCase

        name: "QuizPageFrame"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Fixture.reset()
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            root.width = 1000
        }

        function cleanup() {
            host.stack.clear(StackView.Immediate)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
            TestSetup.setQuizClock(new Date(NaN))
        }

        function openPage(options) {
            options = options || {}
            const page = host.openActive(options)
            verify(page)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.currentQuestionIndex = options.current !== undefined ? options.current : 1
            page.forceActiveFocus()
            return page
        }

        function named(page, name) {
            const item = findChild(page, name)
            verify(item, name)
            return item
        }

        // Brings a page to the state named and returns it.
        function pageInState(state) {
            const id = host.nextQuizId()
            const details = "quizzes/" + id
            const attempts = details + "/attempts"
            const saves = "attempts/a-" + id + "/answers"
            const changed = host.questions(5)
            changed[0].text = "Question 1, corrected"
            changed[0].updatedAt = "2024-05-02T08:00:00.000Z"
            switch (state) {
            case "Idle":
                return host.push("")
            case "Loading":
                Fixture.script(details, [{ held: true }])
                break
            case "Ready":
                Fixture.respond(details, 200, { quiz: host.quiz(id, {}) })
                Fixture.respond(attempts, 200, [])
                break
            case "Result":
                Fixture.respond(details, 200, { quiz: host.quiz(id, {}),
                                                attempt: host.attempt("a-" + id, "SUBMITTED", { q1: 1 }) })
                Fixture.respond(attempts, 200, [])
                break
            case "Leaderboard":
                Fixture.respond(details, 200, { quiz: host.quiz(id, {}), leaderboardOnly: true, leaderboard: [] })
                Fixture.respond(attempts, 200, [])
                break
            case "Failed":
                Fixture.respond(details, 404, { message: "Quiz not found" })
                break
            case "ReviewRequired":
                Fixture.script(details, [{ body: host.activeDetails(id, {}) },
                                         { body: host.activeDetails(id, { questions: changed }) }])
                Fixture.respond(attempts, 200, [])
                Fixture.script(saves, [{ status: 409, body: { code: "QUESTION_VERSION_CONFLICT", message: "Conflict" } },
                                       { held: true }])
                break
            default:
                Fixture.respond(details, 200, host.activeDetails(id, {}))
                Fixture.respond(attempts, 200, [])
                Fixture.script(saves, [state === "OfflineReadOnly" ? { drop: true } : { held: true }])
                Fixture.script("attempts/a-" + id + "/submit", [{ held: true }])
            }
            const page = host.push(id)
            const controller = page.quizController
            if (state === "OfflineReadOnly" || state === "ReviewRequired") {
                tryCompare(controller, "state", QuizController.Active)
                controller.setAnswer("q1", 1)
            } else if (state === "Submitting") {
                tryCompare(controller, "state", QuizController.Active)
                controller.submit()
            }
            tryCompare(controller, "state", QuizController[state])
            return page
        }

        function test_states_data() {
            // Shown besides the back button, which every state has.
            return [
                { tag: "Idle", shown: [] },
                { tag: "Loading", shown: ["quizLoadingSpinner"] },
                { tag: "Ready", shown: ["quizReadyPanel", "startQuizButton"] },
                { tag: "Active", shown: ["header", "quizWorkingArea"] },
                { tag: "OfflineReadOnly", shown: ["header", "quizWorkingArea", "quizNotice"] },
                { tag: "ReviewRequired", shown: ["header", "quizWorkingArea", "quizNotice"] },
                { tag: "Submitting", shown: ["quizSubmittingOverlay", "quizSubmittingSpinner"] },
                { tag: "Result", shown: ["quizResultsPanel"] },
                { tag: "Leaderboard", shown: ["quizResultsPanel"] },
                { tag: "Failed", shown: ["quizNotice"] }
            ]
        }

        function test_states(data) {
            const page = pageInState(data.tag)
            verify(named(page, "quizBackButton").visible)
            const header = data.shown.indexOf("header") >= 0
            for (const name of ["centeredQuizMetadata", "activeQuizTitle", "activeQuizMetadataRow", "quizHelpButton"])
                compare(named(page, name).visible, header, name)
            for (const name of ["quizLoadingSpinner", "quizWorkingArea", "quizReadyPanel", "startQuizButton",
                                "quizSubmittingOverlay", "quizSubmittingSpinner", "quizResultsPanel", "quizNotice"])
                compare(named(page, name).visible, data.shown.indexOf(name) >= 0, name)
            compare(named(page, "quizLoadingSpinner").running, data.tag === "Loading")
            if (data.tag === "Submitting")
                compare(named(page, "quizSubmittingLabel").text, "Submitting your answers…")
            if (!header)
                compare(named(page, "quizHeader").height, 48)
        }

        function test_startButtonStartsTheAttempt() {
            const page = pageInState("Ready")
            const attempts = "quizzes/" + page.quizId + "/attempts"
            Fixture.script(attempts, [{ body: host.attempt("a-" + page.quizId, "ACTIVE", {}) }])
            page.nickname = "Nour"
            mouseClick(named(page, "startQuizButton"))
            tryCompare(page.quizController, "state", QuizController.Active)
            const posts = Fixture.requests(attempts).filter(request => request.method === "POST")
            compare(posts.length, 1)
        }

        function test_headerTexts() {
            const questions = host.questions(5)
            questions[1] = { id: "q2", order: 2, type: "WRITTEN", text: "a<b and c>d", modelAnswer: "x",
                             updatedAt: "2024-05-01T10:00:00.000Z" }
            const page = openPage({ title: "", questions: questions, answers: { q1: 0, q3: 1, q4: 2 } })
            compare(named(page, "activeQuizTitle").text, "Quiz")
            compare(named(page, "activeQuestionTracker").text, "2/5 · 3 answered")
            compare(named(page, "activeQuizModeLabel").text, "Ordinary")
            compare(named(page, "activeQuestionFormatLabel").text, "Written")
            // Server texts are plain text, never markup.
            compare(named(page, "questionText").textFormat, Text.PlainText)
            compare(named(page, "questionText").text, "a<b and c>d")
            page.navigateTo(2)
            compare(named(page, "activeQuestionFormatLabel").text, "MCQ")
            compare(named(page, "activeQuestionTracker").text, "3/5 · 3 answered")
            compare(named(page, "activeQuizCountdown").visible, false)
            compare(page.overallFormatText(), "Mixed")
        }

        function test_timedHeaderAndCountdown_data() {
            return [
                { tag: "an hour", seconds: 3600, text: "1:00:00", urgent: false },
                { tag: "60 seconds", seconds: 60, text: "1:00", urgent: false },
                { tag: "59 seconds", seconds: 59, text: "0:59", urgent: true }
            ]
        }

        function test_timedHeaderAndCountdown(data) {
            const now = new Date(Date.UTC(2024, 4, 1, 10, 0, 0))
            TestSetup.setQuizClock(now)
            const id = host.nextQuizId()
            const details = host.activeDetails(id, { type: "TIMED" })
            details.activeAttempt.expiresAt = new Date(now.getTime() + data.seconds * 1000).toISOString()
            Fixture.respond("quizzes/" + id, 200, details)
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            const page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Active)
            compare(page.quizController.remainingSeconds, data.seconds)
            compare(named(page, "activeQuizModeLabel").text, "Timed")
            const pill = named(page, "activeQuizCountdown")
            verify(pill.visible)
            compare(named(page, "activeQuizCountdownLabel").text, data.text)
            verify(Qt.colorEqual(pill.border.color, data.urgent ? Theme.error : Theme.border))
            compare(page.formatSeconds(0), "0:00")
            compare(page.formatSeconds(-1), "")
        }

        function test_headerHeights_data() {
            return [
                { tag: "wide, inline", width: 1000, inline: true },
                { tag: "narrow, stacked", width: 420, inline: false }
            ]
        }

        function test_headerHeights(data) {
            root.width = data.width
            const page = openPage()
            compare(page.activeHeaderInline, data.inline)
            const header = named(page, "quizHeader")
            const title = named(page, "activeQuizTitle")
            const row = named(page, "activeQuizMetadataRow")
            if (data.inline) {
                compare(header.height, Math.max(48, title.implicitHeight, row.implicitHeight))
                // Title left of its row, both centred on one line.
                compare(title.x + title.width + Theme.smallSpacing, row.x)
            } else {
                compare(header.height, title.implicitHeight + 6 + row.implicitHeight)
                verify(header.height > 0)
                compare(row.y, title.height + 6)
            }
        }

        function test_headerSwitchPoint() {
            const page = openPage()
            const row = named(page, "activeQuizMetadataRow")
            const threshold = Math.ceil(row.implicitWidth + 180 + Theme.smallSpacing + 64 + 112)
            root.width = threshold
            verify(page.activeHeaderInline)
            root.width = threshold - 1
            verify(!page.activeHeaderInline)
        }

        function test_notice_data() {
            return [
                { tag: "offline", state: "OfflineReadOnly", severity: "warning", action: "" },
                { tag: "review, current question under review", state: "ReviewRequired", current: 0,
                  severity: "warning", action: "Keep this answer" },
                { tag: "review, another question", state: "ReviewRequired", current: 3, severity: "warning",
                  action: "" },
                { tag: "failed", state: "Failed", severity: "error", action: "Retry" }
            ]
        }

        function test_notice(data) {
            const page = pageInState(data.state)
            const controller = page.quizController
            if (data.current !== undefined)
                controller.currentQuestionIndex = data.current
            const notice = named(page, "quizNotice")
            verify(notice.visible)
            compare(notice.message, controller.errorMessage)
            compare(notice.severity, data.severity)
            compare(notice.actionText, data.action)
            const button = findChild(notice, "noticeActionButton")
            compare(button.visible, data.action.length > 0)
            if (data.state === "Failed") {
                Fixture.clearRequests()
                mouseClick(button)
                tryVerify(() => Fixture.requestCount("quizzes/" + page.quizId) === 1)
                wait(50)
                const gets = Fixture.requests("quizzes/" + page.quizId)
                compare(gets.length, 1)
                compare(gets[0].method, "GET")
            } else if (data.action === "Keep this answer") {
                mouseClick(button)
                tryVerify(() => controller.reviewQuestionIds.indexOf("q1") < 0)
            }
        }

        function submitDialogOf(page) {
            const dialog = named(page, "submitDialog")
            dialog.open()
            tryCompare(dialog, "opened", true)
            return dialog
        }

        function test_submitDialogBody() {
            const page = openPage({ answers: { q1: 0, q2: 1, q4: 2 } })
            page.quizController.toggleMarked("q1")
            const dialog = submitDialogOf(page)
            compare(dialog.headerText, "Submit your answers?")
            compare(dialog.bodyText, "2 unanswered · 1 marked. You cannot change answers after submitting.")
            compare(Theme.activeDialogs, 1)
            page.quizController.setAnswer("q3", 0)
            compare(dialog.bodyText, "1 unanswered · 1 marked. You cannot change answers after submitting.")
            dialog.close()
            tryCompare(Theme, "activeDialogs", 0)
        }

        function test_reviewQuestions_data() {
            return [
                { tag: "one unanswered", answers: { q1: 0, q2: 0, q3: 0, q5: 0 }, marks: [], current: 4,
                  filter: "unanswered", target: 3 },
                { tag: "current is the first unanswered", answers: { q2: 0, q3: 0, q4: 0, q5: 0 }, marks: [],
                  current: 0, filter: "unanswered", target: 0 },
                { tag: "none unanswered, marked", answers: { q1: 0, q2: 0, q3: 0, q4: 0, q5: 0 }, marks: ["q3", "q5"],
                  current: 0, filter: "marked", target: 0 },
                { tag: "current is the first marked", answers: { q1: 0, q2: 0, q3: 0, q4: 0, q5: 0 },
                  marks: ["q2", "q4"], current: 1, filter: "marked", target: 1 }
            ]
        }

        function test_reviewQuestions(data) {
            const page = openPage({ answers: data.answers, current: data.current })
            for (const id of data.marks)
                page.quizController.toggleMarked(id)
            const dialog = submitDialogOf(page)
            mouseClick(findChild(dialog, "quorinDialogAuxiliaryButton"))
            tryCompare(dialog, "visible", false)
            compare(page.questionFilter, data.filter)
            compare(page.quizController.currentQuestionIndex, data.target)
        }

        function test_submitOrNot_data() {
            return [
                { tag: "Cancel", how: "cancel", posts: 0 },
                { tag: "Escape", how: "escape", posts: 0 },
                { tag: "Submit quiz", how: "confirm", posts: 1 }
            ]
        }

        function test_submitOrNot(data) {
            const page = openPage({ answers: { q1: 0 } })
            const submitRoute = "attempts/a-" + page.quizId + "/submit"
            Fixture.script(submitRoute, [{ held: true }])
            const dialog = submitDialogOf(page)
            compare(findChild(dialog, "quorinDialogConfirmButton").text, "Submit quiz")
            compare(findChild(dialog, "quorinDialogCancelButton").text, "Cancel")
            compare(findChild(dialog, "quorinDialogAuxiliaryButton").text, "Review questions")
            if (data.how === "cancel")
                mouseClick(findChild(dialog, "quorinDialogCancelButton"))
            else if (data.how === "escape")
                keyClick(Qt.Key_Escape)
            else
                mouseClick(findChild(dialog, "quorinDialogConfirmButton"))
            tryCompare(dialog, "visible", false)
            if (data.posts > 0) {
                tryCompare(page.quizController, "state", QuizController.Submitting)
                tryVerify(() => Fixture.requestCount(submitRoute) === 1)
            } else {
                wait(60)
                compare(page.quizController.state, QuizController.Active)
            }
            compare(Fixture.requestCount(submitRoute), data.posts)
            compare(Theme.activeDialogs, 0)
        }

        function test_shortcutSheet() {
            root.width = 850
            const page = openPage()
            const help = named(page, "quizHelpButton")
            verify(help.visible)
            mouseClick(help)
            const sheet = named(page, "quizShortcutsOverlay")
            tryCompare(sheet, "opened", true)
            compare(sheet.mediaStyle, false)
            compare(Theme.activeDialogs, 0)
            verify(!page.activeFocus)
            const model = sheet.shortcutModel
            compare(model.map(group => group.category), ["Answers", "Navigation"])
            compare(model[0].shortcuts.map(row => row.key), ["A–Z or 1–9", "Shift + answer", "Right-click"])
            compare(model[1].shortcuts[0].key, "Up / Down")
            verify(findChild(sheet.contentItem, "shortcutRow-Up / Down"))
            // The keys follow the layout while the sheet is open.
            root.width = 849
            compare(sheet.shortcutModel[1].shortcuts[0].key, "Left / Right")
            tryVerify(() => findChild(sheet.contentItem, "shortcutRow-Left / Right") !== null)
            // While it holds the focus the page's keys are muted.
            keyClick(Qt.Key_Right)
            compare(page.quizController.currentQuestionIndex, 1)
            keyClick(Qt.Key_Escape)
            tryCompare(sheet, "opened", false)
        }

        function test_switchAnimation_data() {
            return [
                { tag: "wide, forward", width: 1000, language: "en", from: 1, to: 2, midX: 0, midY: "negative" },
                { tag: "compact right-to-left, forward", width: 800, language: "ar", from: 1, to: 2,
                  midX: "positive", midY: 0 },
                { tag: "compact left-to-right, forward", width: 800, language: "en", from: 1, to: 2,
                  midX: "negative", midY: 0 }
            ]
        }

        function test_switchAnimation(data) {
            SettingsController.language = data.language
            root.width = data.width
            const page = openPage({ current: data.from })
            SettingsController.animationSpeedMultiplier = 1
            const motion = named(page, "questionMotion")
            // The look of the old question half-way through its fade-out, caught as it changes.
            let middle = null
            const note = () => {
                if (middle === null && motion.opacity > 0.2 && motion.opacity < 0.8
                        && page.quizController.currentQuestionIndex === data.from)
                    middle = { x: motion.x, y: motion.y }
            }
            motion.opacityChanged.connect(note)
            page.navigateTo(data.to)
            tryVerify(() => middle !== null, 2000)
            motion.opacityChanged.disconnect(note)
            const check = (value, expected) => expected === "negative" ? value < 0 : expected === "positive"
                                                                                  ? value > 0 : value === expected
            verify(check(middle.x, data.midX), "x " + middle.x)
            verify(check(middle.y, data.midY), "y " + middle.y)
            tryCompare(page.quizController, "currentQuestionIndex", data.to)
            tryCompare(motion, "opacity", 1)
            tryCompare(motion, "x", 0)
            tryCompare(motion, "y", 0)
        }

        function test_backPopsThePage() {
            const below = host.push("")
            const page = openPage()
            const back = named(page, "quizBackButton")
            compare(back.Accessible.name, "Back to course")
            mouseClick(back)
            tryCompare(host.stack, "depth", 1)
            compare(host.stack.currentItem, below)
        }

        function test_tileRowDirection_data() {
            return [
                { tag: "English: number at the left", language: "en", numberAtStart: "left" },
                { tag: "Arabic: number at the right", language: "ar", numberAtStart: "right" }
            ]
        }

        // The tile's row declares its own direction inside the mirrored window, so the number
        // stands where reading starts.
        function test_tileRowDirection(data) {
            SettingsController.language = data.language
            const page = openPage({ current: 0 })
            page.quizController.toggleMarked("q1")
            const tile = named(page, "questionNavigatorRow-0")
            tryVerify(() => named(page, "questionMarkGlyph-0").visible)
            const xOf = name => named(page, name).mapToItem(tile, 0, 0).x
            const order = () => [xOf("questionNumberZone-0"), xOf("questionPreview-0"), xOf("questionMarkGlyph-0")]
            // The row places its items when the scene is next polished.
            if (data.numberAtStart === "left")
                tryVerify(() => order()[0] < order()[1] && order()[1] < order()[2], 2000, JSON.stringify(order()))
            else
                tryVerify(() => order()[0] > order()[1] && order()[1] > order()[2], 2000, JSON.stringify(order()))
            compare(tile.contentLayoutDirection, data.language === "ar" ? Qt.RightToLeft : Qt.LeftToRight)
            compare(tile.Accessible.name, data.language === "ar" ? "السؤال 1" : "Question 1")
        }

        function test_arabicHeader() {
            SettingsController.language = "ar"
            const page = openPage()
            const back = named(page, "quizBackButton")
            const help = named(page, "quizHelpButton")
            const header = named(page, "quizHeader")
            verify(back.mapToItem(header, 0, 0).x > header.width / 2)
            verify(help.mapToItem(header, 0, 0).x < header.width / 2)
            const title = named(page, "activeQuizTitle")
            const row = named(page, "activeQuizMetadataRow")
            verify(page.activeHeaderInline)
            verify(title.x < row.x)
            // Digits stay ASCII.
            verify(/^[0-9]\/[0-9] · /.test(named(page, "activeQuestionTracker").text))
        }
    }
}
