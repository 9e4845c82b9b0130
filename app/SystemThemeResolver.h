#pragma once

#include <QString>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <Qt>
#endif

// Decides whether the interface draws dark, from the user's theme mode and what the platform
// says about its own appearance. Stateless.
class SystemThemeResolver
{
public:
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    using ColorScheme = Qt::ColorScheme;
#else
    // The platform's colour scheme, with the values Qt gives it from 6.5 on.
    enum class ColorScheme { Unknown = 0, Light = 1, Dark = 2 };
#endif

    // Platforms before Qt 6.5 report no scheme of their own: the palette's window colour
    // stands in for it.
    [[nodiscard]] static ColorScheme schemeFromWindowLightness(double lightness);

    // mode: "dark", "light" or anything else (follow the platform), compared ignoring case.
    // appearanceHint: 1 dark, 2 light, anything else none. windowLightness: 0 to 1.
    [[nodiscard]] static bool effectiveDark(const QString &mode, ColorScheme scheme, int appearanceHint,
                                            double windowLightness);
};
