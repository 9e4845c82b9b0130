#pragma once

#include <QObject>

// Edits the signed-in user's profile for the profile settings page; each page makes its own.
// Until the profile work lands it is an empty object that QML can create.
class ProfileController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ProfileController")

public:
    explicit ProfileController(QObject *parent = nullptr);
};
