#pragma once

#include "hlsproxy/SessionInfo.h"
#include "net/MediaAuthSnapshot.h"

#include <QString>
#include <QUrl>

class HlsProxyServer;

// A playback session registered with a proxy server the way playback control registers one when
// it attaches an HLS stream: a random 16-byte playback key and IV, a random 32-byte session id in
// unpadded base64url, the lecture's master IV from the vault, the credentials of a sign-in
// snapshot, and a token for the top playlist that the player receives inside a loopback URL. The
// proxy's tests use it in place of the stream controller.
class ProxyTestSession
{
public:
    // The vault is made ready first, once per process, through an in-memory keychain. Check
    // isRegistered() before using the session.
    ProxyTestSession(HlsProxyServer *server, const QString &playlistUrl,
                     const QString &lectureId = QStringLiteral("lecture-1"), quint64 generation = 1,
                     const MediaAuthSnapshot &authentication = defaultAuthentication());
    // Unregisters the session unless a test did already.
    ~ProxyTestSession();
    ProxyTestSession(const ProxyTestSession &) = delete;
    ProxyTestSession &operator=(const ProxyTestSession &) = delete;

    // The sign-in the sessions carry unless a test gives another.
    [[nodiscard]] static MediaAuthSnapshot defaultAuthentication();
    // The device key loaded through an in-memory keychain that stays installed for the process.
    [[nodiscard]] static bool prepareVault();

    // The vault was ready and both the session and its playlist token were registered.
    [[nodiscard]] bool isRegistered() const { return !m_playlistToken.isEmpty(); }
    [[nodiscard]] QString sessionId() const { return m_sessionId; }
    // The record as handed to the server, registration time 0.
    [[nodiscard]] const SessionInfo &info() const { return m_info; }
    [[nodiscard]] QString playlistToken() const { return m_playlistToken; }
    // What the player is given: "http://127.0.0.1:<port>/playlist.m3u8?token=…&session=…&generation=…".
    [[nodiscard]] QUrl loopbackUrl() const;

    void unregister(const QString &reason = QStringLiteral("test_end"));

private:
    HlsProxyServer *m_server;
    QString m_sessionId;
    SessionInfo m_info;
    QString m_playlistToken;
    bool m_unregistered = false;
};
