#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>
#include <QUrlQuery>
#include <functional>
#include <memory>
#include <optional>

class QHostAddress;
class QTcpServer;
class QTcpSocket;

namespace quorin::test {

class FixtureConnection;

// An HTTP/1.1 server on "localhost" for tests and the sample platform: HTTPS with the test
// authority by default, plain HTTP on request. Each path answers from a script (a sequence of
// answers, or a handler), from a folder of files, or with 404. Answers can be delayed, held
// until released, hung, throttled, cut short after N body bytes, sent without Content-Length or
// as redirects. Every request is logged. Lives on the thread that creates it; tests spin the
// event loop (QSignalSpy::wait, QTRY_*) while the code under test talks to it.
class FixtureServer : public QObject
{
    Q_OBJECT

public:
    enum class Transport { Https, PlainHttp };

    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent: path and query
        QByteArray path;   // without the query
        QByteArray query;  // without the '?'
        Headers headers;
        QByteArray body;
        int connectionId = 0;

        [[nodiscard]] QByteArray header(const QByteArray &name) const;
        [[nodiscard]] bool hasHeader(const QByteArray &name) const;
        [[nodiscard]] QUrlQuery queryItems() const;
    };

    struct Response
    {
        int status = 200;
        Headers headers;
        QByteArray body;
        int delayMs = 0;                // wait before the status line goes out
        bool held = false;              // wait until release(path) is called
        bool hang = false;              // never answer; the connection stays open
        qint64 dropAfterBodyBytes = -1; // close the connection after this many body bytes
        qint64 bytesPerSecond = 0;      // throttle the body; 0 sends at once
        bool omitContentLength = false; // the body ends when the connection closes
        // Send this many body bytes, then nothing more, leaving the connection open.
        qint64 stallAfterBodyBytes = -1;
        // When above 0, at most this many body bytes wait in the socket's buffers at any time, so
        // that bytesSent() follows what the peer's connection accepts; 0 hands the body over at once.
        qint64 writeWindowBytes = 0;
        // Close the connection once the request is in, before a byte of an answer: the client
        // sees a network failure with no HTTP status.
        bool dropWithoutAnswer = false;

        Response() = default;
        Response(int statusCode, QByteArray content = {}, QByteArray contentType = {});
        [[nodiscard]] static Response json(const QByteArray &content, int statusCode = 200);
        [[nodiscard]] static Response redirect(const QByteArray &location, int statusCode = 302);
        [[nodiscard]] static Response hung();
        Response &withHeader(const QByteArray &name, const QByteArray &value);
        [[nodiscard]] QByteArray header(const QByteArray &name) const;
    };

    using Handler = std::function<Response(const Request &)>;

    explicit FixtureServer(Transport transport = Transport::Https, QObject *parent = nullptr);
    ~FixtureServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one.
    [[nodiscard]] bool listen(quint16 port = 0);
    // Listens on another address (another loopback address such as 127.0.0.2, for a target that
    // "localhost" does not reach). url() still names "localhost".
    [[nodiscard]] bool listen(const QHostAddress &address, quint16 port = 0);
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] Transport transport() const { return m_transport; }
    // "https://localhost:<port>" followed by the path (or "http://…" in plain mode).
    [[nodiscard]] QUrl url(const QString &pathAndQuery = QStringLiteral("/")) const;

    // The test certificate authority, and a client configuration that trusts only it.
    [[nodiscard]] static QList<QSslCertificate> certificateAuthority();
    [[nodiscard]] static QString certificateAuthorityFile();
    [[nodiscard]] static QSslConfiguration clientConfiguration();

    // Scripts. A key with a '?' matches path and query exactly; otherwise the path alone. A
    // sequence answers in order and repeats its last answer once it is used up.
    void setResponses(const QString &key, const QList<Response> &responses);
    void setResponse(const QString &key, const Response &response) { setResponses(key, {response}); }
    void enqueue(const QString &key, const Response &response);
    void setHandler(const QString &key, Handler handler);
    // Answers every path that starts with the prefix and that no script names ("/api/v1/courses/"
    // for any course id), before the served folders; the first prefix set that matches answers,
    // and setting a prefix again replaces its handler. The path is the key for hold and release.
    void setPrefixHandler(const QString &pathPrefix, Handler handler);
    void clearScripts();
    // Serves the files of a folder below a path prefix ("/media/"); the options' timing and
    // cut-off fields apply to every file.
    void serveDirectory(const QString &pathPrefix, const QString &folder, const Response &options);
    void serveDirectory(const QString &pathPrefix, const QString &folder)
    {
        serveDirectory(pathPrefix, folder, Response());
    }
    // Answers ranged GETs of 200 bodies with 206 and Content-Range; off answers 200 in full.
    void setRangeSupport(bool enabled) { m_rangeSupport = enabled; }

    // Sends the answers held for this key; later requests of the key are answered at once.
    void release(const QString &key);
    // Closes every open connection, as a server going away would.
    void closeAllConnections();

    // The request log.
    [[nodiscard]] QList<Request> requests() const { return m_requests; }
    [[nodiscard]] QList<Request> requests(const QString &path) const;
    [[nodiscard]] int requestCount(const QString &path) const;
    [[nodiscard]] int totalRequestCount() const { return int(m_requests.size()); }
    [[nodiscard]] qint64 bytesSent() const { return m_bytesSent; }
    [[nodiscard]] int maxRequestsInFlight() const { return m_maxInFlight; }
    [[nodiscard]] int requestsInFlight() const { return m_inFlight; }
    // Connections accepted, counted before the TLS handshake: a client that connects and then
    // fails the handshake never logs a request, but it did reach the server.
    [[nodiscard]] int connectionCount() const { return m_connectionCount; }
    // Empties the request log and the counters, the connection count included.
    void clearLog();
    // A long-running server (the sample platform) keeps counters but not every request.
    void setKeepLog(bool keep) { m_keepLog = keep; }

Q_SIGNALS:
    void requestReceived(const quorin::test::FixtureServer::Request &request);
    void responseFinished(const QByteArray &path);

private:
    friend class FixtureConnection;

    struct Script
    {
        QList<Response> sequence;
        Handler handler;
        int next = 0;
    };
    struct Directory
    {
        QString prefix;
        QString folder;
        Response options;
    };

    void acceptConnections();
    void adoptSocket(QTcpSocket *socket);
    Response answerFor(const Request &request);
    [[nodiscard]] std::optional<Response> fileAnswer(const Request &request) const;
    Response applyRange(const Request &request, Response response) const;
    [[nodiscard]] bool isReleased(const QString &key) const { return m_released.contains(key); }
    [[nodiscard]] QString scriptKeyFor(const Request &request) const;
    void noteRequestStarted(const Request &request);
    void noteRequestFinished(const Request &request);
    void noteBytesSent(qint64 bytes) { m_bytesSent += bytes; }

    Transport m_transport;
    std::unique_ptr<QTcpServer> m_server;
    QHash<QString, Script> m_scripts;
    QList<Directory> m_directories;
    QList<QPair<QString, Handler>> m_prefixHandlers;
    QList<QPointer<FixtureConnection>> m_connections;
    QSet<QString> m_released;
    QList<Request> m_requests;
    QHash<QString, int> m_counts;
    bool m_rangeSupport = true;
    bool m_keepLog = true;
    qint64 m_bytesSent = 0;
    int m_inFlight = 0;
    int m_maxInFlight = 0;
    int m_nextConnectionId = 1;
    int m_connectionCount = 0;
};

} // namespace quorin::test
