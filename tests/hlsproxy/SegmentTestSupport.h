#pragma once

#include "testsupport/LoopbackHttpClient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class HlsProxyServer;
class ProxyTestSession;

namespace quorin::test {
class LogRecorder;
}

// What the segment tests of the proxy share: source bytes, the player's view of an answer, and
// what the cache holds afterwards.
class SegmentTestSupport
{
public:
    SegmentTestSupport() = delete;

    // Bytes that differ from any other call's, so that a wrong offset or a stale copy shows.
    [[nodiscard]] static QByteArray sourceBytes(qsizetype size);
    // The player's view: the answer's body decrypted with the key the proxy hands out at
    // "/key.bin" and the session's IV; empty when it does not decrypt.
    [[nodiscard]] static QByteArray playerPlaintext(HlsProxyServer *server, const ProxyTestSession &session,
                                                    const QByteArray &body);
    [[nodiscard]] static quorin::test::LoopbackHttpClient::Answer
    fetchSegment(HlsProxyServer *server, const ProxyTestSession &session, const QString &token,
                 const QList<QByteArray> &extraLines = {});
    // The lecture's cached copy of a URL, as stored (still encrypted at rest); empty when absent.
    [[nodiscard]] static QByteArray storedCopy(const ProxyTestSession &session, const QString &url);
    [[nodiscard]] static bool isCached(const ProxyTestSession &session, const QString &url);
    // Staging files left anywhere under the cache folder.
    [[nodiscard]] static QStringList stagingFiles();
    // How many Playback permits the coordinator grants now (taken and given back at once).
    [[nodiscard]] static int freePlaybackPermits();
    // Every file below a folder, hidden ones included.
    [[nodiscard]] static QStringList filesBelow(const QString &folder);
    // Whether a developer warning containing this text reached the log.
    [[nodiscard]] static bool warned(const quorin::test::LogRecorder &recorder, const QString &text);
    // A port on localhost that nothing listens on.
    [[nodiscard]] static quint16 closedPort();
};
