import QtQuick

// The results panel with the leaderboard.
QuizScene {
    scene: "results"
}
