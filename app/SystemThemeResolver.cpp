#include "app/SystemThemeResolver.h"

namespace {

constexpr double kDarkBelowLightness = 0.5;

} // namespace

SystemThemeResolver::ColorScheme SystemThemeResolver::schemeFromWindowLightness(double lightness)
{
    return lightness < kDarkBelowLightness ? ColorScheme::Dark : ColorScheme::Light;
}

bool SystemThemeResolver::effectiveDark(const QString &mode, ColorScheme scheme, int appearanceHint,
                                        double windowLightness)
{
    if (mode.compare(QLatin1String("dark"), Qt::CaseInsensitive) == 0)
        return true;
    if (mode.compare(QLatin1String("light"), Qt::CaseInsensitive) == 0)
        return false;
    if (scheme == ColorScheme::Dark)
        return true;
    if (scheme == ColorScheme::Light)
        return false;
    if (appearanceHint == 1)
        return true;
    if (appearanceHint == 2)
        return false;
    return windowLightness < kDarkBelowLightness;
}
