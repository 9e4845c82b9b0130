// Times ResourceCache::publishTempFile with 1,000 and with 10,000 small temporary copies already
// in the folder, against one listing of that folder with sizes and modification times: the least
// any clean-up that lists the folder can cost. The proxy thread and the prefetch pool publish
// every segment under the cache's one mutex. Target: a publish within 3 times one listing.
#include "bench/BenchTiming.h"
#include "media/ResourceCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Rounds = 41;
constexpr qint64 SegmentBytes = 4096;

QString url(int index)
{
    return QStringLiteral("https://media.example/course/lecture/720p/segment-%1.ts").arg(index);
}

bool writeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

// What the cache must at least do per clean-up: list the folder and read each entry's size and time.
double oneListingMs(const QString &root)
{
    return quorin::bench::elapsedMs([&root] {
        qint64 bytes = 0;
        qint64 newestMs = 0;
        const QFileInfoList entries = QDir(root).entryInfoList(QDir::Files, QDir::NoSort);
        for (const QFileInfo &entry : entries) {
            bytes += entry.size();
            newestMs = std::max(newestMs, entry.lastModified().toMSecsSinceEpoch());
        }
        Q_UNUSED(bytes);
        Q_UNUSED(newestMs);
    });
}

// With a full budget every publish must also sort the copies by age and evict the oldest: the
// steady state of a cache that has reached its limit.
bool run(int copies, bool budgetFull)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return false;
    ResourceCache::Settings settings = ResourceCache::Settings::production();
    settings.root = folder.filePath(QStringLiteral("cache"));
    if (budgetFull)
        settings.temporaryBudgetBytes = copies * SegmentBytes;
    ResourceCache cache(settings);
    for (int index = 0; index < copies; ++index) {
        const QString path = cache.getTempPath(url(index));
        if (!writeSparse(path, SegmentBytes) || !writeSparse(path + QStringLiteral(".complete"), 0))
            return false;
    }

    std::vector<double> publishes;
    std::vector<double> listings;
    int failed = 0;
    for (int round = 0; round < Rounds; ++round) {
        const QString key = url(copies + round);
        const QString staging = cache.getTempPath(key) + QLatin1Char('.') +
                                QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".part");
        if (!writeSparse(staging, SegmentBytes))
            return false;
        publishes.push_back(quorin::bench::elapsedMs([&] {
            if (!cache.publishTempFile(key, staging))
                ++failed;
        }));
        listings.push_back(oneListingMs(cache.root()));
    }
    const double publish = quorin::bench::median(publishes) * 1000.0;
    const double listing = quorin::bench::median(listings) * 1000.0;
    std::printf("%6d copies (%d files)%s: publishTempFile median %9.1f us, one listing median %9.1f us, "
                "ratio %.2f (target <= 3)%s\n",
                copies, int(QDir(cache.root()).count()) - 2, budgetFull ? ", budget full" : "", publish,
                listing, publish / listing,
                failed ? " [some publishes failed: the volume lacks the 1 GiB floor]" : "");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    for (const bool budgetFull : {false, true}) {
        for (const int copies : {1000, 10000}) {
            if (!run(copies, budgetFull)) {
                std::fprintf(stderr, "could not prepare the folder for %d copies\n", copies);
                return 1;
            }
        }
    }
    return 0;
}
