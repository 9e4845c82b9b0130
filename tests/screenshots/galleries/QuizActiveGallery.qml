import QtQuick

// An ordinary quiz being taken.
QuizScene {
    scene: "active"
}
