#pragma once

#include <QObject>

// One course and its sections, for the course page; each page makes its own. Until the courses
// work lands it is an empty object that QML can create.
class CourseController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "CourseController")

public:
    explicit CourseController(QObject *parent = nullptr);
};
