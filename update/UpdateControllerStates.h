#pragma once

#include <QObject>

// The states of the self-update controller, in the one definition QML compares against
// (UpdateController.Required): UpdateController derives from this class, and so does the double
// that stands in for it in tests, so the two cannot drift apart. Nothing but the enumeration.
class UpdateControllerStates : public QObject
{
    Q_OBJECT

public:
    enum State {
        Idle = 0,
        Checking = 1,
        UpToDate = 2,
        Available = 3,
        Downloading = 4,
        Ready = 5,
        OfflineGrace = 6,
        Required = 7,
        Error = 8,
    };
    Q_ENUM(State)

protected:
    using QObject::QObject;
};
