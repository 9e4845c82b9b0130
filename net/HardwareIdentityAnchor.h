#pragma once

#include <QString>

// A machine identifier as the platform reports it, and where it came from. An empty value with
// the source "unavailable" means the machine gave nothing usable.
struct HardwareIdentityAnchor
{
    QString value;
    QString source;
};
