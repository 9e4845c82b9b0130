#pragma once

#include <functional>

namespace quorin {

// How the REST client starts the offline vault without reaching up into the media layer that
// holds it: start-up (and a test's set-up) installs the vault's initialisation here before the
// first NetworkManager is made, and every manager runs it on the global thread pool when it is
// constructed. With nothing installed, no vault is started.
class VaultStartHook
{
public:
    using Start = std::function<void()>;

    // An empty function removes the hook. Callable from any thread.
    static void install(Start start);
    [[nodiscard]] static Start installed();
};

} // namespace quorin
