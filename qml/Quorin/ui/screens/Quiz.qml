import QtQuick
import QtQuick.Controls
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
    readonly property int unansweredCount: Math.max(0, controller.questions.length - controller.answeredCount)
    readonly property var filteredQuestionIndexes: filteredIndexes(controller.questions,
                                                                   controller.currentQuestionIndex,
                                                                   questionFilter, controller.answers,
                                                                   controller.markedQuestionIds)
    readonly property int previousQuestionIndex: neighbourIndex(filteredQuestionIndexes, -1)
    readonly property int nextQuestionIndex: neighbourIndex(filteredQuestionIndexes, 1)

    objectName: "quizPage"
    color: Theme.background
    focus: true

    // --- Query functions ---------------------------------------------------------------------

    function questionById(id) {
        const questions = controller.questions
        for (let i = 0; i < questions.length; ++i) {
            if (questions[i] && questions[i].id === id)
                return questions[i]
        }
        return null
    }

    function hasAnswer(id) {
        const answers = controller.answers
        if (!answers || !Object.prototype.hasOwnProperty.call(answers, id))
            return false
        const answer = answers[id]
        if (answer === null || answer === undefined)
            return false
        const question = questionById(id)
        if (question && question.type === "WRITTEN")
            return String(answer).trim().length > 0
        return true
    }

    function answerFor(id) {
        return hasAnswer(id) ? controller.answers[id] : null
    }

    function isMarked(id) {
        return controller.markedQuestionIds.indexOf(id) >= 0
    }

    function isEliminated(id, index) {
        const entry = controller.eliminatedOptions[id]
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
        const questions = controller.questions
        let written = 0
        for (let i = 0; i < questions.length; ++i) {
            if (questions[i] && questions[i].type === "WRITTEN")
                ++written
        }
        if (written > 0 && written < questions.length)
            return qsTr("Mixed")
        if (questions.length > 0 && written === questions.length)
            return qsTr("Written")
        return qsTr("MCQ")
    }

    function currentQuestionRecord() {
        const question = controller.currentQuestion
        return question && question.id !== undefined ? question : null
    }

    function questionLocked() {
        const question = currentQuestionRecord()
        return controller.quizType === "ORDINARY" && showImmediateCorrectness && question !== null
                && question.type === "MCQ" && hasAnswer(question.id)
    }

    function hasSelfGrade(id) {
        const grade = controller.selfGrades[id]
        return grade !== undefined && grade !== null
    }

    function correctnessAvailable(question) {
        if (!question || !hasAnswer(question.id))
            return false
        if (question.type === "WRITTEN")
            return hasSelfGrade(question.id)
        return controller.quizType === "ORDINARY" && showImmediateCorrectness
                && Number(question.correctOptionIndex) >= 0
    }

    function questionResultState(question) {
        if (!question || !hasAnswer(question.id))
            return "unanswered"
        if (!correctnessAvailable(question))
            return "answered"
        if (question.type === "WRITTEN")
            return controller.selfGrades[question.id] === true ? "correct" : "incorrect"
        return Number(controller.answers[question.id]) === Number(question.correctOptionIndex) ? "correct"
                                                                                                : "incorrect"
    }

    function questionAccessibleDescription(questionIndex) {
        const questions = controller.questions
        const question = questionIndex >= 0 && questionIndex < questions.length ? questions[questionIndex] : null
        const id = question ? question.id : undefined
        const states = []
        if (questionIndex === controller.currentQuestionIndex)
            states.push(qsTr("Current"))
        if (id !== undefined && isMarked(id))
            states.push(qsTr("Marked"))
        const result = questionResultState(question)
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

    function filteredIndexes(questions, current, filter, answers, marked) {
        const result = []
        for (let i = 0; i < questions.length; ++i) {
            const id = questions[i] ? questions[i].id : undefined
            if (i !== current && ((filter === "unanswered" && hasAnswer(id))
                                  || (filter === "marked" && marked.indexOf(id) < 0)))
                continue
            result.push(i)
        }
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
        if (index < 0 || index >= controller.questions.length || index === controller.currentQuestionIndex)
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

        quizId: page.quizId
        onFeedback: (message, severity) => Snackbar.show(message, severity)
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
        readonly property var questionData: modelData >= 0 && modelData < controller.questions.length
                                            ? controller.questions[modelData] : ({})
        readonly property bool current: modelData === controller.currentQuestionIndex
        readonly property bool answered: page.hasAnswer(questionData.id)
        readonly property bool marked: page.isMarked(questionData.id)
        readonly property bool previewEnabled: !compact
        readonly property string resultState: page.questionResultState(questionData.id !== undefined ? questionData
                                                                                                     : null)
        readonly property int contentLayoutDirection: page.rightToLeft ? Qt.RightToLeft : Qt.LeftToRight

        objectName: "questionNavigatorRow-" + modelData
        implicitWidth: compact ? 60 : 180
        implicitHeight: compact ? 44 : 48
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
                              .arg(DisplayFormat.integer(controller.questions.length))
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
                                                                   : reviewingCurrent ? qsTr("Keep this answer") : ""
            onActionTriggered: {
                if (controller.state === QuizController.Failed)
                    controller.retry()
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

            // The working area; the navigator, question card and action bar replace its content.
            Item {
                id: workingArea

                objectName: "quizWorkingArea"
                anchors.fill: parent
                visible: page.activePresentation

                ListView {
                    id: verticalQuestionNavigator

                    objectName: "verticalQuestionNavigator"
                    visible: page.wideNavigation
                    width: visible ? 220 : 0
                    height: parent.height
                    clip: true
                    spacing: 4
                    model: page.filteredQuestionIndexes
                    delegate: QuestionTile {
                        width: ListView.view.width
                        activeNavigator: page.wideNavigation
                    }
                }

                ListView {
                    id: compactQuestionList

                    objectName: "compactQuestionList"
                    visible: !page.wideNavigation
                    orientation: ListView.Horizontal
                    width: parent.width
                    height: visible ? 44 : 0
                    anchors.bottom: parent.bottom
                    clip: true
                    spacing: 4
                    model: page.filteredQuestionIndexes
                    delegate: QuestionTile {
                        compact: true
                        activeNavigator: !page.wideNavigation
                    }
                }

                Flickable {
                    id: questionFlick

                    objectName: "questionFlick"
                    x: page.wideNavigation ? verticalQuestionNavigator.width + Theme.spacing : 0
                    width: parent.width - x
                    height: parent.height - (page.wideNavigation ? 0 : compactQuestionList.height + Theme.smallSpacing)
                    clip: true
                    contentWidth: width
                    contentHeight: questionMotion.implicitHeight
                    boundsBehavior: Flickable.StopAtBounds

                    Item {
                        id: questionMotion

                        objectName: "questionMotion"
                        width: questionFlick.width
                        implicitHeight: questionText.implicitHeight + 2 * Theme.spacing

                        Label {
                            id: questionText

                            objectName: "questionTextPlaceholder"
                            x: Theme.spacing
                            y: Theme.spacing
                            width: parent.width - 2 * Theme.spacing
                            text: page.currentQuestionRecord() ? (page.currentQuestionRecord().text || "") : ""
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            color: Theme.text
                            font.pixelSize: 16
                        }
                    }
                }
            }

            // The start panel replaces this.
            Item {
                objectName: "quizReadyPanel"
                anchors.fill: parent
                visible: controller.state === QuizController.Ready

                QuorinButton {
                    objectName: "startQuizButton"
                    anchors.centerIn: parent
                    text: qsTr("Start quiz")
                    isLoading: controller.startingAttempt
                    enabled: !controller.startingAttempt
                    onClicked: controller.startAttempt(page.nickname)
                }
            }

            // The results panel replaces this.
            Item {
                objectName: "quizResultsPanel"
                anchors.fill: parent
                visible: controller.state === QuizController.Result || controller.state === QuizController.Leaderboard
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
                  .arg(DisplayFormat.integer(controller.markedQuestionIds.length))
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
