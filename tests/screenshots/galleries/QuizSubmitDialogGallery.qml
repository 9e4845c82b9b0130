import QtQuick

// The submit confirmation over an ordinary quiz.
QuizScene {
    scene: "submitDialog"
}
