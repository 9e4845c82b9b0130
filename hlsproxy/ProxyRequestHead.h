#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace quorin {

// What the proxy reads from one request head of the media player: the request line's target, the
// query values its own URLs carry and the first Range line. The method and the protocol version
// are not examined: every request is served as a GET. No sockets; the connection hands it bytes.
class ProxyRequestHead
{
public:
    // The head up to its empty line (or all of it); bytes past the empty line are not read.
    [[nodiscard]] static ProxyRequestHead parse(const QByteArray &head);

    // False when the request line has no target: the connection then closes without an answer.
    [[nodiscard]] bool hasTarget() const { return m_hasTarget; }
    // As sent: path and query.
    [[nodiscard]] QString target() const { return m_target; }
    // Query values, decoded; empty when the key is missing.
    [[nodiscard]] QString token() const { return m_token; }
    [[nodiscard]] QString sessionId() const { return m_sessionId; }
    // 0 when missing or not a decimal number.
    [[nodiscard]] quint64 generation() const { return m_generation; }

    // The first Range line's value, trimmed, kept as it stands even when it cannot be read.
    [[nodiscard]] QByteArray rangeHeader() const { return m_rangeHeader; }
    // First byte asked for; -1 without a readable "bytes=start-end" range.
    [[nodiscard]] qint64 rangeStart() const { return m_rangeStart; }
    // Bytes asked for; -1 when the range is open, its end lies before its start, or there is none.
    [[nodiscard]] qint64 rangeLength() const { return m_rangeLength; }

private:
    void readRange(const QByteArray &value);
    void readQuery();

    bool m_hasTarget = false;
    QString m_target;
    QString m_token;
    QString m_sessionId;
    quint64 m_generation = 0;
    QByteArray m_rangeHeader;
    qint64 m_rangeStart = -1;
    qint64 m_rangeLength = -1;
};

} // namespace quorin
