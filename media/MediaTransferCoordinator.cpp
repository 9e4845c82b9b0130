#include "media/MediaTransferCoordinator.h"

MediaTransferCoordinator *MediaTransferCoordinator::instance()
{
    static MediaTransferCoordinator coordinator;
    return &coordinator;
}

bool MediaTransferCoordinator::tryAcquire(Priority priority)
{
    if (!known(priority))
        return false;
    const std::lock_guard lock(m_mutex);
    const qint32 playback = m_active[int(Priority::Playback)];
    const qint32 prefetch = m_active[int(Priority::Prefetch)];
    const qint32 offline = m_active[int(Priority::OfflineDownload)];
    const qint32 total = playback + prefetch + offline;

    bool granted = false;
    switch (priority) {
    case Priority::Playback:
        granted = total < MaximumTransfers;
        break;
    case Priority::Prefetch:
        granted =
            !m_playbackBuffering && playback == 0 && prefetch == 0 && offline <= MaximumOfflineForPrefetch;
        break;
    case Priority::OfflineDownload:
        granted = !m_playbackBuffering && total < MaximumTransfersForOfflineStart;
        break;
    }
    if (granted)
        ++m_active[int(priority)];
    return granted;
}

void MediaTransferCoordinator::release(Priority priority)
{
    if (!known(priority))
        return;
    const std::lock_guard lock(m_mutex);
    qint32 &active = m_active[int(priority)];
    if (active > 0)
        --active;
}

void MediaTransferCoordinator::setPlaybackBuffering(bool buffering)
{
    const std::lock_guard lock(m_mutex);
    m_playbackBuffering = buffering;
}

bool MediaTransferCoordinator::known(Priority priority)
{
    return priority == Priority::Playback || priority == Priority::Prefetch ||
           priority == Priority::OfflineDownload;
}
