#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace quorin::test {

// A raw HTTP/1.1 client of a server on 127.0.0.1 (the HLS proxy) for tests. It sends exactly the
// bytes it is given, whole or as a head in pieces with pauses between them, and reads until the
// server closes the connection. It lives on the test's thread and runs that thread's event loop
// while it waits, so fixture servers on the same thread go on answering.
class LoopbackHttpClient : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        bool closed = false;           // the server closed the connection within the time-out
        QByteArray raw;                // every byte received, as received
        QByteArray statusLine;         // "HTTP/1.1 200 OK"; empty when no head came
        QList<QByteArray> headerLines; // in order, without their line ends
        QByteArray body;               // what followed the head

        // The status code of the status line; 0 without one.
        [[nodiscard]] int status() const;
        // The value of the first header line of that name (any letter case), trimmed.
        [[nodiscard]] QByteArray header(const QByteArray &name) const;
    };

    explicit LoopbackHttpClient(quint16 port, QObject *parent = nullptr);
    ~LoopbackHttpClient() override;

    // "GET <target> HTTP/1.1", a Host line, the extra lines, then the empty line.
    [[nodiscard]] static QByteArray getHead(const QString &target, const QList<QByteArray> &extraLines = {});

    [[nodiscard]] bool connectToServer(int timeoutMs = 10000);
    void send(const QByteArray &bytes);
    // Each piece is handed to the system alone, pauseMs after the one before.
    void sendInPieces(const QList<QByteArray> &pieces, int pauseMs);
    // Runs the event loop until the server closes the connection or the time runs out.
    [[nodiscard]] Answer waitForClose(int timeoutMs = 30000);
    // The client goes first: the connection is reset.
    void abort();

    [[nodiscard]] bool isClosedByServer() const { return m_closed; }
    [[nodiscard]] QByteArray received() const { return m_received; }

    // Connects, sends the bytes and reads until the close.
    [[nodiscard]] static Answer exchange(quint16 port, const QByteArray &bytes, int timeoutMs = 30000);
    [[nodiscard]] static Answer get(quint16 port, const QString &target, int timeoutMs = 30000);

    // What a player needs to read the proxy's segments: the key the proxy hands out at its key
    // target ("/key.bin?…"), empty unless the answer is 200 with 16 bytes; the IV of the first
    // "#EXT-X-KEY" line of a rewritten playlist, empty without one; and a segment body decrypted
    // with them, empty when its padding does not check out.
    [[nodiscard]] static QByteArray fetchPlaybackKey(quint16 port, const QString &keyTarget);
    [[nodiscard]] static QByteArray keyLineIv(const QByteArray &playlist);
    [[nodiscard]] static QByteArray decryptBody(const QByteArray &body, const QByteArray &key,
                                                const QByteArray &iv);

private:
    void readAvailable();
    [[nodiscard]] Answer answer() const;

    quint16 m_port;
    QTcpSocket *m_socket;
    QByteArray m_received;
    bool m_closed = false;
    bool m_aborted = false;
};

} // namespace quorin::test
