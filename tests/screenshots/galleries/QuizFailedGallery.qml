import QtQuick

// An unknown quiz: the page offers Retry.
QuizScene {
    scene: "failed"
}
