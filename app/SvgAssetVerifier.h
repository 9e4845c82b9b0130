#pragma once

#include <QString>

// Checks that every SVG picture under a folder decodes, so a build whose SVG support or assets
// are broken fails before it ships. Reports through Qt's message output only.
class SvgAssetVerifier
{
public:
    static constexpr int kPassed = 0;
    static constexpr int kFailed = 2;

    // Walks the folder and its sub-folders for "*.svg" files and decodes each. Returns kPassed
    // when at least one was found and all decode; kFailed at the first that does not, or when
    // there is none.
    [[nodiscard]] static int verify(const QString &folder);
};
