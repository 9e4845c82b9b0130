#pragma once

#include <QtGlobal>

namespace quorin {

// A progress fraction as views show it: within 0 to 1 whatever the caller or the store holds.
// A NaN fallback from QML comes out as 0, never as NaN.
[[nodiscard]] inline double clampedFraction(double value)
{
    return qBound(0.0, value, 1.0);
}

} // namespace quorin
