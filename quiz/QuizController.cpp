#include "quiz/QuizController.h"

QuizController::QuizController(QObject *parent)
    : QObject(parent)
{
}
