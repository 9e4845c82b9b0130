// Feeds arbitrary bytes to the playlist parser and aborts when a promise of its result breaks.
#include "media/HlsManifest.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool isMediaSegment(const HlsResource &resource)
{
    return resource.type == HlsResource::Type::Segment;
}

void checkResources(const QList<HlsResource> &resources)
{
    qint64 previousStartMs = 0;
    for (const HlsResource &resource : resources) {
        if (resource.type == HlsResource::Type::Key) {
            require(resource.iv.isEmpty());
            continue;
        }
        require(resource.iv.size() == 16);
        require(resource.durationMs >= 0);
        if (isMediaSegment(resource)) {
            require(resource.startMs >= previousStartMs);
            previousStartMs = resource.startMs;
        }
    }
}

void checkResult(const HlsManifest::Result &result)
{
    require(result.valid == result.error.isEmpty());
    checkResources(result.resources);
    if (result.valid && result.master)
        require(!result.variants.isEmpty());
    if (result.valid && !result.master)
        require(std::any_of(result.resources.cbegin(), result.resources.cend(), isMediaSegment));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QUrl base(QStringLiteral("https://cdn.example/v/720/index.m3u8"));
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkResult(HlsManifest::parse(bytes, base));
    return 0;
}
