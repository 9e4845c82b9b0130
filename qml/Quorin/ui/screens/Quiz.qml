import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic as Basic
import QtQuick.Layouts
import Qt.labs.settings
import Quorin
import Quorin.Controllers

// The quiz page: one attempt at one quiz, pushed with { quizId }. The root keeps the view state
// that belongs to the page rather than to the attempt (filter, scroll offsets, a question switch
// in progress), the two quiz preferences, and turns keys and clicks into controller operations.
// The regions inside the workspace read the root's properties and call its functions by name.
Rectangle {
    id: page

    property string quizId: ""
    readonly property QuizController quizController: controller
    property string nickname: ""
    property alias showImmediateCorrectness: quizSettings.showImmediateCorrectness
    property alias autoAdvance: quizSettings.autoAdvance
    property string questionFilter: "all"
    property var questionScrollPositions: ({})
    property int pendingQuestionIndex: -1
    property int questionTransitionDirection: 1
    readonly property string questionTransitionAxis: wideNavigation ? "vertical" : "horizontal"
    readonly property bool wideNavigation: width >= 850
    readonly property bool compactActionLayout: width < 760
    readonly property bool reducedMotion: Theme.animDuration === 0
    readonly property bool rightToLeft: SettingsController.layoutDirection === Qt.RightToLeft
    readonly property bool compactFlowRightToLeft: compactQuestionList.effectiveLayoutDirection === Qt.RightToLeft
    readonly property bool activePresentation: controller.state === QuizController.Active
                                               || controller.state === QuizController.OfflineReadOnly
                                               || controller.state === QuizController.ReviewRequired
    readonly property bool activeHeaderInline: Math.max(0, Math.min(900, width - 64 - 112))
                                               >= metadataRow.implicitWidth + 180 + Theme.smallSpacing
    property url markIconSource: "qrc:/qt/qml/Quorin/assets/icons/mark.svg"
    // What the navigators, the counts and the queries below read of the attempt, built once per
    // change of the controller: its lists cross into the engine as fresh copies on every read, and
    // hundreds of tiles, each reading them several times, made every answer cost a visible pause.
    readonly property var questionLookup: buildQuestionLookup(controller.questions, controller.answers,
                                                              controller.selfGrades,
                                                              controller.markedQuestionIds,
                                                              controller.eliminatedOptions,
                                                              controller.quizType === "ORDINARY"
                                                              && showImmediateCorrectness)
    readonly property int unansweredCount: Math.max(0, questionLookup.questions.length - controller.answeredCount)
    readonly property var filteredQuestionIndexes: filteredIndexes(questionLookup, controller.currentQuestionIndex,
                                                                   questionFilter)
    readonly property int previousQuestionIndex: neighbourIndex(filteredQuestionIndexes, -1)
    readonly property int nextQuestionIndex: neighbourIndex(filteredQuestionIndexes, 1)

    // The last filtered list, kept outside any property so that handing it back notifies nothing.
    readonly property var derivedMemory: ({ filtered: null })

    objectName: "quizPage"
    color: Theme.background
    focus: true

    // --- Query functions ---------------------------------------------------------------------

    function questionSetOf(questions) {
        const set = {
            questions: [],
            // Plain objects without a prototype: the engine's Map and Set search their keys one by one.
            indexById: Object.create(null),
            writtenCount: 0
        }
        const count = questions.length
        for (let i = 0; i < count; ++i) {
            const question = questions[i]
            set.questions.push(question)
            const id = question ? question.id : undefined
            // The first question of an id answers for it, as a search from the start would find.
            if (id !== undefined && !(id in set.indexById))
                set.indexById[id] = i
            if (question && question.type === "WRITTEN")
                ++set.writtenCount
        }
        return set
    }

    function buildQuestionLookup(questions, answers, selfGrades, markedList, eliminated, immediateCorrectness) {
        const set = questionSetOf(questions)
        const lookup = {
            questions: set.questions,
            indexById: set.indexById,
            writtenCount: set.writtenCount,
            answers: answers || {},
            selfGrades: selfGrades || {},
            eliminated: eliminated || {},
            immediateCorrectness: immediateCorrectness,
            markedIds: Object.create(null),
            markedCount: 0,
            answered: [],
            marked: [],
            results: []
        }
        for (let m = 0; m < markedList.length; ++m) {
            if (!(markedList[m] in lookup.markedIds))
                ++lookup.markedCount
            lookup.markedIds[markedList[m]] = true
        }
        const count = lookup.questions.length
        for (let j = 0; j < count; ++j) {
            const question = lookup.questions[j]
            const id = question ? question.id : undefined
            lookup.answered.push(id !== undefined && answeredIn(lookup, id))
            lookup.marked.push(id !== undefined && id in lookup.markedIds)
            lookup.results.push(id !== undefined ? resultStateIn(lookup, question) : "unanswered")
        }
        return lookup
    }

    function questionById(id) {
        const index = questionLookup.indexById[id]
        return index === undefined ? null : questionLookup.questions[index]
    }

    function answeredIn(lookup, id) {
        const index = lookup.indexById[id]
        return answerPresent(index === undefined ? { id: id } : lookup.questions[index], lookup.answers)
    }

    function hasAnswer(id) {
        return answeredIn(questionLookup, id)
    }

    function answerPresent(question, answers) {
        if (!answers || !Object.prototype.hasOwnProperty.call(answers, question.id))
            return false
        const answer = answers[question.id]
        if (answer === null || answer === undefined)
            return false
        if (question.type === "WRITTEN")
            return String(answer).trim().length > 0
        return true
    }

    function answerFor(id) {
        return hasAnswer(id) ? questionLookup.answers[id] : null
    }

    function isMarked(id) {
        return questionLookup.markedIds[id] === true
    }

    function isEliminated(id, index) {
        const entry = questionLookup.eliminated[id]
        if (!entry)
            return false
        for (let i = 0; i < entry.length; ++i) {
            if (Number(entry[i]) === Number(index))
                return true
        }
        return false
    }

    function quizModeText() {
        return controller.quizType === "TIMED" ? qsTr("Timed") : qsTr("Ordinary")
    }

    function questionFormatText(question) {
        return question && question.type === "WRITTEN" ? qsTr("Written") : qsTr("MCQ")
    }

    function overallFormatText() {
        const written = questionLookup.writtenCount
        const count = questionLookup.questions.length
        if (written > 0 && written < count)
            return qsTr("Mixed")
        if (count > 0 && written === count)
            return qsTr("Written")
        return qsTr("MCQ")
    }

    // Read from the lookup, which has copied the questions once for this change, rather than
    // taking a fresh copy of the controller's record for each reader.
    function currentQuestionRecord() {
        const question = questionLookup.questions[controller.currentQuestionIndex]
        return question && question.id !== undefined ? question : null
    }

    function questionLocked() {
        const question = currentQuestionRecord()
        return controller.quizType === "ORDINARY" && showImmediateCorrectness && question !== null
                && question.type === "MCQ" && hasAnswer(question.id)
    }

    function hasSelfGrade(id) {
        return selfGradeIn(questionLookup, id)
    }

    function selfGradeIn(lookup, id) {
        const grade = lookup.selfGrades[id]
        return grade !== undefined && grade !== null
    }

    function correctnessAvailable(question) {
        return correctnessAvailableIn(questionLookup, question)
    }

    function correctnessAvailableIn(lookup, question) {
        if (!question || !answeredIn(lookup, question.id))
            return false
        if (question.type === "WRITTEN")
            return selfGradeIn(lookup, question.id)
        return lookup.immediateCorrectness && Number(question.correctOptionIndex) >= 0
    }

    function questionResultState(question) {
        return resultStateIn(questionLookup, question)
    }

    function resultStateIn(lookup, question) {
        if (!question || !answeredIn(lookup, question.id))
            return "unanswered"
        if (!correctnessAvailableIn(lookup, question))
            return "answered"
        if (question.type === "WRITTEN")
            return lookup.selfGrades[question.id] === true ? "correct" : "incorrect"
        return Number(lookup.answers[question.id]) === Number(question.correctOptionIndex) ? "correct"
                                                                                            : "incorrect"
    }

    function questionAccessibleDescription(questionIndex) {
        const lookup = questionLookup
        const inRange = questionIndex >= 0 && questionIndex < lookup.questions.length
        const states = []
        if (questionIndex === controller.currentQuestionIndex)
            states.push(qsTr("Current"))
        if (inRange && lookup.marked[questionIndex])
            states.push(qsTr("Marked"))
        const result = inRange ? lookup.results[questionIndex] : "unanswered"
        states.push(result === "correct" ? qsTr("Correct")
                                         : result === "incorrect" ? qsTr("Incorrect")
                                                                  : result === "answered" ? qsTr("Answered")
                                                                                          : qsTr("Unanswered"))
        return states.join(", ")
    }

    // A text-editing control is an item with a caret and either an echo mode (single-line fields)
    // or a select-by-mouse setting (multi-line editors).
    function activeTextInput() {
        const window = page.Window.window
        const item = window ? window.activeFocusItem : null
        if (!item || item === page)
            return false
        return item.cursorPosition !== undefined && (item.echoMode !== undefined || item.selectByMouse !== undefined)
    }

    // A pop-up reports itself opened and has a close policy; its item sits in the window's overlay.
    function focusInOpenPopup() {
        const window = page.Window.window
        const overlay = page.Overlay.overlay
        for (let item = window ? window.activeFocusItem : null; item; item = item.parent) {
            if (item.opened === true && item.closePolicy !== undefined)
                return true
            if (overlay && item === overlay)
                return true
        }
        return false
    }

    function navigationShortcutBlocked() {
        return Theme.activeDialogs > 0 || activeTextInput() || focusInOpenPopup()
    }

    function decodeAnswerShortcut(event) {
        if (event.key >= Qt.Key_A && event.key <= Qt.Key_Z)
            return event.key - Qt.Key_A
        if (event.key >= Qt.Key_1 && event.key <= Qt.Key_9)
            return event.key - Qt.Key_1
        if (event.key === Qt.Key_0)
            return -1
        const character = event.text.length > 0 ? event.text.charAt(0) : ""
        if (character.length === 0)
            return -1
        for (const row of ["123456789", "\u0661\u0662\u0663\u0664\u0665\u0666\u0667\u0668\u0669",
                           "\u06F1\u06F2\u06F3\u06F4\u06F5\u06F6\u06F7\u06F8\u06F9", "!@#$%^&*("]) {
            const position = row.indexOf(character)
            if (position >= 0)
                return position
        }
        return -1
    }

    // Hands back the list it gave last time while the indexes stay the same: the navigators
    // rebuild every tile for a new list, and most changes (an answer under "All") keep them.
    function filteredIndexes(lookup, current, filter) {
        const result = []
        for (let i = 0; i < lookup.questions.length; ++i) {
            if (i !== current && ((filter === "unanswered" && lookup.answered[i])
                                  || (filter === "marked" && !lookup.marked[i])))
                continue
            result.push(i)
        }
        const previous = derivedMemory.filtered
        if (previous && previous.length === result.length && previous.every((value, i) => value === result[i]))
            return previous
        derivedMemory.filtered = result
        return result
    }

    function neighbourIndex(list, delta) {
        const current = controller.currentQuestionIndex
        const position = list.indexOf(current)
        if (position >= 0) {
            const target = position + delta
            return target >= 0 && target < list.length ? list[target] : -1
        }
        if (delta > 0) {
            for (let i = 0; i < list.length; ++i) {
                if (list[i] > current)
                    return list[i]
            }
        } else {
            for (let j = list.length - 1; j >= 0; --j) {
                if (list[j] < current)
                    return list[j]
            }
        }
        return -1
    }

    function adjacentFiltered(delta) {
        if (filteredQuestionIndexes.length === 0)
            return -1
        return neighbourIndex(filteredQuestionIndexes, delta)
    }

    function formatSeconds(value) {
        return value < 0 ? "" : DisplayFormat.duration(value)
    }

    // --- Operations ---------------------------------------------------------------------------

    function saveScrollPosition() {
        const question = currentQuestionRecord()
        if (!question || !question.id)
            return
        const positions = Object.assign({}, questionScrollPositions)
        positions[question.id] = questionFlick.contentY
        questionScrollPositions = positions
    }

    function restoreScrollPosition() {
        const question = currentQuestionRecord()
        const top = questionFlick.originY
        const stored = question && questionScrollPositions[question.id] !== undefined
                ? questionScrollPositions[question.id] : top
        const bottom = Math.max(top, top + questionFlick.contentHeight - questionFlick.height)
        questionFlick.contentY = Math.max(top, Math.min(bottom, stored))
    }

    function navigateTo(index) {
        if (index < 0 || index >= questionLookup.questions.length || index === controller.currentQuestionIndex)
            return
        saveScrollPosition()
        pendingQuestionIndex = index
        questionTransitionDirection = index > controller.currentQuestionIndex ? 1 : -1
        if (reducedMotion) {
            questionSwitchAnimation.stop()
            switchPendingQuestion()
        } else {
            questionSwitchAnimation.restart()
        }
    }

    function switchPendingQuestion() {
        if (pendingQuestionIndex < 0)
            return
        controller.currentQuestionIndex = pendingQuestionIndex
        pendingQuestionIndex = -1
        restoreScrollPosition()
        followCurrentQuestion()
    }

    function followCurrentQuestion() {
        // After the navigators have taken their new model.
        Qt.callLater(page.centerCurrentQuestion)
    }

    function centerCurrentQuestion() {
        const position = filteredQuestionIndexes.indexOf(controller.currentQuestionIndex)
        if (position < 0)
            return
        if (wideNavigation)
            centerNavigator(verticalQuestionNavigator, position, false)
        else
            centerNavigator(compactQuestionList, position, true)
    }

    function centerNavigator(list, modelIndex, horizontal) {
        if (!list || modelIndex < 0)
            return
        list.cancelFlick()
        const before = horizontal ? list.contentX : list.contentY
        list.currentIndex = modelIndex
        list.positionViewAtIndex(modelIndex, ListView.Center)
        const after = horizontal ? list.contentX : list.contentY
        if (reducedMotion || Math.abs(after - before) <= 0.5)
            return
        const animation = horizontal ? horizontalNavigatorAnimation : verticalNavigatorAnimation
        animation.stop()
        if (horizontal)
            list.contentX = before
        else
            list.contentY = before
        animation.from = before
        animation.to = after
        animation.start()
    }

    function chooseAnswer(id, value) {
        controller.setAnswer(id, value)
        followCurrentQuestion()
        const question = currentQuestionRecord()
        const correct = question !== null && Number(question.correctOptionIndex) === Number(value)
        // Waiting for a right choice would tell the answer away in a timed quiz, where the
        // correct option is never shown: there any choice moves on.
        const waitForCorrect = showImmediateCorrectness && controller.quizType === "ORDINARY"
        if (autoAdvance && (!waitForCorrect || correct)) {
            const next = adjacentFiltered(1)
            if (next >= 0)
                navigateTo(next)
        }
    }

    function toggleAnswerElimination(id, index) {
        controller.toggleEliminated(id, index)
        followCurrentQuestion()
    }

    function handleAnswerPointer(button, id, index) {
        if (button === Qt.RightButton)
            toggleAnswerElimination(id, index)
        else
            chooseAnswer(id, index)
    }

    function handleNavigationShortcut(event) {
        if (controller.state !== QuizController.Active || navigationShortcutBlocked())
            return false
        let direction = 0
        if (wideNavigation) {
            if (event.key === Qt.Key_Up)
                direction = -1
            else if (event.key === Qt.Key_Down)
                direction = 1
        } else if (event.key === Qt.Key_Left) {
            direction = rightToLeft ? 1 : -1
        } else if (event.key === Qt.Key_Right) {
            direction = rightToLeft ? -1 : 1
        }
        if (direction === 0)
            return false
        const target = adjacentFiltered(direction)
        if (target >= 0)
            navigateTo(target)
        event.accepted = true
        return true
    }

    function handleAnswerShortcut(event) {
        const question = currentQuestionRecord()
        if (controller.state !== QuizController.Active || !controller.canEdit || questionLocked()
                || question === null || question.type !== "MCQ" || activeTextInput())
            return
        // Ctrl+C copies and Ctrl+A selects: a command key never chooses an answer.
        if (event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier))
            return
        const index = decodeAnswerShortcut(event)
        const options = question.options || []
        if (index < 0 || index >= options.length)
            return
        if (event.modifiers & Qt.ShiftModifier)
            toggleAnswerElimination(question.id, index)
        else
            chooseAnswer(question.id, index)
        event.accepted = true
    }

    Keys.priority: Keys.BeforeItem
    Keys.onPressed: event => {
        if (!handleNavigationShortcut(event))
            handleAnswerShortcut(event)
    }

    onFilteredQuestionIndexesChanged: followCurrentQuestion()
    onWideNavigationChanged: followCurrentQuestion()

    Component.onCompleted: {
        page.forceActiveFocus()
        controller.open()
    }

    Settings {
        id: quizSettings

        category: "quiz"

        property bool showImmediateCorrectness: false
        property bool autoAdvance: false
    }

    QuizController {
        id: controller

        // The last step of the countdown to the quiz's chat page that went to the snackbar.
        property string countdownMessage: ""

        quizId: page.quizId
        onFeedback: (message, severity) => {
            // The steps come a second apart: each takes the place of the one on show instead of
            // queuing behind it, so the snackbar keeps time with the page that opens.
            if (countdownMessage !== "" && Snackbar.message === countdownMessage)
                Snackbar.dismiss()
            countdownMessage = aiRedirectSeconds > 0 ? message : ""
            Snackbar.show(message, severity)
        }
    }

    // --- Inline components ----------------------------------------------------------------------

    component QuestionFilterPill: AbstractButton {
        id: pill

        required property string filterValue
        property int count: 0
        property ButtonGroup radioGroup: null
        readonly property string labelText: filterValue === "all" ? qsTr("All")
                                                                  : filterValue === "unanswered" ? qsTr("Unanswered")
                                                                                                 : qsTr("Marked")

        objectName: "questionFilter-" + filterValue
        implicitWidth: Math.max(108, implicitContentWidth + leftPadding + rightPadding)
        implicitHeight: 36
        leftPadding: 10
        rightPadding: 10
        hoverEnabled: true
        focusPolicy: Qt.StrongFocus
        // Selected by the page's filter alone: a click sets the filter and never toggles the pill.
        checkable: false
        checked: page.questionFilter === filterValue
        ButtonGroup.group: radioGroup
        onClicked: page.questionFilter = filterValue

        Accessible.role: Accessible.RadioButton
        Accessible.name: qsTr("%1, %2 questions").arg(labelText).arg(DisplayFormat.integer(count))
        Accessible.checkable: true
        Accessible.checked: checked

        background: Rectangle {
            radius: height / 2
            color: pill.checked ? Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.14)
                                : pill.down ? Theme.pressed : pill.hovered ? Theme.hover : Theme.surfaceMuted
            border.width: pill.visualFocus ? 2 : 1
            border.color: pill.checked || pill.visualFocus ? Theme.primary : Theme.borderStrong

            Behavior on color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }
            Behavior on border.color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }
        }

        contentItem: Row {
            // Its own direction holds inside the mirrored window, so the count keeps its side.
            LayoutMirroring.enabled: false
            layoutDirection: page.rightToLeft ? Qt.RightToLeft : Qt.LeftToRight
            spacing: Theme.smallSpacing

            QuorinElidedLabel {
                width: Math.max(0, pill.availableWidth - 28 - Theme.smallSpacing)
                anchors.verticalCenter: parent.verticalCenter
                text: pill.labelText
                hoverCursorShape: Qt.PointingHandCursor
                font.pixelSize: 12
                font.bold: pill.checked
                elide: Text.ElideRight
                color: pill.checked ? Theme.primary : Theme.textSecondary
            }

            Label {
                width: 28
                anchors.verticalCenter: parent.verticalCenter
                text: DisplayFormat.integer(pill.count)
                font.pixelSize: 12
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                color: pill.checked ? Theme.primary : Theme.textMuted
            }
        }
    }

    component MetadataPill: Rectangle {
        id: metadataPill

        property string text: ""

        implicitWidth: pillLabel.implicitWidth + 20
        implicitHeight: 30
        width: implicitWidth
        height: implicitHeight
        radius: height / 2
        color: Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.12)
        border.width: 1
        border.color: Theme.primary

        Label {
            id: pillLabel

            objectName: metadataPill.objectName.length > 0 ? metadataPill.objectName + "Label" : ""
            anchors.centerIn: parent
            text: metadataPill.text
            color: Theme.primary
            font.bold: true
            font.pixelSize: 12
        }
    }

    component QuestionTile: AbstractButton {
        id: tile

        required property int modelData
        property bool compact: false
        property bool activeNavigator: false
        readonly property int questionIndex: modelData
        readonly property var questionData: page.questionLookup.questions[modelData] || ({})
        readonly property bool current: modelData === controller.currentQuestionIndex
        readonly property bool answered: page.questionLookup.answered[modelData] === true
        readonly property bool marked: page.questionLookup.marked[modelData] === true
        readonly property bool previewEnabled: !compact
        readonly property string resultState: page.questionLookup.results[modelData] || "unanswered"
        readonly property int contentLayoutDirection: page.rightToLeft ? Qt.RightToLeft : Qt.LeftToRight

        objectName: "questionNavigatorRow-" + modelData
        implicitWidth: compact ? 60 : 180
        implicitHeight: compact ? 44 : 48
        // Keeps an elided preview off the border at either end.
        horizontalPadding: compact ? 0 : 6
        hoverEnabled: true
        focusPolicy: Qt.StrongFocus
        onClicked: page.navigateTo(questionIndex)

        Accessible.role: Accessible.Button
        Accessible.name: qsTr("Question %1").arg(DisplayFormat.integer(questionIndex + 1))
        Accessible.description: page.questionAccessibleDescription(questionIndex)

        background: Rectangle {
            radius: Theme.radius
            border.width: 1
            color: {
                switch (tile.resultState) {
                case "correct":
                    return Qt.rgba(Theme.success.r, Theme.success.g, Theme.success.b, tile.hovered ? 0.20 : 0.12)
                case "incorrect":
                    return Qt.rgba(Theme.error.r, Theme.error.g, Theme.error.b, tile.hovered ? 0.18 : 0.10)
                case "answered":
                    return tile.hovered ? Theme.hover : Theme.surfaceMuted
                default:
                    return tile.hovered ? Theme.hover : "transparent"
                }
            }
            border.color: tile.current ? Theme.primary
                                       : tile.resultState === "correct" ? Theme.success
                                                                        : tile.resultState === "incorrect"
                                                                          ? Theme.error : Theme.borderStrong

            Behavior on color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }
            Behavior on border.color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }
        }

        contentItem: Row {
            id: tileRow

            // Its own direction holds inside the mirrored window, so the number stands at the
            // reading start.
            LayoutMirroring.enabled: false
            layoutDirection: tile.contentLayoutDirection
            spacing: 2

            Rectangle {
                objectName: "questionNumberZone-" + tile.questionIndex
                width: tile.compact ? 28 : 34
                height: 28
                anchors.verticalCenter: parent.verticalCenter
                radius: Theme.radius - 2
                color: "transparent"

                Label {
                    anchors.centerIn: parent
                    text: DisplayFormat.integer(tile.questionIndex + 1)
                    font.bold: true
                    color: tile.current ? Theme.primary : Theme.text
                }
            }

            QuorinElidedLabel {
                objectName: "questionPreview-" + tile.questionIndex
                visible: tile.previewEnabled
                width: visible ? Math.max(0, tile.availableWidth - (tile.compact ? 28 : 34) - 2
                                          - (markGlyph.visible ? markGlyph.width + 2 : 0)) : 0
                anchors.verticalCenter: parent.verticalCenter
                text: tile.questionData.text || ""
                textFormat: Text.PlainText
                maximumLineCount: 1
                elide: Text.ElideRight
                hoverCursorShape: Qt.PointingHandCursor
                color: tile.current ? Theme.text : Theme.textSecondary
            }

            Item {
                visible: tile.compact
                width: visible ? Math.max(0, tile.availableWidth - 28 - 2
                                          - (markGlyph.visible ? markGlyph.width + 2 : 0)) : 0
                height: 1
            }

            QuorinIcon {
                id: markGlyph

                objectName: "questionMarkGlyph-" + tile.questionIndex
                visible: tile.marked
                width: 18
                height: 18
                anchors.verticalCenter: parent.verticalCenter
                source: page.markIconSource
                tint: Theme.warning
            }
        }
    }

    component FilterHeading: Label {
        text: qsTr("Filter questions")
        color: Theme.textSecondary
        font.pixelSize: 12
        font.bold: true
        elide: Text.ElideRight
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    // One option of the current multiple-choice question; its look follows the stored answer,
    // the strike-outs and, once the question is locked, the verdict.
    component AnswerRow: Rectangle {
        id: answerRow

        required property int index
        required property var modelData
        readonly property string questionId: questionCard.questionId
        readonly property bool selected: page.hasAnswer(questionId) && Number(page.answerFor(questionId)) === index
        readonly property bool eliminated: page.isEliminated(questionId, index)
        readonly property bool revealing: page.questionLocked()
        readonly property bool correct: revealing && questionCard.question !== null
                                        && Number(questionCard.question.correctOptionIndex) === index
        // Without a correct option there is no verdict: the locked choice keeps the selected look.
        readonly property bool wrongChoice: revealing && selected && !correct && questionCard.hasCorrectOption
        readonly property string letter: String.fromCharCode(65 + index)

        objectName: "answerRow-" + index
        width: parent ? parent.width : 0
        height: Math.max(56, answerText.implicitHeight + 24)
        radius: Theme.radius
        border.width: 1
        color: correct ? Qt.rgba(Theme.success.r, Theme.success.g, Theme.success.b, 0.14)
                       : wrongChoice ? Qt.rgba(Theme.error.r, Theme.error.g, Theme.error.b, 0.12)
                                     : selected ? Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.12)
                                                : "transparent"
        border.color: correct ? Theme.success : wrongChoice ? Theme.error : selected ? Theme.primary : Theme.borderStrong
        opacity: eliminated ? 0.56 : 1

        Accessible.role: Accessible.RadioButton
        Accessible.name: letter + ". " + answerText.text
        Accessible.checkable: true
        Accessible.checked: selected

        RowLayout {
            anchors.fill: parent
            anchors.margins: 12
            spacing: 12

            Rectangle {
                objectName: "answerLetter-" + answerRow.index
                Layout.preferredWidth: 30
                Layout.preferredHeight: 30
                Layout.alignment: Qt.AlignVCenter
                radius: 15
                color: answerRow.selected ? Theme.primary : "transparent"
                border.width: 1
                border.color: answerRow.selected ? Theme.primary : Theme.borderStrong

                Label {
                    anchors.centerIn: parent
                    text: answerRow.letter
                    font.bold: true
                    color: answerRow.selected ? Theme.accentForeground : Theme.text
                }
            }

            Label {
                id: answerText

                objectName: "answerText-" + answerRow.index
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                text: answerRow.modelData === undefined || answerRow.modelData === null ? ""
                                                                                        : String(answerRow.modelData)
                textFormat: Text.PlainText
                wrapMode: Text.WordWrap
                color: Theme.text
                font.strikeout: answerRow.eliminated
            }
        }

        MouseArea {
            objectName: "answerPointer-" + answerRow.index
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton | Qt.RightButton
            preventStealing: true
            cursorShape: Qt.PointingHandCursor
            enabled: controller.canEdit && !page.questionLocked()
            onClicked: mouse => {
                mouse.accepted = true
                page.handleAnswerPointer(mouse.button, answerRow.questionId, answerRow.index)
            }
        }
    }

    // --- Frame ----------------------------------------------------------------------------------

    ColumnLayout {
        id: pageColumn

        anchors.fill: parent
        anchors.margins: page.compactActionLayout ? Theme.spacing : Theme.largeSpacing
        spacing: Theme.spacing

        Item {
            id: header

            readonly property real activeHeight: page.activeHeaderInline
                                                 ? Math.max(48, titleLabel.implicitHeight, metadataRow.implicitHeight)
                                                 : titleLabel.implicitHeight + 6 + metadataRow.implicitHeight
            readonly property real headerHeight: page.activePresentation ? activeHeight : 48

            objectName: "quizHeader"
            Layout.fillWidth: true
            Layout.preferredHeight: headerHeight
            Layout.minimumHeight: headerHeight
            implicitHeight: headerHeight

            QuorinBackIconButton {
                objectName: "quizBackButton"
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                Accessible.name: qsTr("Back to course")
                onClicked: page.StackView.view.pop()
            }

            Item {
                id: centreBlock

                objectName: "centeredQuizMetadata"
                visible: page.activePresentation
                width: Math.max(0, Math.min(900, header.width - 112))
                height: page.activeHeaderInline ? Math.max(titleLabel.height, metadataRow.height)
                                                : titleLabel.height + 6 + metadataRow.height
                anchors.centerIn: parent

                readonly property real inlineTitleWidth: Math.max(180, Math.min(titleLabel.implicitWidth,
                                                                                width - metadataRow.implicitWidth
                                                                                - Theme.smallSpacing))

                QuorinElidedLabel {
                    id: titleLabel

                    objectName: "activeQuizTitle"
                    text: controller.title.length > 0 ? controller.title : qsTr("Quiz")
                    textFormat: Text.PlainText
                    font.pixelSize: 18
                    font.bold: true
                    color: Theme.text
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.NoWrap
                    maximumLineCount: 1
                    elide: Text.ElideRight
                    // Explicit coordinates: the title stays left of its row in either direction.
                    width: page.activeHeaderInline ? centreBlock.inlineTitleWidth : centreBlock.width
                    x: page.activeHeaderInline ? (centreBlock.width - width - Theme.smallSpacing
                                                  - metadataRow.width) / 2 : 0
                    y: page.activeHeaderInline ? (centreBlock.height - height) / 2 : 0
                }

                Row {
                    id: metadataRow

                    objectName: "activeQuizMetadataRow"
                    spacing: Theme.smallSpacing
                    x: page.activeHeaderInline ? titleLabel.x + titleLabel.width + Theme.smallSpacing
                                               : (centreBlock.width - width) / 2
                    y: page.activeHeaderInline ? (centreBlock.height - height) / 2 : titleLabel.height + 6

                    MetadataPill {
                        objectName: "activeQuizMode"
                        text: page.quizModeText()
                    }

                    MetadataPill {
                        objectName: "activeQuestionFormat"
                        text: page.questionFormatText(page.currentQuestionRecord())
                    }

                    Label {
                        objectName: "activeQuestionTracker"
                        height: 30
                        verticalAlignment: Text.AlignVCenter
                        font.pixelSize: 13
                        color: Theme.textSecondary
                        text: qsTr("%1/%2 · %3 answered")
                              .arg(DisplayFormat.integer(controller.currentQuestionIndex + 1))
                              .arg(DisplayFormat.integer(page.questionLookup.questions.length))
                              .arg(DisplayFormat.integer(controller.answeredCount))
                    }

                    Rectangle {
                        id: countdownPill

                        readonly property bool urgent: controller.remainingSeconds < 60

                        objectName: "activeQuizCountdown"
                        visible: controller.remainingSeconds >= 0
                        width: countdownLabel.implicitWidth + 20
                        height: 30
                        radius: height / 2
                        border.width: 1
                        color: urgent ? Qt.rgba(Theme.error.r, Theme.error.g, Theme.error.b, 0.18) : Theme.surface
                        border.color: urgent ? Theme.error : Theme.border

                        Label {
                            id: countdownLabel

                            objectName: "activeQuizCountdownLabel"
                            anchors.centerIn: parent
                            text: page.formatSeconds(controller.remainingSeconds)
                            font.bold: true
                            color: Theme.text
                        }
                    }
                }
            }

            HelpCircleButton {
                objectName: "quizHelpButton"
                visible: page.activePresentation
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                onClicked: shortcutsOverlay.open()
            }
        }

        QuorinNotice {
            id: notice

            readonly property bool reviewingCurrent: controller.state === QuizController.ReviewRequired
                                                     && page.currentQuestionRecord() !== null
                                                     && controller.reviewQuestionIds.indexOf(
                                                         page.currentQuestionRecord().id) >= 0

            objectName: "quizNotice"
            Layout.fillWidth: true
            visible: controller.errorMessage.length > 0
            message: controller.errorMessage
            severity: controller.state === QuizController.OfflineReadOnly
                      || controller.state === QuizController.ReviewRequired ? "warning" : "error"
            actionText: controller.state === QuizController.Failed ? qsTr("Retry")
                        : controller.timeUpSubmissionFailed ? qsTr("Try again")
                        : reviewingCurrent ? qsTr("Keep this answer") : ""
            onActionTriggered: {
                if (controller.state === QuizController.Failed)
                    controller.retry()
                else if (controller.timeUpSubmissionFailed)
                    controller.submit()
                else if (page.currentQuestionRecord() !== null)
                    controller.keepChangedAnswer(page.currentQuestionRecord().id)
            }
        }

        Item {
            id: workspace

            objectName: "quizWorkspace"
            Layout.fillWidth: true
            Layout.fillHeight: true

            QuorinSpinner {
                objectName: "quizLoadingSpinner"
                width: Theme.workspaceSpinnerSize
                height: Theme.workspaceSpinnerSize
                anchors.centerIn: parent
                running: controller.state === QuizController.Loading
                visible: running
            }

            // The working area: the navigator's sidebar at the leading edge, then the main column of
            // question card, compact navigator and action bar.
            RowLayout {
                id: workingArea

                readonly property var filterValues: ["all", "unanswered", "marked"]

                function filterCount(value) {
                    if (value === "unanswered")
                        return page.unansweredCount
                    if (value === "marked")
                        return page.questionLookup.markedCount
                    return page.questionLookup.questions.length
                }

                objectName: "quizWorkingArea"
                anchors.fill: parent
                visible: page.activePresentation
                spacing: Theme.spacing

                ButtonGroup {
                    id: wideFilterButtonGroup

                    exclusive: true
                }

                ButtonGroup {
                    id: compactFilterButtonGroup

                    exclusive: true
                }

                Rectangle {
                    id: questionSidebar

                    objectName: "questionSidebar"
                    visible: page.wideNavigation
                    Layout.preferredWidth: page.wideNavigation ? 220 : 0
                    Layout.fillHeight: true
                    radius: Theme.radius
                    color: Theme.surface
                    border.width: 1
                    border.color: Theme.border

                    ColumnLayout {
                        anchors.fill: parent
                        anchors.margins: Theme.spacing
                        spacing: Theme.smallSpacing

                        FilterHeading {
                            objectName: "filterQuestionsLabel"
                            Layout.fillWidth: true
                        }

                        Repeater {
                            model: workingArea.filterValues

                            QuestionFilterPill {
                                required property string modelData

                                objectName: "wideQuestionFilter-" + modelData
                                Layout.fillWidth: true
                                filterValue: modelData
                                count: workingArea.filterCount(modelData)
                                radioGroup: wideFilterButtonGroup
                            }
                        }

                        Rectangle {
                            objectName: "questionSidebarDivider"
                            Layout.fillWidth: true
                            Layout.preferredHeight: 1
                            Layout.topMargin: Theme.smallSpacing
                            Layout.bottomMargin: Theme.smallSpacing
                            color: Theme.border
                        }

                        ListView {
                            id: verticalQuestionNavigator

                            objectName: "verticalQuestionNavigator"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            clip: true
                            spacing: Theme.smallSpacing
                            highlightFollowsCurrentItem: false
                            model: page.filteredQuestionIndexes
                            ScrollBar.vertical: QuorinScrollBar {}
                            // A list just shown gets its size after the page asked it to follow the
                            // current question: it follows again once it has one.
                            onHeightChanged: {
                                if (visible && height > 0)
                                    page.followCurrentQuestion()
                            }
                            delegate: QuestionTile {
                                width: ListView.view.width
                                activeNavigator: page.wideNavigation
                            }
                        }
                    }
                }

                ColumnLayout {
                    id: mainColumn

                    objectName: "quizMainColumn"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    spacing: Theme.smallSpacing

                    Rectangle {
                        id: questionCard

                        property string editingQuestionId: ""
                        property bool handingOver: false
                        readonly property var question: page.currentQuestionRecord()
                        readonly property string questionId: question && question.id !== undefined ? String(question.id)
                                                                                                     : ""
                        readonly property bool multipleChoice: question !== null && question.type === "MCQ"
                        readonly property bool written: question !== null && question.type === "WRITTEN"
                        readonly property bool hasCorrectOption: question !== null
                                                                 && Number(question.correctOptionIndex) >= 0

                        // Text the controller kept as a draft (offline, locked or under review) shows
                        // in place of the stored answer until it is handed over.
                        function storedWrittenText(id) {
                            const draft = controller.writtenDrafts[id]
                            if (draft !== undefined)
                                return draft
                            const answer = page.answerFor(id)
                            return answer === null || answer === undefined ? "" : String(answer)
                        }

                        function refreshWrittenText() {
                            if (!writtenAnswer.activeFocus && !handingOver)
                                writtenAnswer.text = written ? storedWrittenText(questionId) : ""
                        }

                        function handOverWrittenText(id, text) {
                            if (id.length > 0)
                                controller.setWrittenAnswer(id, text)
                        }

                        function handOverFocusedText() {
                            if (writtenAnswer.activeFocus && editingQuestionId.length > 0)
                                handOverWrittenText(editingQuestionId, writtenAnswer.text)
                        }

                        objectName: "questionCard"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        radius: Theme.radius
                        color: Theme.surface
                        border.width: 1
                        border.color: Theme.border
                        clip: true

                        Connections {
                            target: controller

                            function onChanged() {
                                questionCard.refreshWrittenText()
                            }

                            // The time-up and the dialog's submission take the text being typed along.
                            function onSubmissionStarting() {
                                questionCard.handOverFocusedText()
                            }
                        }

                        // Leaving the page or quitting while typing keeps what was typed.
                        Connections {
                            target: page.StackView

                            function onRemoved() {
                                questionCard.handOverFocusedText()
                                questionCard.editingQuestionId = ""
                            }
                        }

                        Connections {
                            target: Qt.application

                            function onAboutToQuit() {
                                questionCard.handOverFocusedText()
                            }
                        }

                        Flickable {
                            id: questionFlick

                            objectName: "questionScroll"
                            anchors.fill: parent
                            anchors.margins: Theme.spacing
                            clip: true
                            contentWidth: width
                            contentHeight: questionMotion.height
                            flickableDirection: Flickable.VerticalFlick
                            boundsBehavior: Flickable.StopAtBounds
                            ScrollBar.vertical: QuorinScrollBar {}

                            Item {
                                id: questionMotion

                                objectName: "questionMotion"
                                width: questionFlick.width
                                height: questionColumn.height + Theme.spacing

                                // A click on the card beside the field ends the typing, so the answer
                                // is stored and its grade buttons appear without leaving the question.
                                MouseArea {
                                    objectName: "questionBackground"
                                    width: parent.width
                                    height: Math.max(parent.height, questionFlick.height)
                                    onPressed: mouse => {
                                        page.forceActiveFocus()
                                        mouse.accepted = false
                                    }
                                }

                                Column {
                                    id: questionColumn

                                    objectName: "questionColumn"
                                    width: Math.min(780, parent.width)
                                    x: (parent.width - width) / 2
                                    spacing: Theme.spacing

                                    Label {
                                        objectName: "questionText"
                                        width: parent.width
                                        text: questionCard.question && questionCard.question.text
                                              ? String(questionCard.question.text) : ""
                                        textFormat: Text.PlainText
                                        wrapMode: Text.WordWrap
                                        color: Theme.text
                                        font.pixelSize: 20
                                        font.bold: true
                                        Accessible.role: Accessible.Heading
                                        Accessible.name: text
                                    }

                                    Loader {
                                        objectName: "questionImageLoader"
                                        width: parent.width
                                        active: questionCard.question !== null && !!questionCard.question.imageUrl
                                                && String(questionCard.question.imageUrl).length > 0
                                        visible: active

                                        sourceComponent: Image {
                                            objectName: "questionImage"
                                            width: parent ? parent.width : 0
                                            height: implicitWidth > 0 ? Math.min(320, width * implicitHeight
                                                                                 / implicitWidth) : 0
                                            source: questionCard.question ? questionCard.question.imageUrl : ""
                                            asynchronous: true
                                            fillMode: Image.PreserveAspectFit
                                            Accessible.role: Accessible.Graphic
                                            Accessible.name: qsTr("Question image")
                                        }
                                    }

                                    Column {
                                        objectName: "answerOptions"
                                        width: parent.width
                                        spacing: Theme.smallSpacing
                                        visible: questionCard.multipleChoice

                                        Repeater {
                                            model: questionCard.multipleChoice && questionCard.question.options
                                                   ? questionCard.question.options : []

                                            AnswerRow {}
                                        }
                                    }

                                    Flickable {
                                        id: writtenScroll

                                        objectName: "writtenAnswerScroll"
                                        visible: questionCard.written
                                        width: parent.width
                                        height: 180
                                        clip: true
                                        boundsBehavior: Flickable.StopAtBounds
                                        ScrollBar.vertical: QuorinScrollBar {}
                                        onVisibleChanged: questionCard.refreshWrittenText()

                                        TextArea.flickable: Basic.TextArea {
                                            id: writtenAnswer

                                            objectName: "writtenAnswer"
                                            enabled: controller.canEdit
                                            padding: 14
                                            color: Theme.text
                                            selectionColor: Theme.primary
                                            selectedTextColor: Theme.accentForeground
                                            placeholderText: qsTr("Write your answer here")
                                            placeholderTextColor: Theme.textMuted
                                            textFormat: TextEdit.PlainText
                                            wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
                                            selectByMouse: true
                                            Accessible.name: placeholderText

                                            onActiveFocusChanged: {
                                                if (activeFocus) {
                                                    questionCard.editingQuestionId = questionCard.questionId
                                                    return
                                                }
                                                // The question that was current while typing keeps the text,
                                                // whatever took the focus.
                                                const id = questionCard.editingQuestionId
                                                const typed = text
                                                questionCard.editingQuestionId = ""
                                                if (!enabled) {
                                                    // Editing just ended under the field: the controller keeps the
                                                    // text as a draft once that change has settled, and the field
                                                    // shows it meanwhile.
                                                    questionCard.handingOver = true
                                                    Qt.callLater(() => {
                                                        questionCard.handingOver = false
                                                        questionCard.handOverWrittenText(id, typed)
                                                        questionCard.refreshWrittenText()
                                                    })
                                                    return
                                                }
                                                questionCard.handOverWrittenText(id, typed)
                                                questionCard.refreshWrittenText()
                                            }

                                            background: Rectangle {
                                                color: Theme.background
                                                radius: Theme.radius
                                                border.width: writtenAnswer.activeFocus ? 2 : 1
                                                border.color: writtenAnswer.activeFocus ? Theme.primary : Theme.border
                                            }
                                        }
                                    }

                                    Column {
                                        id: selfGradeBlock

                                        readonly property var grade: page.questionLookup.selfGrades[questionCard.questionId]

                                        objectName: "selfGradeBlock"
                                        width: parent.width
                                        spacing: Theme.smallSpacing
                                        visible: controller.quizType === "ORDINARY" && questionCard.written
                                                 && page.hasAnswer(questionCard.questionId)

                                        Label {
                                            objectName: "modelAnswerText"
                                            width: parent.width
                                            visible: text.length > 0
                                            text: questionCard.question && questionCard.question.modelAnswer
                                                  ? qsTr("Model answer: %1").arg(String(questionCard.question.modelAnswer))
                                                  : ""
                                            textFormat: Text.PlainText
                                            wrapMode: Text.WordWrap
                                            color: Theme.textSecondary
                                        }

                                        Label {
                                            objectName: "selfGradeQuestion"
                                            width: parent.width
                                            text: qsTr("How would you grade your answer?")
                                            wrapMode: Text.WordWrap
                                            color: Theme.text
                                            font.bold: true
                                        }

                                        Row {
                                            spacing: Theme.smallSpacing

                                            QuorinButton {
                                                objectName: "selfGradeCorrectButton"
                                                text: qsTr("Correct")
                                                buttonColor: Theme.success
                                                isOutline: selfGradeBlock.grade !== true
                                                enabled: controller.canEdit
                                                onClicked: controller.setSelfGrade(questionCard.questionId, true)
                                            }

                                            QuorinButton {
                                                objectName: "selfGradeIncorrectButton"
                                                text: qsTr("Incorrect")
                                                buttonColor: Theme.error
                                                isOutline: selfGradeBlock.grade !== false
                                                enabled: controller.canEdit
                                                onClicked: controller.setSelfGrade(questionCard.questionId, false)
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }

                    Rectangle {
                        id: compactQuestionFilters

                        objectName: "compactQuestionFilters"
                        visible: !page.wideNavigation
                        Layout.fillWidth: true
                        // Sized by the width rule, not by `visible`: that one also turns false while the
                        // working area is hidden, and the column kept the 0 it read then once a notice
                        // appeared, so the bars ran into the action bar.
                        Layout.preferredHeight: page.wideNavigation ? 0 : 86
                        radius: Theme.radius
                        color: Theme.surface
                        border.width: 1
                        border.color: Theme.border

                        ColumnLayout {
                            anchors.fill: parent
                            anchors.margins: Theme.smallSpacing
                            spacing: 4

                            FilterHeading {
                                Layout.fillWidth: true
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: Theme.smallSpacing

                                Repeater {
                                    model: workingArea.filterValues

                                    QuestionFilterPill {
                                        required property string modelData

                                        objectName: "compactQuestionFilter-" + modelData
                                        Layout.fillWidth: true
                                        Layout.preferredWidth: 1
                                        filterValue: modelData
                                        count: workingArea.filterCount(modelData)
                                        radioGroup: compactFilterButtonGroup
                                    }
                                }
                            }
                        }
                    }

                    Rectangle {
                        id: compactQuestionNavigator

                        objectName: "compactQuestionNavigator"
                        visible: !page.wideNavigation
                        Layout.fillWidth: true
                        Layout.preferredHeight: page.wideNavigation ? 0 : 60
                        radius: Theme.radius
                        color: Theme.surface
                        border.width: 1
                        border.color: Theme.border

                        ListView {
                            id: compactQuestionList

                            objectName: "compactQuestionList"
                            anchors.fill: parent
                            anchors.margins: Theme.smallSpacing
                            orientation: ListView.Horizontal
                            // Its own flow: question 1 stands at the reading start in either direction.
                            LayoutMirroring.enabled: false
                            layoutDirection: page.rightToLeft ? Qt.RightToLeft : Qt.LeftToRight
                            clip: true
                            spacing: Theme.smallSpacing
                            highlightFollowsCurrentItem: false
                            model: page.filteredQuestionIndexes
                            ScrollBar.horizontal: QuorinScrollBar {}
                            onWidthChanged: {
                                if (visible && width > 0)
                                    page.followCurrentQuestion()
                            }
                            delegate: QuestionTile {
                                compact: true
                                activeNavigator: !page.wideNavigation
                            }
                        }
                    }

                    GridLayout {
                        id: quizBottomBar

                        readonly property bool hasQuestion: questionCard.questionId.length > 0
                        // The width the bar gets, read from the working area so that it does not
                        // depend on the bar's own layout.
                        readonly property real availableWidth: workingArea.width
                                                               - (page.wideNavigation ? 220 + workingArea.spacing : 0)
                        // The spacer's own gap may go into the page's margin.
                        readonly property real oneRowWidth: discussButton.implicitWidth + markButton.implicitWidth
                                                            + 2 * 116 + Theme.smallSpacing
                                                            + submitButton.implicitWidth + 3 * columnSpacing
                        // Two rows below 760, and also where one row would run past the column's edge
                        // (beside the sidebar just above 850).
                        readonly property bool twoRows: page.compactActionLayout || oneRowWidth > availableWidth
                        readonly property bool marked: hasQuestion && page.isMarked(questionCard.questionId)
                        readonly property string iconFolder: "qrc:/qt/qml/Quorin/assets/icons/"
                        // Each arrow points to where its question lies in the navigator on screen.
                        readonly property string previousIcon: iconFolder + (page.wideNavigation
                                                                             ? "arrow-up.svg"
                                                                             : page.compactFlowRightToLeft
                                                                               ? "arrow-forward.svg" : "arrow-back.svg")
                        readonly property string nextIcon: iconFolder + (page.wideNavigation
                                                                         ? "arrow-down.svg"
                                                                         : page.compactFlowRightToLeft
                                                                           ? "arrow-back.svg" : "arrow-forward.svg")

                        objectName: "quizBottomBar"
                        Layout.fillWidth: true
                        Layout.preferredHeight: twoRows ? 104 : 52
                        columns: twoRows ? 2 : 5
                        rowSpacing: Theme.smallSpacing
                        columnSpacing: Theme.smallSpacing

                        QuorinButton {
                            id: discussButton

                            objectName: "discussQuestionButton"
                            Layout.fillWidth: quizBottomBar.twoRows
                            text: qsTr("Discuss with AI")
                            isOutline: true
                            enabled: quizBottomBar.hasQuestion
                            onClicked: controller.discussCurrentQuestion()
                        }

                        QuorinButton {
                            id: markButton

                            objectName: "markQuestionButton"
                            Layout.fillWidth: quizBottomBar.twoRows
                            text: qsTr("Mark")
                            compact: true
                            buttonColor: Theme.warning
                            isOutline: !quizBottomBar.marked
                            iconSource: page.markIconSource
                            enabled: quizBottomBar.hasQuestion
                            onClicked: controller.toggleMarked(questionCard.questionId)
                        }

                        Item {
                            objectName: "quizBottomBarSpacer"
                            visible: !quizBottomBar.twoRows
                            Layout.fillWidth: true
                            Layout.preferredHeight: 1
                        }

                        Item {
                            id: previousNextGroup

                            readonly property real slotWidth: quizBottomBar.twoRows
                                                              ? Math.max(0, (width - Theme.smallSpacing) / 2) : 116

                            objectName: "quizPreviousNextGroup"
                            Layout.fillWidth: quizBottomBar.twoRows
                            Layout.preferredWidth: 2 * 116 + Theme.smallSpacing
                            Layout.preferredHeight: 48

                            Row {
                                anchors.fill: parent
                                // The pair keeps its own order, Previous at the reading start.
                                LayoutMirroring.enabled: false
                                layoutDirection: page.rightToLeft ? Qt.RightToLeft : Qt.LeftToRight
                                spacing: Theme.smallSpacing

                                Item {
                                    objectName: "previousQuestionSlot"
                                    width: previousNextGroup.slotWidth
                                    height: 48

                                    QuorinButton {
                                        objectName: "previousQuestionButton"
                                        anchors.fill: parent
                                        text: qsTr("Previous")
                                        isOutline: true
                                        visible: page.previousQuestionIndex >= 0
                                        iconSource: quizBottomBar.previousIcon
                                        onClicked: page.navigateTo(page.previousQuestionIndex)
                                    }
                                }

                                Item {
                                    objectName: "nextQuestionSlot"
                                    width: previousNextGroup.slotWidth
                                    height: 48

                                    QuorinButton {
                                        objectName: "nextQuestionButton"
                                        anchors.fill: parent
                                        text: qsTr("Next")
                                        isOutline: true
                                        visible: page.nextQuestionIndex >= 0
                                        iconSource: quizBottomBar.nextIcon
                                        onClicked: page.navigateTo(page.nextQuestionIndex)
                                    }
                                }
                            }
                        }

                        QuorinButton {
                            id: submitButton

                            objectName: "submitQuizButton"
                            Layout.fillWidth: quizBottomBar.twoRows
                            text: controller.syncing ? qsTr("Saving…") : qsTr("Submit quiz")
                            enabled: controller.online && !controller.syncing
                            onClicked: submitDialog.open()
                        }
                    }
                }
            }

            Item {
                id: readyArea

                anchors.fill: parent
                visible: controller.state === QuizController.Ready && !controller.startingAttempt

                Column {
                    id: quizReadyPanel

                    objectName: "quizReadyPanel"
                    width: Math.min(620, readyArea.width)
                    anchors.centerIn: parent
                    spacing: Theme.spacing
                    visible: readyArea.visible

                    QuorinElidedLabel {
                        objectName: "quizReadyTitle"
                        width: parent.width
                        text: controller.title.length > 0 ? controller.title : qsTr("Quiz")
                        textFormat: Text.PlainText
                        font.pixelSize: 28
                        font.bold: true
                        color: Theme.text
                        horizontalAlignment: Text.AlignHCenter
                        maximumLineCount: 1
                        elide: Text.ElideRight
                    }

                    Label {
                        objectName: "quizReadyHeading"
                        width: parent.width
                        text: qsTr("Ready to begin?")
                        font.pixelSize: 26
                        font.bold: true
                        color: Theme.text
                        wrapMode: Text.WordWrap
                        horizontalAlignment: Text.AlignHCenter
                        Accessible.role: Accessible.Heading
                    }

                    Label {
                        objectName: "quizQuestionCount"
                        width: parent.width
                        text: qsTr("%1 questions").arg(DisplayFormat.integer(page.questionLookup.questions.length))
                        color: Theme.textSecondary
                        horizontalAlignment: Text.AlignHCenter
                    }

                    Row {
                        anchors.horizontalCenter: parent.horizontalCenter
                        spacing: Theme.smallSpacing

                        MetadataPill {
                            objectName: "quizTypePill"
                            text: page.quizModeText()
                        }

                        MetadataPill {
                            objectName: "quizFormatPill"
                            text: page.overallFormatText()
                        }
                    }

                    Label {
                        objectName: "quizAvailabilityText"
                        width: parent.width
                        visible: text.length > 0
                        text: controller.availabilityMessage
                        textFormat: Text.PlainText
                        color: controller.available ? Theme.textSecondary : Theme.warning
                        wrapMode: Text.WordWrap
                        horizontalAlignment: Text.AlignHCenter
                    }

                    QuorinTextField {
                        objectName: "quizNicknameField"
                        width: parent.width
                        visible: controller.quizType === "TIMED"
                        placeholderText: qsTr("Choose a leaderboard nickname")
                        text: page.nickname
                        onTextEdited: page.nickname = text
                    }

                    GridLayout {
                        objectName: "quizPreferenceGrid"
                        visible: controller.quizType === "ORDINARY"
                        width: page.compactActionLayout ? parent.width : implicitWidth
                        anchors.horizontalCenter: parent.horizontalCenter
                        columns: page.compactActionLayout ? 1 : 2
                        columnSpacing: Theme.spacing
                        rowSpacing: Theme.smallSpacing

                        QuorinCheckBox {
                            objectName: "showImmediateCorrectnessBox"
                            Layout.fillWidth: page.compactActionLayout
                            label: qsTr("Show the correct answer immediately")
                            checked: page.showImmediateCorrectness
                            onToggled: requestedChecked => page.showImmediateCorrectness = requestedChecked
                        }

                        QuorinCheckBox {
                            objectName: "autoAdvanceBox"
                            Layout.fillWidth: page.compactActionLayout
                            label: qsTr("Automatically move to the next question")
                            checked: page.autoAdvance
                            onToggled: requestedChecked => page.autoAdvance = requestedChecked
                        }
                    }

                    QuorinButton {
                        objectName: "startQuizButton"
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: qsTr("Start quiz")
                        enabled: controller.available && !controller.startingAttempt
                        onClicked: {
                            controller.startAttempt(page.nickname)
                            // The page's answer and navigation keys work as soon as the questions show.
                            page.forceActiveFocus()
                        }
                    }

                    Label {
                        objectName: "quizAttemptsText"
                        width: parent.width
                        visible: controller.attempts.length > 0
                        text: qsTr("Previous attempts: %1").arg(DisplayFormat.integer(controller.attempts.length))
                        color: Theme.textSecondary
                        horizontalAlignment: Text.AlignHCenter
                    }
                }
            }

            Rectangle {
                id: quizStartingShimmer

                property real pulseOpacity: 0.46
                readonly property color barColor: Theme.isDark ? Theme.surfaceMuted : Theme.backgroundElevated

                objectName: "quizStartingShimmer"
                anchors.fill: parent
                visible: controller.state === QuizController.Ready && controller.startingAttempt
                color: Theme.surface
                radius: Theme.radius
                border.width: 1
                border.color: Theme.border

                SequentialAnimation on pulseOpacity {
                    running: quizStartingShimmer.visible && !page.reducedMotion
                    loops: Animation.Infinite

                    NumberAnimation {
                        to: 0.78
                        duration: 550
                    }
                    NumberAnimation {
                        to: 0.46
                        duration: 550
                    }
                }

                Column {
                    width: Math.min(720, quizStartingShimmer.width - 64)
                    anchors.centerIn: parent
                    spacing: 18

                    Repeater {
                        model: [{ share: 0.72, height: 26 }, { share: 0.96, height: 58 }, { share: 0.96, height: 58 },
                            { share: 0.82, height: 58 }]

                        Rectangle {
                            required property var modelData
                            required property int index

                            objectName: "quizShimmerBar-" + index
                            // At the reading start: mirrored with the window in right-to-left.
                            anchors.left: parent.left
                            width: parent.width * modelData.share
                            height: modelData.height
                            radius: Theme.radius
                            color: quizStartingShimmer.barColor
                            opacity: quizStartingShimmer.pulseOpacity
                        }
                    }
                }
            }

            Item {
                id: resultsArea

                function statusText() {
                    if (controller.statusMessage.length > 0)
                        return controller.statusMessage
                    if (controller.pendingAnswersCount > 0)
                        return qsTr("%1 answers are awaiting grading.")
                                .arg(DisplayFormat.integer(controller.pendingAnswersCount))
                    if (controller.state === QuizController.Leaderboard)
                        return qsTr("Results and ranking are shown when grading is ready.")
                    const outcome = controller.attemptSubmitted ? qsTr("Your answers were submitted successfully.")
                                                                : qsTr("This attempt ended without a submission.")
                    if (controller.unsentAnswersCount === 0)
                        return outcome
                    return outcome + " " + qsTr("Answers on this computer that never reached the server: %1.")
                                                .arg(DisplayFormat.integer(controller.unsentAnswersCount))
                }

                // One pass over the placeholders, so a nickname holding "%3" stays as it is.
                function leaderboardLine(entry, position) {
                    const rank = Number(entry.rank) > 0 ? entry.rank : position + 1
                    const values = [DisplayFormat.integer(rank),
                                    entry.nickname === undefined || entry.nickname === null ? ""
                                                                                            : String(entry.nickname),
                                    DisplayFormat.integer(entry.score), DisplayFormat.integer(entry.maxScore)]
                    return qsTr("#%1  %2  —  %3/%4").replace(/%([1-4])/g, (match, digit) => values[Number(digit) - 1])
                }

                anchors.fill: parent
                visible: controller.state === QuizController.Result || controller.state === QuizController.Leaderboard

                Column {
                    objectName: "quizResultsPanel"
                    width: Math.min(700, resultsArea.width)
                    anchors.centerIn: parent
                    spacing: Theme.spacing
                    visible: resultsArea.visible

                    Label {
                        objectName: "quizResultsTitle"
                        width: parent.width
                        text: controller.state === QuizController.Leaderboard ? qsTr("Leaderboard")
                                                                               : qsTr("Quiz completed")
                        font.pixelSize: 28
                        font.bold: true
                        color: Theme.text
                        wrapMode: Text.WordWrap
                        horizontalAlignment: Text.AlignHCenter
                        Accessible.role: Accessible.Heading
                    }

                    Label {
                        objectName: "quizResultsStatus"
                        width: parent.width
                        text: resultsArea.statusText()
                        textFormat: Text.PlainText
                        color: Theme.textSecondary
                        wrapMode: Text.WordWrap
                        horizontalAlignment: Text.AlignHCenter
                    }

                    Repeater {
                        model: controller.leaderboard

                        Label {
                            required property var modelData
                            required property int index
                            readonly property var entry: modelData || ({})

                            objectName: "leaderboardRow-" + index
                            width: parent.width
                            text: resultsArea.leaderboardLine(entry, index)
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            color: entry.isCurrentUser === true ? Theme.primary : Theme.text
                            font.bold: entry.isCurrentUser === true
                        }
                    }

                    QuorinButton {
                        objectName: "refreshStatusButton"
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: qsTr("Refresh status")
                        isOutline: true
                        onClicked: controller.retry()
                    }
                }
            }

            Column {
                objectName: "quizSubmittingOverlay"
                anchors.centerIn: parent
                visible: controller.state === QuizController.Submitting
                spacing: Theme.spacing

                QuorinSpinner {
                    objectName: "quizSubmittingSpinner"
                    width: Theme.workspaceSpinnerSize
                    height: Theme.workspaceSpinnerSize
                    anchors.horizontalCenter: parent.horizontalCenter
                    running: controller.state === QuizController.Submitting
                }

                Label {
                    objectName: "quizSubmittingLabel"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: qsTr("Submitting your answers…")
                    color: Theme.textSecondary
                }
            }
        }
    }

    // --- Animations -----------------------------------------------------------------------------

    SequentialAnimation {
        id: questionSwitchAnimation

        readonly property real sideways: page.rightToLeft ? -1 : 1

        ParallelAnimation {
            NumberAnimation {
                target: questionMotion
                property: "opacity"
                to: 0
                duration: Theme.animDurationShort
                easing.type: Easing.InCubic
            }
            NumberAnimation {
                target: questionMotion
                property: "x"
                to: page.wideNavigation ? 0 : -page.questionTransitionDirection * questionSwitchAnimation.sideways * 28
                duration: Theme.animDurationShort
                easing.type: Easing.InCubic
            }
            NumberAnimation {
                target: questionMotion
                property: "y"
                to: page.wideNavigation ? -page.questionTransitionDirection * 24 : 0
                duration: Theme.animDurationShort
                easing.type: Easing.InCubic
            }
        }
        ScriptAction {
            script: {
                page.switchPendingQuestion()
                questionMotion.x = page.wideNavigation ? 0 : page.questionTransitionDirection
                                                         * questionSwitchAnimation.sideways * 28
                questionMotion.y = page.wideNavigation ? page.questionTransitionDirection * 24 : 0
            }
        }
        ParallelAnimation {
            NumberAnimation {
                target: questionMotion
                property: "opacity"
                to: 1
                duration: Theme.animDuration
                easing.type: Easing.OutCubic
            }
            NumberAnimation {
                target: questionMotion
                property: "x"
                to: 0
                duration: Theme.animDuration
                easing.type: Easing.OutCubic
            }
            NumberAnimation {
                target: questionMotion
                property: "y"
                to: 0
                duration: Theme.animDuration
                easing.type: Easing.OutCubic
            }
        }
    }

    NumberAnimation {
        id: verticalNavigatorAnimation

        target: verticalQuestionNavigator
        property: "contentY"
        duration: Theme.animDuration
        easing.type: Easing.OutCubic
    }

    NumberAnimation {
        id: horizontalNavigatorAnimation

        target: compactQuestionList
        property: "contentX"
        duration: Theme.animDuration
        easing.type: Easing.OutCubic
    }

    // --- Dialogs --------------------------------------------------------------------------------

    QuorinDialog {
        id: submitDialog

        objectName: "submitDialog"
        headerText: qsTr("Submit your answers?")
        bodyText: qsTr("%1 unanswered · %2 marked. You cannot change answers after submitting.")
                  .arg(DisplayFormat.integer(page.unansweredCount))
                  .arg(DisplayFormat.integer(page.questionLookup.markedCount))
        auxiliaryText: qsTr("Review questions")
        cancelText: qsTr("Cancel")
        confirmText: qsTr("Submit quiz")
        onAccepted: controller.submit()
        onAuxiliaryRequested: {
            close()
            page.questionFilter = page.unansweredCount > 0 ? "unanswered" : "marked"
            if (page.filteredQuestionIndexes.length > 0)
                page.navigateTo(page.filteredQuestionIndexes[0])
        }
    }

    QuorinShortcutsOverlay {
        id: shortcutsOverlay

        objectName: "quizShortcutsOverlay"
        mediaStyle: false
        shortcutModel: [{
                category: qsTr("Answers"),
                shortcuts: [{ key: qsTr("A–Z or 1–9"), desc: qsTr("Select an answer") },
                    { key: qsTr("Shift + answer"), desc: qsTr("Strike out or restore an answer") },
                    { key: qsTr("Right-click"), desc: qsTr("Strike out or restore an answer") }]
            }, {
                category: qsTr("Navigation"),
                shortcuts: [{ key: page.wideNavigation ? qsTr("Up / Down") : qsTr("Left / Right"),
                        desc: qsTr("Previous or next question") }]
            }]
    }
}
