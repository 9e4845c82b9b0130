import QtQuick

// The placeholder while the attempt's start is outstanding.
QuizScene {
    scene: "starting"
}
