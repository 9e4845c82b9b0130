#pragma once

#include <QString>

namespace quorin::test {

// The user's downloads folder as the diagnostic bundle finds it, and a way to make it unusable.
class DownloadsFolder
{
public:
    [[nodiscard]] static QString path();
    // Removes the folder and puts a plain file in its place, so nothing can be saved there.
    [[nodiscard]] static bool block();
    // Takes the file away again.
    [[nodiscard]] static bool unblock();
};

} // namespace quorin::test
