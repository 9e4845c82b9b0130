#pragma once

#include <QObject>

// One quiz attempt, for the quiz page; each page makes its own. Until the quiz work lands it is an
// empty object that QML can create.
class QuizController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "QuizController")

public:
    explicit QuizController(QObject *parent = nullptr);
};
