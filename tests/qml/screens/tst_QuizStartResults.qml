import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The quiz page's start panel, start placeholder and results panel on the real controller against
// the fixture server.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    TestCase {
        id: testCase

        name: "QuizStartResults"
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
            Snackbar.clear()
        }

        function named(page, name) {
            const item = findChild(page, name)
            verify(item, name)
            return item
        }

        // A page on the start panel: options.quiz (extra quiz members), options.attempts (history).
        function readyPage(options) {
            options = options || {}
            const id = host.nextQuizId()
            const quiz = Object.assign(host.quiz(id, options), options.quiz || {})
            Fixture.respond("quizzes/" + id, 200, { quiz: quiz })
            Fixture.respond("quizzes/" + id + "/attempts", 200, options.attempts || [])
            const page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Ready)
            if (options.attempts)
                tryCompare(page.quizController.attempts, "length", options.attempts.length)
            return page
        }

        function resultPage(state, details) {
            const id = host.nextQuizId()
            const body = Object.assign({ quiz: host.quiz(id, {}) }, details)
            if (state === "Result") {
                body.attempt = host.attempt("a-" + id, "SUBMITTED", { q1: 1 })
                body.attempt.submittedAt = "2024-05-01T10:30:00.000Z"
            } else
                body.leaderboardOnly = true
            Fixture.respond("quizzes/" + id, 200, body)
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            const page = host.push(id)
            tryCompare(page.quizController, "state", QuizController[state])
            return page
        }

        function posts(page) {
            return Fixture.requests("quizzes/" + page.quizId + "/attempts").filter(request => request.method === "POST")
        }

        function test_timedBlankNickname_data() {
            return [{ tag: "empty", nickname: "" }, { tag: "spaces", nickname: "   " }]
        }

        function test_timedBlankNickname(data) {
            const page = readyPage({ type: "TIMED" })
            const field = named(page, "quizNicknameField")
            verify(field.visible)
            compare(field.placeholderText, "Choose a leaderboard nickname")
            verify(!named(page, "quizPreferenceGrid").visible)
            mouseClick(field)
            for (const character of data.nickname)
                keyClick(character)
            compare(page.nickname, data.nickname)
            const start = named(page, "startQuizButton")
            verify(start.enabled)
            mouseClick(start)
            tryCompare(Snackbar, "message", "Enter a nickname to start this timed quiz.")
            compare(posts(page).length, 0)
            verify(named(page, "quizReadyPanel").visible)
        }

        function test_timedQuizOpensLater() {
            const now = new Date(Date.UTC(2024, 4, 1, 9, 59, 58))
            TestSetup.setQuizClock(now)
            const page = readyPage({ type: "TIMED", quiz: { startsAt: "2024-05-01T10:00:00.000Z", durationSeconds: 3600 } })
            const start = named(page, "startQuizButton")
            const line = named(page, "quizAvailabilityText")
            verify(line.visible)
            verify(line.text.length > 0)
            verify(Qt.colorEqual(line.color, Theme.warning))
            verify(!start.enabled)
            Fixture.clearRequests()
            TestSetup.setQuizClock(new Date(Date.UTC(2024, 4, 1, 10, 0, 1)))
            tryVerify(() => start.enabled, 5000, "Start enables at the start time")
            verify(Qt.colorEqual(line.color, Theme.textSecondary) || !line.visible)
            compare(Fixture.requests("quizzes/" + page.quizId).length, 0)
        }

        function test_ordinaryPreferences() {
            const first = readyPage()
            verify(!named(first, "quizNicknameField").visible)
            const box = named(first, "showImmediateCorrectnessBox")
            verify(box.visible)
            verify(named(first, "autoAdvanceBox").visible)
            compare(box.label, "Show the correct answer immediately")
            compare(named(first, "autoAdvanceBox").label, "Automatically move to the next question")
            verify(!box.checked)
            mouseClick(box)
            verify(first.showImmediateCorrectness)
            verify(box.checked)
            tryVerify(() => String(TestSetup.storedSetting("quiz/showImmediateCorrectness")) === "true")
            host.stack.clear(StackView.Immediate)
            const second = readyPage()
            verify(named(second, "showImmediateCorrectnessBox").checked)
            mouseClick(named(second, "showImmediateCorrectnessBox"))
            verify(!second.showImmediateCorrectness)
        }

        function test_preferenceLayout_data() {
            return [{ tag: "759", width: 759, stacked: true }, { tag: "760", width: 760, stacked: false }]
        }

        function test_preferenceLayout(data) {
            root.width = data.width
            const page = readyPage()
            const panel = named(page, "quizReadyPanel")
            const first = named(page, "showImmediateCorrectnessBox")
            const second = named(page, "autoAdvanceBox")
            if (data.stacked) {
                compare(first.width, panel.width)
                compare(second.width, panel.width)
                verify(second.y > first.y)
            } else {
                compare(first.y, second.y)
                verify(first.width < panel.width)
            }
        }

        function test_attemptsLineAndTitle_data() {
            const attempt = n => ({ id: "old-" + n, status: "SUBMITTED", answers: [] })
            return [
                { tag: "no history", attempts: [], line: false, title: "Sample quiz" },
                { tag: "three", attempts: [attempt(1), attempt(2), attempt(3)], line: true, title: "" }
            ]
        }

        function test_attemptsLineAndTitle(data) {
            const page = readyPage({ attempts: data.attempts, title: data.title })
            const line = named(page, "quizAttemptsText")
            compare(line.visible, data.line)
            if (data.line)
                compare(line.text, "Previous attempts: 3")
            compare(named(page, "quizReadyTitle").text, data.title.length > 0 ? data.title : "Quiz")
            compare(named(page, "quizQuestionCount").text, "5 questions")
            compare(named(page, "quizTypePillLabel").text, "Ordinary")
            compare(named(page, "quizFormatPillLabel").text, "MCQ")
            compare(named(page, "quizReadyHeading").text, "Ready to begin?")
        }

        function test_shimmerBarsStartAtTheReadingStart_data() {
            return [{ tag: "left-to-right", language: "en" }, { tag: "right-to-left", language: "ar" }]
        }

        function test_shimmerBarsStartAtTheReadingStart(data) {
            SettingsController.language = data.language
            try {
                const page = readyPage()
                const attempts = "quizzes/" + page.quizId + "/attempts"
                Fixture.script(attempts, [{ held: true, body: host.attempt("a-" + page.quizId, "ACTIVE", {}) }])
                mouseClick(named(page, "startQuizButton"))
                tryCompare(named(page, "quizStartingShimmer"), "visible", true)
                const shortBar = named(page, "quizShimmerBar-3")
                const column = shortBar.parent
                compare(shortBar.x, data.language === "ar" ? column.width - shortBar.width : 0)
                Fixture.release(attempts)
                tryCompare(page.quizController, "state", QuizController.Active)
            } finally {
                SettingsController.language = "en"
            }
        }

        function test_startingShimmer_data() {
            return [{ tag: "reduced motion", reduced: true }, { tag: "motion", reduced: false }]
        }

        function test_startingShimmer(data) {
            const page = readyPage()
            SettingsController.animationSpeedMultiplier = data.reduced ? 0 : 1
            const attempts = "quizzes/" + page.quizId + "/attempts"
            Fixture.script(attempts, [{ held: true, body: host.attempt("a-" + page.quizId, "ACTIVE", {}) }])
            mouseClick(named(page, "startQuizButton"))
            const shimmer = named(page, "quizStartingShimmer")
            tryCompare(shimmer, "visible", true)
            verify(!named(page, "quizReadyPanel").visible)
            const bar = named(page, "quizShimmerBar-1")
            if (data.reduced) {
                wait(100)
                compare(shimmer.pulseOpacity, 0.46)
                compare(bar.opacity, 0.46)
            } else {
                let low = 1
                let high = 0
                tryVerify(() => {
                    low = Math.min(low, shimmer.pulseOpacity)
                    high = Math.max(high, shimmer.pulseOpacity)
                    return high > 0.7 && low < 0.5 && shimmer.pulseOpacity < high - 0.05
                }, 5000, "the pulse rises and falls")
                verify(low >= 0.46 - 1e-6 && high <= 0.78 + 1e-6)
            }
            Fixture.release(attempts)
            tryCompare(page.quizController, "state", QuizController.Active)
            verify(!shimmer.visible)
            // The keyboard is back on the page: a letter chooses an answer.
            SettingsController.animationSpeedMultiplier = 0
            keyClick(Qt.Key_B)
            compare(page.quizController.answers["q1"], 1)
        }

        function test_failedStartKeepsTheNickname() {
            const page = readyPage({ type: "TIMED" })
            const attempts = "quizzes/" + page.quizId + "/attempts"
            Fixture.script(attempts, [{ status: 500, body: { message: "Server error" } }])
            mouseClick(named(page, "quizNicknameField"))
            for (const character of "Nour")
                keyClick(character)
            mouseClick(named(page, "startQuizButton"))
            tryVerify(() => posts(page).length === 1)
            tryCompare(page.quizController, "startingAttempt", false)
            compare(page.quizController.state, QuizController.Ready)
            verify(named(page, "quizReadyPanel").visible)
            compare(named(page, "quizNicknameField").text, "Nour")
            compare(page.nickname, "Nour")
        }

        function test_leaderboardRows() {
            const page = resultPage("Result", {
                leaderboard: [{ rank: 1, nickname: "ann", score: 9, maxScore: 10 },
                              { rank: 2, nickname: "<b>x</b>", score: 8, maxScore: 10, isCurrentUser: true },
                              { nickname: "bob", score: 7, maxScore: 10 },
                              { rank: 0, nickname: "%1 %3", score: 5, maxScore: 10 },
                              { rank: 5 }]
            })
            compare(named(page, "quizResultsTitle").text, "Quiz completed")
            compare(named(page, "leaderboardRow-2").text, "#3  bob  —  7/10")
            compare(named(page, "leaderboardRow-3").text, "#4  %1 %3  —  5/10")
            compare(named(page, "leaderboardRow-4").text, "#5    —  0/0")
            const own = named(page, "leaderboardRow-1")
            compare(own.text, "#2  <b>x</b>  —  8/10")
            compare(own.textFormat, Text.PlainText)
            verify(Qt.colorEqual(own.color, Theme.primary))
            verify(own.font.bold)
            const other = named(page, "leaderboardRow-0")
            verify(Qt.colorEqual(other.color, Theme.text))
            verify(!other.font.bold)
        }

        function test_statusLine_data() {
            return [
                { tag: "message wins", state: "Result", message: "Graded by Friday", pending: 2, text: "Graded by Friday" },
                { tag: "pending", state: "Result", message: "", pending: 2, text: "2 answers are awaiting grading." },
                { tag: "leaderboard", state: "Leaderboard", message: "", pending: 0,
                  text: "Results and ranking are shown when grading is ready." },
                { tag: "result", state: "Result", message: "", pending: 0, text: "Your answers were submitted successfully." }
            ]
        }

        function test_statusLine(data) {
            const details = { pendingAnswersCount: data.pending }
            if (data.message.length > 0)
                details.message = data.message
            const page = resultPage(data.state, details)
            compare(named(page, "quizResultsStatus").text, data.text)
            compare(named(page, "quizResultsTitle").text, data.state === "Result" ? "Quiz completed" : "Leaderboard")
        }

        // An attempt answered on this page and then ended on the server as the row says; a save
        // refused by the server leaves one answer on this computer when the row asks for it.
        function endedPage(data) {
            const id = host.nextQuizId()
            const attemptId = "a-" + id
            Fixture.respond("quizzes/" + id, 200, host.activeDetails(id, {}))
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            Fixture.script("attempts/" + attemptId + "/answers",
                           [data.unsent ? { status: 500, body: { message: "Down" } } : { status: 200, body: {} }])
            let page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.setAnswer("q1", 1)
            tryVerify(() => Fixture.requests("attempts/" + attemptId + "/answers").length === 1
                      && !page.quizController.syncing, 5000, "the save is answered")
            host.stack.clear(StackView.Immediate)

            const ended = host.attempt(attemptId, data.status, data.unsent ? {} : { q1: 1 })
            if (data.submittedAt !== undefined)
                ended.submittedAt = data.submittedAt
            Fixture.respond("quizzes/" + id, 200, { quiz: host.quiz(id, {}), attempt: ended })
            page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Result)
            return page
        }

        function test_endedAttemptStatusLine_data() {
            const ended = "This attempt ended without a submission."
            const submitted = "Your answers were submitted successfully."
            const unsent = " Answers on this computer that never reached the server: 1."
            return [
                { tag: "expired", status: "EXPIRED", unsent: false, text: ended },
                { tag: "expired, an answer left here", status: "EXPIRED", unsent: true, text: ended + unsent },
                { tag: "submission time null", status: "SUBMITTED", submittedAt: null, unsent: false, text: ended },
                { tag: "submitted", status: "SUBMITTED", submittedAt: "2024-05-01T10:30:00.000Z", unsent: false,
                  text: submitted },
                { tag: "submitted, an answer left here", status: "SUBMITTED", submittedAt: "2024-05-01T10:30:00.000Z",
                  unsent: true, text: submitted + unsent }
            ]
        }

        function test_endedAttemptStatusLine(data) {
            const page = endedPage(data)
            compare(named(page, "quizResultsTitle").text, "Quiz completed")
            compare(named(page, "quizResultsStatus").text, data.text)
        }

        function test_ownSubmissionStatusLine() {
            const page = host.openActive({})
            const attemptId = host.attemptIdOf(page)
            // The server's record of the submission carries no time: this page's own success counts.
            Fixture.respond("attempts/" + attemptId + "/submit", 200, host.attempt(attemptId, "SUBMITTED", {}))
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.submit()
            tryCompare(page.quizController, "state", QuizController.Result)
            compare(named(page, "quizResultsStatus").text, "Your answers were submitted successfully.")
        }

        function test_timeUpSubmissionTriedAgain_data() {
            return [
                { tag: "by itself", press: false },
                { tag: "from the notice", press: true }
            ]
        }

        function test_timeUpSubmissionTriedAgain(data) {
            const now = new Date(Date.UTC(2024, 4, 1, 10, 0, 0))
            TestSetup.setQuizClock(now)
            const id = host.nextQuizId()
            const attemptId = "a-" + id
            const details = host.activeDetails(id, { type: "TIMED" })
            details.activeAttempt.expiresAt = new Date(now.getTime() + 30000).toISOString()
            Fixture.respond("quizzes/" + id, 200, details)
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            Fixture.script("attempts/" + attemptId + "/answers", [{ status: 500, body: { message: "Down" } }])
            const accepted = host.attempt(attemptId, "SUBMITTED", { q1: 2 })
            accepted.submittedAt = new Date(now.getTime() + 31000).toISOString()
            Fixture.script("attempts/" + attemptId + "/submit",
                           [{ status: 500, body: { message: "Server error" } }, { status: 200, body: accepted }])
            const page = host.push(id)
            const controller = page.quizController
            tryCompare(controller, "state", QuizController.Active)
            controller.setAnswer("q1", 2)
            tryVerify(() => Fixture.requests("attempts/" + attemptId + "/answers").length === 1
                      && !controller.syncing, 5000, "the save is answered")

            TestSetup.setQuizClock(new Date(now.getTime() + 31000))
            const notice = named(page, "quizNotice")
            tryCompare(notice, "message", "Time is up, and your answers could not be submitted yet.", 5000)
            verify(notice.visible)
            compare(notice.actionText, "Try again")
            compare(controller.state, QuizController.Active)
            verify(!controller.canEdit)
            compare(Fixture.requests("attempts/" + attemptId + "/submit").length, 1)
            if (data.press)
                notice.actionTriggered()

            tryCompare(controller, "state", QuizController.Result, 5000)
            const submissions = Fixture.requests("attempts/" + attemptId + "/submit")
            compare(submissions.length, 2)
            verify(submissions[1].body.answers.some(entry => entry.questionId === "q1" && entry.answer === 2),
                   JSON.stringify(submissions[1].body))
            compare(named(page, "quizResultsTitle").text, "Quiz completed")
            compare(named(page, "quizResultsStatus").text, "Your answers were submitted successfully.")
            verify(!named(page, "quizNotice").visible)
        }

        function test_refreshWithoutConnectionKeepsTheResults() {
            const page = resultPage("Result", {})
            const details = "quizzes/" + page.quizId
            Fixture.script(details, [{ drop: true }])
            mouseClick(named(page, "refreshStatusButton"))
            const notice = named(page, "quizNotice")
            tryCompare(notice, "visible", true)
            compare(page.quizController.state, QuizController.Result)
            compare(notice.message, "Connection lost. The status could not be refreshed.")
            compare(notice.actionText, "")
            verify(named(page, "quizResultsPanel").visible)
            verify(!named(page, "quizWorkingArea").visible)
            compare(named(page, "quizResultsStatus").text, "Your answers were submitted successfully.")
            verify(named(page, "refreshStatusButton").enabled)
        }

        function test_refreshStatus() {
            const page = resultPage("Result", {})
            const details = "quizzes/" + page.quizId
            compare(named(page, "quizResultsStatus").text, "Your answers were submitted successfully.")
            const body = { quiz: host.quiz(page.quizId, {}), attempt: host.attempt("a-" + page.quizId, "SUBMITTED", { q1: 1 }),
                           message: "Results are ready" }
            Fixture.script(details, [{ held: true, body: body }])
            mouseClick(named(page, "refreshStatusButton"))
            tryCompare(named(page, "quizLoadingSpinner"), "visible", true)
            Fixture.release(details)
            tryCompare(page.quizController, "state", QuizController.Result)
            compare(named(page, "quizResultsStatus").text, "Results are ready")
        }
    }
}
