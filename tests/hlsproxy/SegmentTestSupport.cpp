#include "SegmentTestSupport.h"

#include "ProxyTestSession.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/MediaTransferCoordinator.h"
#include "media/ResourceCache.h"
#include "testsupport/LogRecorder.h"

#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <algorithm>

using quorin::test::LoopbackHttpClient;

QByteArray SegmentTestSupport::sourceBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator *random = QRandomGenerator::global();
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(random->bounded(256));
    return bytes;
}

QByteArray SegmentTestSupport::playerPlaintext(HlsProxyServer *server, const ProxyTestSession &session,
                                               const QByteArray &body)
{
    const QByteArray key = LoopbackHttpClient::fetchPlaybackKey(
        server->port(), session.target(QStringLiteral("/key.bin"), QString()));
    return LoopbackHttpClient::decryptBody(body, key, session.info().playbackIv);
}

LoopbackHttpClient::Answer SegmentTestSupport::fetchSegment(HlsProxyServer *server,
                                                            const ProxyTestSession &session,
                                                            const QString &token,
                                                            const QList<QByteArray> &extraLines)
{
    return LoopbackHttpClient::exchange(
        server->port(),
        LoopbackHttpClient::getHead(session.target(QStringLiteral("/chunk.ts"), token), extraLines));
}

QByteArray SegmentTestSupport::storedCopy(const ProxyTestSession &session, const QString &url)
{
    ResourceCache *cache = ResourceCache::instance();
    const QString key = ResourceCache::vaultKey(session.info().lectureId, url);
    if (!cache->exists(key))
        return {};
    QFile file(cache->getActivePath(key));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool SegmentTestSupport::isCached(const ProxyTestSession &session, const QString &url)
{
    return ResourceCache::instance()->exists(ResourceCache::vaultKey(session.info().lectureId, url));
}

QStringList SegmentTestSupport::stagingFiles()
{
    QStringList found;
    QDirIterator files(ResourceCache::instance()->root(), {QStringLiteral("*.part")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        found.append(files.next());
    return found;
}

int SegmentTestSupport::freePlaybackPermits()
{
    MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
    int granted = 0;
    while (granted <= MediaTransferCoordinator::MaximumTransfers &&
           coordinator->tryAcquire(MediaTransferCoordinator::Priority::Playback))
        ++granted;
    for (int i = 0; i < granted; ++i)
        coordinator->release(MediaTransferCoordinator::Priority::Playback);
    return granted;
}

QStringList SegmentTestSupport::filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator found(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (found.hasNext())
        files.append(found.next());
    return files;
}

bool SegmentTestSupport::warned(const quorin::test::LogRecorder &recorder, const QString &text)
{
    const QList<quorin::test::LogRecorder::Record> records = recorder.inCategory(QStringLiteral("qt"));
    return std::any_of(records.cbegin(), records.cend(),
                       [&](const quorin::test::LogRecorder::Record &record) {
                           return record.level == QLatin1String("warning") &&
                                  record.field(QStringLiteral("message")).contains(text);
                       });
}

quint16 SegmentTestSupport::closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
