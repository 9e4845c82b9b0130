#pragma once

namespace quorin {

// The note, in the preferences store, that a sign-out could not remove the tokens from the
// keychain. While it stands the tokens still stored there belong to a session the user ended:
// start-up must not use them, and tries to remove them again. Each call opens the store afresh
// on the calling thread.
class SignedOutMark
{
public:
    enum class State {
        Absent,
        Stands,
        // The store could not be read: the mark may stand, so nothing may count as signed in.
        Unreadable,
    };

    SignedOutMark() = delete;

    [[nodiscard]] static State read();
    // Sets the mark. True only once a store opened afresh reads it back: Qt 6.4's QSettings can
    // cut its file short on a full disk and still report no error.
    [[nodiscard]] static bool keep();
    // Removes the mark if it stands; true when it is gone, checked the same way.
    [[nodiscard]] static bool clear();
};

} // namespace quorin
