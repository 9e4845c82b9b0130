#include "ProxyTestSession.h"

#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/TokenInfo.h"
#include "media/CryptoManager.h"
#include "testsupport/InMemoryKeychain.h"

#include <openssl/rand.h>

namespace {

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        return {};
    return bytes;
}

} // namespace

ProxyTestSession::ProxyTestSession(HlsProxyServer *server, const QString &playlistUrl,
                                   const QString &lectureId, quint64 generation,
                                   const MediaAuthSnapshot &authentication)
    : m_server(server)
{
    if (!prepareVault())
        return;

    m_info.lectureId = lectureId;
    m_info.masterIv = CryptoManager::instance()->getOrCreateMasterIv(lectureId);
    m_info.playbackKey = randomBytes(16);
    m_info.playbackIv = randomBytes(16);
    const QByteArray idBytes = randomBytes(32);
    if (m_info.playbackKey.isEmpty() || m_info.playbackIv.isEmpty() || idBytes.isEmpty())
        return;
    m_sessionId =
        QString::fromLatin1(idBytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    m_info.authorization = authentication.authorization;
    m_info.acceptLanguage = authentication.acceptLanguage;
    m_info.registeredAtMs = 0;
    m_info.generation = generation;
    m_info.authGeneration = authentication.generation;
    m_server->registerSession(m_sessionId, m_info);

    TokenInfo playlist;
    playlist.url = playlistUrl;
    playlist.lectureId = lectureId;
    playlist.sessionId = m_sessionId;
    playlist.generation = generation;
    playlist.authorization = authentication.authorization;
    playlist.acceptLanguage = authentication.acceptLanguage;
    playlist.startMs = -1;
    m_playlistToken = m_server->registerToken(playlist);
}

ProxyTestSession::~ProxyTestSession()
{
    unregister();
}

MediaAuthSnapshot ProxyTestSession::defaultAuthentication()
{
    MediaAuthSnapshot snapshot;
    snapshot.authorization = "Bearer proxy-test-access";
    snapshot.acceptLanguage = "en-US";
    snapshot.generation = 1;
    return snapshot;
}

bool ProxyTestSession::prepareVault()
{
    // Installed for the rest of the process, since any later start of the vault reads through it,
    // and never destroyed: at exit it would uninstall itself from a registry already gone.
    static auto *const keychain = new quorin::test::InMemoryKeychain;
    static const bool ready = [] {
        keychain->installAsNative();
        CryptoManager::instance()->init();
        return CryptoManager::instance()->hasSecureVault();
    }();
    return ready;
}

QUrl ProxyTestSession::loopbackUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/playlist.m3u8?token=%2&session=%3&generation=%4")
                    .arg(m_server->port())
                    .arg(m_playlistToken, m_sessionId)
                    .arg(m_info.generation));
}

void ProxyTestSession::unregister(const QString &reason)
{
    if (m_unregistered || m_sessionId.isEmpty())
        return;
    m_unregistered = true;
    m_server->unregisterSession(m_sessionId, reason);
}
