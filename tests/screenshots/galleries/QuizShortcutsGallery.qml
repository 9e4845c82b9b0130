import QtQuick

// The keyboard shortcuts of the quiz page.
QuizScene {
    scene: "sheet"
}
