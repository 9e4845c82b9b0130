#pragma once

#include "hlsproxy/TokenInfo.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <mutex>

// The opaque tokens under which the proxy serves upstream resources to the media player. One
// stable token per resource and playback session; the tokens of ended sessions are remembered
// for a while, so that a request for one can be told apart from a token never issued.
//
// Shared between the proxy thread and the GUI thread. Every operation but resourceKey holds the
// one mutex for its whole run and calls out to nothing while holding it; a caller that holds its
// own lock takes it before this one, never after.
class HlsTokenRegistry
{
public:
    enum class Resolution : int {
        Resolved = 0,
        UnknownToken = 1,
        RetiredSession = 2,
    };

    // How many tokens of ended sessions are remembered; beyond that they resolve as unknown.
    static constexpr qsizetype RetiredTokenLimit = 16384;

    // SHA-256 (32 raw bytes) of the parts that make two records the same resource: session id,
    // URL, byte range, key URL and, only for encrypted resources, the source IV. Each part is
    // written as its UTF-8 byte length, ':', the bytes and '|'.
    [[nodiscard]] static QByteArray resourceKey(const TokenInfo &info);

    void activateSession(const QString &sessionId);
    // The token of the record's resource, reused when the resource is known (the stored record
    // is then replaced by this one); empty, storing nothing, when the session is not active.
    [[nodiscard]] QString registerResource(const TokenInfo &info);
    // On Resolved and RetiredSession a copy of the record goes to out when given; on
    // UnknownToken out is left as it was.
    [[nodiscard]] Resolution resolve(const QString &token, TokenInfo *out = nullptr) const;
    void retireSession(const QString &sessionId);

private:
    mutable std::mutex m_mutex;
    // Everything below is guarded by m_mutex. A token in m_resourceIndex is in m_liveTokens;
    // no token is in both m_liveTokens and m_retiredTokens.
    QSet<QString> m_activeSessions;
    QHash<QString, TokenInfo> m_liveTokens;
    QHash<QByteArray, QString> m_resourceIndex;
    QHash<QString, TokenInfo> m_retiredTokens;
};
