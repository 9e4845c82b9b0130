#include "media/HlsTokenRegistry.h"

#include <QCryptographicHash>
#include <QUuid>

namespace {

void appendPart(QByteArray &text, const QByteArray &bytes)
{
    text += QByteArray::number(bytes.size());
    text += ':';
    text += bytes;
    text += '|';
}

} // namespace

QByteArray HlsTokenRegistry::resourceKey(const TokenInfo &info)
{
    QByteArray text;
    appendPart(text, info.sessionId.toUtf8());
    appendPart(text, info.url.toUtf8());
    appendPart(text, info.byteRange.toUtf8());
    appendPart(text, info.keyUrl.toUtf8());
    // A clear resource is the same whatever IV its playlist line would imply.
    if (!info.keyUrl.isEmpty())
        appendPart(text, info.sourceIv);
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

void HlsTokenRegistry::activateSession(const QString &sessionId)
{
    const std::lock_guard lock(m_mutex);
    m_activeSessions.insert(sessionId);
}

QString HlsTokenRegistry::registerResource(const TokenInfo &info)
{
    const QByteArray key = resourceKey(info);
    const std::lock_guard lock(m_mutex);
    if (!m_activeSessions.contains(info.sessionId))
        return {};

    const auto known = m_resourceIndex.constFind(key);
    if (known != m_resourceIndex.constEnd()) {
        m_liveTokens.insert(*known, info);
        return *known;
    }

    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_liveTokens.insert(token, info);
    m_resourceIndex.insert(key, token);
    return token;
}

HlsTokenRegistry::Resolution HlsTokenRegistry::resolve(const QString &token, TokenInfo *out) const
{
    const std::lock_guard lock(m_mutex);
    const auto live = m_liveTokens.constFind(token);
    if (live != m_liveTokens.constEnd() && m_activeSessions.contains(live->sessionId)) {
        if (out)
            *out = *live;
        return Resolution::Resolved;
    }
    const auto retired = m_retiredTokens.constFind(token);
    if (retired != m_retiredTokens.constEnd()) {
        if (out)
            *out = *retired;
        return Resolution::RetiredSession;
    }
    return Resolution::UnknownToken;
}

void HlsTokenRegistry::retireSession(const QString &sessionId)
{
    const std::lock_guard lock(m_mutex);
    m_activeSessions.remove(sessionId);

    for (auto live = m_liveTokens.begin(); live != m_liveTokens.end();) {
        if (live->sessionId != sessionId) {
            ++live;
            continue;
        }
        m_resourceIndex.remove(resourceKey(*live));
        m_retiredTokens.insert(live.key(), live.value());
        live = m_liveTokens.erase(live);
    }

    // No age is kept: the bound only limits memory, so any entry may go.
    for (auto surplus = m_retiredTokens.begin(); m_retiredTokens.size() > RetiredTokenLimit;)
        surplus = m_retiredTokens.erase(surplus);
}
