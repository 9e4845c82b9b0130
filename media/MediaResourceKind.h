#pragma once

// The kind of a media request; it selects the "Accept" header and the transfer time-out.
enum class MediaResourceKind : int {
    Playlist = 0,
    Key = 1,
    Segment = 2,
    ProgressiveStream = 3,
    OfflineDownload = 4,
};
