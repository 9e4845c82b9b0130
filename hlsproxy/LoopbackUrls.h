#pragma once

#include <QString>
#include <QtGlobal>

namespace quorin {

// The three URL forms the media player reaches the proxy by, on 127.0.0.1 at the proxy's port.
// Values go in as they are: tokens are UUID text and session ids unpadded base64url, which need no
// percent-encoding.
class LoopbackUrls
{
public:
    [[nodiscard]] static QString playlist(quint16 port, const QString &token, const QString &sessionId,
                                          quint64 generation);
    [[nodiscard]] static QString key(quint16 port, const QString &sessionId, quint64 generation);
    [[nodiscard]] static QString chunk(quint16 port, const QString &token, const QString &sessionId,
                                       quint64 generation);
};

} // namespace quorin
