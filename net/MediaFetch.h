#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;

namespace quorin {

// One request that follows its redirects itself: every media request, the release check and
// every call to the backend go through it, so that whatever limits a request (the redirect rule,
// the number of hops, the time-out) is decided here once. Qt's own redirect policies send a hop
// before anyone can refuse it, so every hop goes out with the manual policy and the next target is
// checked first (by default with MediaUrlRules): a refused target receives nothing, not even a
// connection. Each hop carries the headers, attributes, transfer time-out and body of the request
// given (a 303, and a 301 or 302 answering a POST, turn it into a GET without a body, as browsers
// and Qt do); the bearer only goes on where MediaUrlRules::mayForwardBearer allows it.
//
// The caller holds this one object for the whole transfer: the final answer's head, its data as it
// arrives, progress, the end, abort(). A redirect's own answer and body never reach the caller.
//
// Lives on the thread of its network access manager (create it there); every signal comes on that
// thread. Deleting it ends the hop in flight silently.
class MediaFetch : public QObject
{
    Q_OBJECT

public:
    enum class Method { Get, Head, Post, Put, Patch, Delete };
    Q_ENUM(Method)

    enum class Ending {
        None,            // not started, or still running
        Completed,       // the final answer arrived whole, without a network error
        NetworkError,    // the final answer failed: an HTTP error status, a dropped connection, TLS...
        RedirectRefused, // a redirect was refused, was one too many, or had no usable Location;
                         // its target was never asked
        TimedOut,        // no data moved on a hop for the request's transfer time-out
        Cancelled,       // abort(), or the network access manager went away
    };
    Q_ENUM(Ending)

    // Whether a redirect from a hop's URL to a resolved, absolute target may be followed.
    using RedirectRule = std::function<bool(const QUrl &from, const QUrl &to, bool carriesBearer)>;

    static constexpr int MaximumRedirects = 5;

    // Nothing is sent before start(). network must live on the calling thread.
    MediaFetch(QNetworkAccessManager *network, const QNetworkRequest &request, QObject *parent = nullptr);
    ~MediaFetch() override;

    // Before start(): the verb (GET by default), the body that POST, PUT and PATCH send (none by
    // default), the redirect rule (MediaUrlRules::allowRedirect by default), a read buffer limit
    // for the final answer's reply (0, the default, is none), and the category and event of the
    // record a refused redirect writes ("network", "media_redirect_refused" by default).
    void setMethod(Method method);
    void setBody(const QByteArray &body);
    void setRedirectRule(RedirectRule rule);
    void setReadBufferSize(qint64 bytes);
    void setRefusalRecord(const QString &category, const QString &event);

    void start();
    // Ends the transfer as Cancelled unless it has already ended (also before start()): the hop in
    // flight is aborted and no further hop goes out. finished() is emitted before this returns.
    void abort();

    [[nodiscard]] bool isRunning() const { return m_started && m_ending == Ending::None; }
    [[nodiscard]] bool isFinished() const { return m_ending != Ending::None; }
    [[nodiscard]] Ending ending() const { return m_ending; }
    // QNetworkReply's code for the ending: TimeoutError for a time-out, OperationCanceledError for
    // a cancellation, InsecureRedirectError or TooManyRedirectsError for a refused redirect.
    [[nodiscard]] QNetworkReply::NetworkError networkError() const { return m_error; }
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // The answer of the last hop that answered: the final answer, or for a refused redirect the
    // redirect itself (its 3xx status and headers, never its body). Status 0 when none came.
    [[nodiscard]] int httpStatus() const { return m_status; }
    // The status line's reason phrase of that answer; empty when none came.
    [[nodiscard]] QByteArray reasonPhrase() const { return m_reasonPhrase; }
    [[nodiscard]] QByteArray rawHeader(const QByteArray &name) const;
    [[nodiscard]] QList<QNetworkReply::RawHeaderPair> rawHeaderPairs() const { return m_headers; }
    // The URL of the hop in flight, or of the last one.
    [[nodiscard]] QUrl url() const { return m_url; }
    [[nodiscard]] int redirectCount() const { return m_redirects; }

    // The final answer's body, as it arrives; also readable after finished().
    [[nodiscard]] qint64 bytesAvailable() const;
    [[nodiscard]] QByteArray read(qint64 maxSize);
    // Into the caller's buffer; the bytes read, 0 when none, -1 without an answer.
    [[nodiscard]] qint64 read(char *data, qint64 maxSize);
    [[nodiscard]] QByteArray readAll();

Q_SIGNALS:
    // The final answer's status and headers are known. Never emitted for a redirect.
    void headReceived();
    void readyRead();
    void downloadProgress(qint64 receivedBytes, qint64 totalBytes);
    // Exactly once per started transfer.
    void finished();

private:
    void sendHop();
    void onHopHead();
    void onHopReadyRead();
    void onHopFinished();
    void onHopDestroyed();
    void followRedirect(const QUrl &target);
    void refuseRedirect(QNetworkReply::NetworkError error, const QString &reason, const QUrl &target = {});
    void takeMethodOfRedirect(int status);
    void takeHead(QNetworkReply *reply);
    void end(Ending ending, QNetworkReply::NetworkError error, const QString &text);
    void endCancelled();
    void endCancelledLater();
    void releaseHop();

    QPointer<QNetworkAccessManager> m_network;
    QNetworkRequest m_request;     // the next hop's request
    Method m_method = Method::Get; // the next hop's verb
    QByteArray m_body;             // the next hop's body, sent only with POST, PUT and PATCH
    RedirectRule m_rule;
    QString m_refusalCategory;
    QString m_refusalEvent;
    qint64 m_readBufferSize = 0;

    QPointer<QNetworkReply> m_hop;
    // The hop's answer is a redirect status: its data is drained, never handed on.
    bool m_hopRedirects = false;
    bool m_started = false;
    int m_redirects = 0;
    QUrl m_url;

    Ending m_ending = Ending::None;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
    int m_status = 0;
    QByteArray m_reasonPhrase;
    QList<QNetworkReply::RawHeaderPair> m_headers;
    // The final reply, kept readable after the end until this object goes.
    QPointer<QNetworkReply> m_final;
};

} // namespace quorin
