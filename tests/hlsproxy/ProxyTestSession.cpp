#include "ProxyTestSession.h"

#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/LoopbackUrls.h"
#include "hlsproxy/TokenInfo.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/InMemoryKeychain.h"

#include <QFile>
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
                                   const MediaAuthSnapshot &authentication, Vault vault)
    : m_server(server)
{
    if (vault == Vault::Prepared && !prepareVault())
        return;

    m_info.lectureId = lectureId;
    m_info.masterIv = vault == Vault::Prepared ? CryptoManager::instance()->getOrCreateMasterIv(lectureId)
                                               : QByteArray(CryptoManager::IvBytes, '\0');
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

quorin::test::InMemoryKeychain *ProxyTestSession::keychain()
{
    // Installed for the rest of the process, since any later start of the vault reads through it,
    // and never destroyed: at exit it would uninstall itself from a registry already gone.
    static auto *const keychain = [] {
        auto *made = new quorin::test::InMemoryKeychain;
        made->installAsNative();
        return made;
    }();
    return keychain;
}

bool ProxyTestSession::prepareVault()
{
    static const bool ready = [] {
        (void)keychain();
        CryptoManager::instance()->init();
        return CryptoManager::instance()->hasSecureVault();
    }();
    return ready;
}

bool ProxyTestSession::failVault()
{
    keychain()->fail(quorin::test::InMemoryKeychain::Operation::Copy,
                     QStringLiteral("The keyring is locked"));
    CryptoManager::instance()->init();
    keychain()->clearFaults();
    return CryptoManager::instance()->vaultState() == CryptoManager::Failed;
}

bool ProxyTestSession::restoreVault()
{
    keychain()->clearFaults();
    CryptoManager::instance()->init();
    return CryptoManager::instance()->hasSecureVault();
}

QUrl ProxyTestSession::loopbackUrl() const
{
    return QUrl(
        quorin::LoopbackUrls::playlist(m_server->port(), m_playlistToken, m_sessionId, m_info.generation));
}

QString ProxyTestSession::registerSegment(const QString &url, const QString &byteRange) const
{
    Segment segment;
    segment.byteRange = byteRange;
    return registerSegment(url, segment);
}

QString ProxyTestSession::registerSegment(const QString &url, const Segment &listed) const
{
    TokenInfo segment;
    segment.url = url;
    segment.lectureId = m_info.lectureId;
    segment.sessionId = m_sessionId;
    segment.generation = m_info.generation;
    segment.playbackKey = m_info.playbackKey;
    segment.playbackIv = m_info.playbackIv;
    segment.cacheIv = CryptoManager::itemIv(m_info.masterIv, url);
    segment.authorization = m_info.authorization;
    segment.acceptLanguage = m_info.acceptLanguage;
    segment.keyUrl = listed.keyUrl;
    if (!listed.keyUrl.isEmpty())
        segment.keyCacheIv = CryptoManager::itemIv(m_info.masterIv, listed.keyUrl);
    segment.sourceIv = listed.sourceIv;
    segment.byteRange = listed.byteRange;
    segment.startMs = listed.startMs;
    segment.durationMs = listed.durationMs;
    segment.renditionId = QStringLiteral("rendition-1");
    return m_server->registerToken(segment);
}

QString ProxyTestSession::target(const QString &path, const QString &token) const
{
    return QStringLiteral("%1?token=%2&session=%3&generation=%4")
        .arg(path, token, m_sessionId, QString::number(m_info.generation));
}

bool ProxyTestSession::placeInCache(const QString &key, const QByteArray &bytes)
{
    ResourceCache *cache = ResourceCache::instance();
    const QString staging = cache->getTempPath(key) + QStringLiteral(".test");
    QFile file(staging);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return cache->publishTempFile(key, staging);
}

bool ProxyTestSession::cacheAsTheProxyWould(const QString &url, const QByteArray &plaintext) const
{
    const QByteArray encrypted =
        CryptoManager::instance()->processChunk(plaintext, 0, CryptoManager::itemIv(m_info.masterIv, url));
    return encrypted.size() == plaintext.size() &&
           placeInCache(ResourceCache::vaultKey(m_info.lectureId, url), encrypted);
}

void ProxyTestSession::unregister(const QString &reason)
{
    if (m_unregistered || m_sessionId.isEmpty())
        return;
    m_unregistered = true;
    m_server->unregisterSession(m_sessionId, reason);
}
