import QtQuick

// A multiple-choice question with a strike-out and marks.
QuizScene {
    scene: "mcq"
}
