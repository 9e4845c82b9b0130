import QtQuick

// A wrong choice with the correct answer shown at once.
QuizScene {
    scene: "reveal"
}
