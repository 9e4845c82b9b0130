import QtQuick

// A graded written answer with its model answer.
QuizScene {
    scene: "written"
}
