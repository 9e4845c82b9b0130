// Times ResourceCache::publishTempFile with 1,000 and with 10,000 small temporary copies already
// in the folder, against one listing of that folder with sizes and modification times: the least
// any clean-up that lists the folder can cost. The proxy thread and the prefetch pool publish
// every segment under the cache's one mutex. Target: a publish within 3 times one listing.
#include "media/ResourceCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
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

double medianMicroseconds(std::vector<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return double(nanoseconds[nanoseconds.size() / 2]) / 1000.0;
}

// What the cache must at least do per clean-up: list the folder and read each entry's size and time.
qint64 timeOneListing(const QString &root)
{
    QElapsedTimer timer;
    timer.start();
    qint64 checksum = 0;
    const QFileInfoList entries = QDir(root).entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo &entry : entries)
        checksum += entry.size() + entry.lastModified().toMSecsSinceEpoch();
    const qint64 elapsed = timer.nsecsElapsed();
    if (checksum == 42)
        std::printf("\n");
    return elapsed;
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

    std::vector<qint64> publishes;
    std::vector<qint64> listings;
    int failed = 0;
    for (int round = 0; round < Rounds; ++round) {
        const QString key = url(copies + round);
        const QString staging = cache.getTempPath(key) + QLatin1Char('.') +
                                QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".part");
        if (!writeSparse(staging, SegmentBytes))
            return false;
        QElapsedTimer timer;
        timer.start();
        if (!cache.publishTempFile(key, staging))
            ++failed;
        publishes.push_back(timer.nsecsElapsed());
        listings.push_back(timeOneListing(cache.root()));
    }
    const double publish = medianMicroseconds(publishes);
    const double listing = medianMicroseconds(listings);
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
