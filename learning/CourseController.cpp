#include "learning/CourseController.h"

CourseController::CourseController(QObject *parent)
    : QObject(parent)
{
}
