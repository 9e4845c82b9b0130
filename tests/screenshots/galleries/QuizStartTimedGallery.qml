import QtQuick

// The start panel of a timed quiz with a nickname typed.
QuizScene {
    scene: "startTimed"
}
