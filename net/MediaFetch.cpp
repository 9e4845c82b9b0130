#include "net/MediaFetch.h"

#include "app/DiagnosticLogger.h"
#include "net/AbandonReply.h"
#include "net/MediaUrlRules.h"

#include <QNetworkAccessManager>
#include <QThread>

namespace quorin {
namespace {

const QByteArray AuthorizationHeader = QByteArrayLiteral("Authorization");

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

int statusOf(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Scheme, host and port, the part of a URL a refusal record may name, and only as a fingerprint.
QString originFingerprint(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return DiagnosticLogger::fingerprint(MediaUrlRules::origin(url));
}

} // namespace

MediaFetch::MediaFetch(QNetworkAccessManager *network, const QNetworkRequest &request, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_request(request)
    , m_rule(&MediaUrlRules::allowRedirect)
    , m_refusalCategory(QStringLiteral("network"))
    , m_refusalEvent(QStringLiteral("media_redirect_refused"))
    , m_url(request.url())
{
    Q_ASSERT(network && network->thread() == QThread::currentThread());
    m_request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
}

MediaFetch::~MediaFetch()
{
    if (m_hop && m_hop != m_final) {
        disconnect(m_hop, nullptr, this, nullptr);
        abandonReply(m_hop);
        m_hop->deleteLater();
    }
    if (m_final) {
        disconnect(m_final, nullptr, this, nullptr);
        abandonReply(m_final);
        m_final->deleteLater();
    }
}

void MediaFetch::setMethod(Method method)
{
    m_method = method;
}

void MediaFetch::setBody(const QByteArray &body)
{
    m_body = body;
}

void MediaFetch::setRefusalRecord(const QString &category, const QString &event)
{
    m_refusalCategory = category;
    m_refusalEvent = event;
}

void MediaFetch::setRedirectRule(RedirectRule rule)
{
    if (rule)
        m_rule = std::move(rule);
}

void MediaFetch::setReadBufferSize(qint64 bytes)
{
    m_readBufferSize = bytes;
}

void MediaFetch::start()
{
    if (m_started || isFinished())
        return;
    m_started = true;
    sendHop();
}

void MediaFetch::abort()
{
    if (isFinished())
        return;
    if (QNetworkReply *hop = m_hop.data()) {
        disconnect(hop, nullptr, this, nullptr);
        abandonReply(hop);
    }
    endCancelled();
}

QByteArray MediaFetch::rawHeader(const QByteArray &name) const
{
    for (const auto &[headerName, value] : m_headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

qint64 MediaFetch::bytesAvailable() const
{
    return m_final ? m_final->bytesAvailable() : 0;
}

QByteArray MediaFetch::read(qint64 maxSize)
{
    return m_final ? m_final->read(maxSize) : QByteArray();
}

qint64 MediaFetch::read(char *data, qint64 maxSize)
{
    return m_final ? m_final->read(data, maxSize) : -1;
}

QByteArray MediaFetch::readAll()
{
    return m_final ? m_final->readAll() : QByteArray();
}

void MediaFetch::sendHop()
{
    if (!m_network) {
        endCancelledLater();
        return;
    }
    m_url = m_request.url();
    m_hopRedirects = false;
    QNetworkReply *hop = nullptr;
    switch (m_method) {
    case Method::Get:
        hop = m_network->get(m_request);
        break;
    case Method::Head:
        hop = m_network->head(m_request);
        break;
    case Method::Post:
        hop = m_network->post(m_request, m_body);
        break;
    case Method::Put:
        hop = m_network->put(m_request, m_body);
        break;
    case Method::Patch:
        hop = m_network->sendCustomRequest(m_request, QByteArrayLiteral("PATCH"), m_body);
        break;
    case Method::Delete:
        hop = m_network->deleteResource(m_request);
        break;
    }
    m_hop = hop;
    if (m_readBufferSize > 0)
        hop->setReadBufferSize(m_readBufferSize);
    connect(hop, &QNetworkReply::metaDataChanged, this, &MediaFetch::onHopHead);
    connect(hop, &QNetworkReply::readyRead, this, &MediaFetch::onHopReadyRead);
    connect(hop, &QNetworkReply::downloadProgress, this, [this, hop](qint64 received, qint64 total) {
        if (hop == m_final)
            Q_EMIT downloadProgress(received, total);
    });
    connect(hop, &QNetworkReply::finished, this, &MediaFetch::onHopFinished);
    connect(hop, &QObject::destroyed, this, &MediaFetch::onHopDestroyed);
}

void MediaFetch::onHopHead()
{
    QNetworkReply *hop = m_hop.data();
    if (!hop || hop == m_final || m_hopRedirects)
        return;
    const int status = statusOf(hop);
    if (status == 0)
        return;
    if (isRedirectStatus(status)) {
        m_hopRedirects = true;
        return;
    }
    takeHead(hop);
    m_final = hop;
    Q_EMIT headReceived();
}

void MediaFetch::onHopReadyRead()
{
    QNetworkReply *hop = m_hop.data();
    if (!hop)
        return;
    onHopHead();
    // A redirect's body is drained so that a read buffer limit cannot stall its end.
    if (m_hopRedirects)
        (void)hop->readAll();
    else
        Q_EMIT readyRead();
}

void MediaFetch::onHopFinished()
{
    QNetworkReply *hop = m_hop.data();
    if (!hop || isFinished())
        return;
    onHopHead();
    const QNetworkReply::NetworkError error = hop->error();
    // abort() disconnects the hop before it aborts it, so a cancelled hop here was ended by the
    // network layer's transfer time-out.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        if (m_hopRedirects)
            takeHead(hop);
        end(Ending::TimedOut, QNetworkReply::TimeoutError, tr("The media server did not answer in time."));
        return;
    }
    if (!m_hopRedirects) {
        if (m_final != hop) {
            // An answer without a head (no connection, a TLS failure): nothing to hand on.
            takeHead(hop);
            m_final = hop;
        }
        if (error == QNetworkReply::NoError)
            end(Ending::Completed, error, QString());
        else
            end(Ending::NetworkError, error, hop->errorString());
        return;
    }
    if (error != QNetworkReply::NoError) {
        takeHead(hop);
        end(Ending::NetworkError, error, hop->errorString());
        return;
    }
    const QByteArray location = hop->rawHeader("Location").trimmed();
    if (location.isEmpty()) {
        takeHead(hop);
        refuseRedirect(QNetworkReply::InsecureRedirectError, QStringLiteral("no_location"));
        return;
    }
    followRedirect(m_url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode)));
}

void MediaFetch::followRedirect(const QUrl &target)
{
    QNetworkReply *hop = m_hop.data();
    if (m_redirects >= MaximumRedirects) {
        takeHead(hop);
        refuseRedirect(QNetworkReply::TooManyRedirectsError, QStringLiteral("too_many"), target);
        return;
    }
    const bool carriesBearer = m_request.hasRawHeader(AuthorizationHeader);
    if (!target.isValid() || target.isRelative() || !m_rule(m_url, target, carriesBearer)) {
        takeHead(hop);
        refuseRedirect(QNetworkReply::InsecureRedirectError, QStringLiteral("destination"), target);
        return;
    }
    // A null value removes the header.
    if (carriesBearer && !MediaUrlRules::mayForwardBearer(m_url, target))
        m_request.setRawHeader(AuthorizationHeader, QByteArray());
    takeMethodOfRedirect(statusOf(hop));
    releaseHop();
    ++m_redirects;
    m_request.setUrl(target);
    sendHop();
}

// What the next hop sends, as Qt's own redirect handling decides it: a 303 asks for a GET of the
// target (a HEAD stays one), and a 301 or 302 answering a POST does the same, as browsers have it;
// a 307 or 308 repeats the request as it was, body included.
void MediaFetch::takeMethodOfRedirect(int status)
{
    const bool becomesGet = (status == 303 && m_method != Method::Head) ||
                            ((status == 301 || status == 302) && m_method == Method::Post);
    if (!becomesGet)
        return;
    m_method = Method::Get;
    m_body.clear();
}

// The record names the origins only by fingerprint: a URL or a header could carry a token.
void MediaFetch::refuseRedirect(QNetworkReply::NetworkError error, const QString &reason, const QUrl &target)
{
    QVariantMap fields{{QStringLiteral("reason"), reason},
                       {QStringLiteral("status"), m_status},
                       {QStringLiteral("redirects"), m_redirects},
                       {QStringLiteral("from_origin_fp"), originFingerprint(m_url)}};
    if (!target.isEmpty())
        fields.insert(QStringLiteral("to_origin_fp"), originFingerprint(target));
    DiagnosticLogger::log(m_refusalCategory, QStringLiteral("warning"), m_refusalEvent, fields);
    end(Ending::RedirectRefused, error,
        error == QNetworkReply::TooManyRedirectsError
            ? tr("The media server redirected the request too many times.")
            : tr("The media server redirected the request to a destination that is not allowed."));
}

void MediaFetch::onHopDestroyed()
{
    // Its network access manager deletes every reply it still holds when it goes.
    if (isRunning() && !m_hop)
        endCancelledLater();
}

// On a later turn: from inside start(), or from a network access manager's destructor, receivers
// would be called where they cannot expect it.
void MediaFetch::endCancelledLater()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isRunning())
                endCancelled();
        },
        Qt::QueuedConnection);
}

void MediaFetch::endCancelled()
{
    end(Ending::Cancelled, QNetworkReply::OperationCanceledError, tr("The media transfer was cancelled."));
}

void MediaFetch::takeHead(QNetworkReply *reply)
{
    if (!reply)
        return;
    m_status = statusOf(reply);
    m_reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    m_headers = reply->rawHeaderPairs();
}

void MediaFetch::end(Ending ending, QNetworkReply::NetworkError error, const QString &text)
{
    m_ending = ending;
    m_error = error;
    m_errorString = text;
    releaseHop();
    Q_EMIT finished();
}

void MediaFetch::releaseHop()
{
    QNetworkReply *hop = m_hop.data();
    m_hop.clear();
    m_hopRedirects = false;
    if (!hop || hop == m_final)
        return;
    disconnect(hop, nullptr, this, nullptr);
    hop->deleteLater();
}

} // namespace quorin
