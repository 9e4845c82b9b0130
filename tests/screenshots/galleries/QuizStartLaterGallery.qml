import QtQuick

// The start panel of a timed quiz that opens later.
QuizScene {
    scene: "startLater"
}
