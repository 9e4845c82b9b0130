import QtQuick

// The quiz page while its quiz loads.
QuizScene {
    scene: "loading"
}
