#pragma once

#include "hlsproxy/SessionInfo.h"
#include "net/MediaAuthSnapshot.h"

#include <QString>
#include <QUrl>

class HlsProxyServer;

namespace quorin::test {
class InMemoryKeychain;
}

// A playback session registered with a proxy server the way playback control registers one when
// it attaches an HLS stream: a random 16-byte playback key and IV, a random 32-byte session id in
// unpadded base64url, the lecture's master IV from the vault, the credentials of a sign-in
// snapshot, and a token for the top playlist that the player receives inside a loopback URL. The
// proxy's tests use it in place of the stream controller.
class ProxyTestSession
{
public:
    // Prepared: the vault is made ready first, once per process, through an in-memory keychain.
    // LeftAlone: the vault is never started, as in a process whose keychain has not answered yet;
    // the session then carries the master IV of a vault without a key (16 zero bytes).
    enum class Vault { Prepared, LeftAlone };

    // Check isRegistered() before using the session.
    ProxyTestSession(HlsProxyServer *server, const QString &playlistUrl,
                     const QString &lectureId = QStringLiteral("lecture-1"), quint64 generation = 1,
                     const MediaAuthSnapshot &authentication = defaultAuthentication(),
                     Vault vault = Vault::Prepared);
    // Unregisters the session unless a test did already.
    ~ProxyTestSession();
    ProxyTestSession(const ProxyTestSession &) = delete;
    ProxyTestSession &operator=(const ProxyTestSession &) = delete;

    // The sign-in the sessions carry unless a test gives another.
    [[nodiscard]] static MediaAuthSnapshot defaultAuthentication();
    // The device key loaded through an in-memory keychain that stays installed for the process.
    [[nodiscard]] static bool prepareVault();
    // That keychain; a test that changes the device key starts the vault again itself.
    [[nodiscard]] static quorin::test::InMemoryKeychain *keychain();
    // Starts the vault again with the keychain refusing to be read: the vault fails and drops its
    // key, as when the keychain locks while the process runs. True when it failed.
    [[nodiscard]] static bool failVault();
    // Starts it again with the keychain answering: the key the keychain holds is loaded.
    [[nodiscard]] static bool restoreVault();

    // The vault was ready and both the session and its playlist token were registered.
    [[nodiscard]] bool isRegistered() const { return !m_playlistToken.isEmpty(); }
    [[nodiscard]] QString sessionId() const { return m_sessionId; }
    // The record as handed to the server, registration time 0.
    [[nodiscard]] const SessionInfo &info() const { return m_info; }
    [[nodiscard]] QString playlistToken() const { return m_playlistToken; }
    // What the player is given: "http://127.0.0.1:<port>/playlist.m3u8?token=…&session=…&generation=…".
    [[nodiscard]] QUrl loopbackUrl() const;

    // What a playlist says of one segment. The defaults: a clear media segment from 0 to 2000 ms.
    struct Segment
    {
        QString byteRange;
        QString keyUrl;                // AES-128 key of the upstream segment; empty: clear
        QByteArray sourceIv{16, '\0'}; // its IV
        qint64 startMs = 0;            // -1 with duration 0: an initialisation section
        qint64 durationMs = 2000;
    };

    // Registers a timed segment of this session as playlist rewriting would (the session's key
    // and IV, a source IV, rendition "rendition-1", 0 to 2000 ms) and returns its token.
    [[nodiscard]] QString registerSegment(const QString &url, const QString &byteRange = QString()) const;
    [[nodiscard]] QString registerSegment(const QString &url, const Segment &segment) const;
    // "/<path>?token=…&session=…&generation=…" with this session's id and generation.
    [[nodiscard]] QString target(const QString &path, const QString &token) const;

    // Puts bytes into the process-wide cache under a key, as a complete temporary copy.
    [[nodiscard]] static bool placeInCache(const QString &key, const QByteArray &bytes);
    // Caches plaintext of this session's lecture the way the proxy does: encrypted at rest under
    // the item IV, named by the lecture and URL.
    [[nodiscard]] bool cacheAsTheProxyWould(const QString &url, const QByteArray &plaintext) const;

    void unregister(const QString &reason = QStringLiteral("test_end"));

private:
    HlsProxyServer *m_server;
    QString m_sessionId;
    SessionInfo m_info;
    QString m_playlistToken;
    bool m_unregistered = false;
};
