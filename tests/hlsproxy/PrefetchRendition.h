#pragma once

#include "hlsproxy/TokenInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class HlsProxyServer;
class ProxyTestSession;

namespace quorin::test {
class FixtureServer;
}

// A media playlist's segments as playlist rewriting leaves them with the server: one token per
// segment, remembered in sequence order under one rendition. The segments are served by the
// fixture under "/<prefix>/<sequence>.ts"; keyed ones carry a key URL, the fixture's source IV and
// the AES-128 bodies ffmpeg made, clear ones the clear bodies.
class PrefetchRendition
{
public:
    struct Options
    {
        int count = 10;
        qint64 durationMs = 6000;
        bool keyed = false;
        QString prefix = QStringLiteral("seg");
        QString renditionId = QStringLiteral("rendition-1");
        // Called for each token before it is remembered.
        std::function<void(TokenInfo &segment)> adjust;
    };

    PrefetchRendition(HlsProxyServer *server, const ProxyTestSession &session,
                      const quorin::test::FixtureServer &origin, const Options &options);
    PrefetchRendition(HlsProxyServer *server, const ProxyTestSession &session,
                      const quorin::test::FixtureServer &origin)
        : PrefetchRendition(server, session, origin, Options())
    {
    }

    // Clear 6-second segments under their own path prefix.
    [[nodiscard]] static Options named(const QString &prefix, int count)
    {
        Options options;
        options.prefix = prefix;
        options.count = count;
        return options;
    }

    [[nodiscard]] const TokenInfo &segment(int index) const { return m_segments.at(index); }
    [[nodiscard]] QString path(int index) const;
    [[nodiscard]] QString keyUrl() const { return m_keyUrl; }
    // The upstream body of a segment, as the fixture serves it.
    [[nodiscard]] QByteArray body(int index) const;
    // The key the player would have fetched; stored with the server as a key fetch stores it.
    void storeSourceKey() const;
    // Answers every segment path of this rendition with its body.
    void serveFrom(quorin::test::FixtureServer &origin) const;

    // Answers "/<prefix>/<n>.ts" with the fixture's segment n (keyed or clear), repeating them.
    static void serveSegments(quorin::test::FixtureServer &origin, const QString &prefix, bool keyed);
    [[nodiscard]] static QByteArray fixtureBody(bool keyed, int index);
    [[nodiscard]] static QByteArray sourceKey();
    [[nodiscard]] static QByteArray sourceIv();

private:
    HlsProxyServer *m_server;
    Options m_options;
    QList<TokenInfo> m_segments;
    QString m_keyUrl;
};
