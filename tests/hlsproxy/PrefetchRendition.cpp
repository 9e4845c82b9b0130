#include "PrefetchRendition.h"

#include "ProxyTestSession.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/MediaFixtures.h"

using quorin::test::FixtureServer;
using quorin::test::MediaFixtures;

namespace {

// ffmpeg made three segments of each kind; longer renditions repeat them.
constexpr int FixtureSegments = 3;

QString fixtureSegment(bool keyed, int index)
{
    return QStringLiteral("%1/segment%2.ts")
        .arg(keyed ? QStringLiteral("aes") : QStringLiteral("clear"))
        .arg(index % FixtureSegments, 3, 10, QLatin1Char('0'));
}

} // namespace

PrefetchRendition::PrefetchRendition(HlsProxyServer *server, const ProxyTestSession &session,
                                     const FixtureServer &origin, const Options &options)
    : m_server(server)
    , m_options(options)
{
    if (options.keyed)
        m_keyUrl = origin.url(QStringLiteral("/%1/key.bin").arg(options.prefix)).toString();
    for (int index = 0; index < options.count; ++index) {
        TokenInfo segment;
        segment.url = origin.url(path(index)).toString();
        segment.lectureId = session.info().lectureId;
        segment.sessionId = session.sessionId();
        segment.generation = session.info().generation;
        segment.playbackKey = session.info().playbackKey;
        segment.playbackIv = session.info().playbackIv;
        segment.cacheIv = CryptoManager::itemIv(session.info().masterIv, segment.url);
        segment.authorization = session.info().authorization;
        segment.acceptLanguage = session.info().acceptLanguage;
        segment.keyUrl = m_keyUrl;
        if (options.keyed)
            segment.keyCacheIv = CryptoManager::itemIv(session.info().masterIv, m_keyUrl);
        segment.sourceIv = options.keyed ? sourceIv() : QByteArray(16, '\0');
        segment.sequence = quint64(index);
        segment.startMs = index * options.durationMs;
        segment.durationMs = options.durationMs;
        segment.renditionId = options.renditionId;
        if (options.adjust)
            options.adjust(segment);
        (void)server->registerToken(segment);
        server->rememberResource(segment);
        m_segments.append(segment);
    }
}

QString PrefetchRendition::path(int index) const
{
    return QStringLiteral("/%1/%2.ts").arg(m_options.prefix).arg(index);
}

QByteArray PrefetchRendition::body(int index) const
{
    return fixtureBody(m_options.keyed, index);
}

void PrefetchRendition::storeSourceKey() const
{
    m_server->storeSourceKey(m_segments.constFirst().sessionId, m_keyUrl, sourceKey());
}

void PrefetchRendition::serveFrom(FixtureServer &origin) const
{
    serveSegments(origin, m_options.prefix, m_options.keyed);
}

void PrefetchRendition::serveSegments(FixtureServer &origin, const QString &prefix, bool keyed)
{
    origin.setPrefixHandler(
        QStringLiteral("/%1/").arg(prefix), [keyed](const FixtureServer::Request &request) {
            const QString name = QString::fromLatin1(request.path).section(QLatin1Char('/'), -1);
            const int index = name.section(QLatin1Char('.'), 0, 0).toInt();
            return FixtureServer::Response(200, fixtureBody(keyed, index), "video/mp2t");
        });
}

QByteArray PrefetchRendition::fixtureBody(bool keyed, int index)
{
    return MediaFixtures::readFile(fixtureSegment(keyed, index));
}

QByteArray PrefetchRendition::sourceKey()
{
    return MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("keyHex"));
}

QByteArray PrefetchRendition::sourceIv()
{
    return MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex"));
}
