#pragma once

#include <QtGlobal>
#include <array>
#include <mutex>

// The one process-wide limit on concurrent media transfers. Segment transfers the player waits
// for come first; prefetches and offline download jobs run only while the player is not
// buffering and few transfers are active. A granted permit covers exactly one transfer and is
// released once, with the same priority, however the transfer ends; a refused caller decides
// itself whether to ask again.
//
// Called from the proxy thread, the global thread pool and the GUI thread. Every operation
// holds the one mutex for its whole run and calls out to nothing while holding it.
class MediaTransferCoordinator
{
public:
    enum class Priority : int {
        Playback = 0,        // a segment transfer the player is waiting for
        Prefetch = 1,        // a prefetch of the proxy
        OfflineDownload = 2, // a segment job of an offline download
    };

    static constexpr int MaximumTransfers = 8;
    // An offline job starts only while fewer transfers than this run.
    static constexpr int MaximumTransfersForOfflineStart = 4;
    // A prefetch starts only while no more offline jobs than this run.
    static constexpr int MaximumOfflineForPrefetch = 3;

    // The process-wide coordinator. Tests construct their own.
    [[nodiscard]] static MediaTransferCoordinator *instance();

    MediaTransferCoordinator() = default;
    MediaTransferCoordinator(const MediaTransferCoordinator &) = delete;
    MediaTransferCoordinator &operator=(const MediaTransferCoordinator &) = delete;

    // True when a permit was granted and counted. A value outside Priority is never granted.
    [[nodiscard]] bool tryAcquire(Priority priority);
    // A release beyond the permits granted leaves the count at 0.
    void release(Priority priority);
    // Affects later requests only; permits already granted stay valid.
    void setPlaybackBuffering(bool buffering);

private:
    [[nodiscard]] static bool known(Priority priority);

    std::mutex m_mutex;
    // Guarded by m_mutex: active permits by priority (never below 0) and the buffering flag.
    std::array<qint32, 3> m_active{};
    bool m_playbackBuffering = false;
};
