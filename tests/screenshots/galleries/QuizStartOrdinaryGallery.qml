import QtQuick

// The start panel of an ordinary quiz.
QuizScene {
    scene: "startOrdinary"
}
