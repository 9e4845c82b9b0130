import QtQuick

// A question with a picture.
QuizScene {
    scene: "image"
}
