#include "app/AppFailure.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>

namespace {

constexpr qsizetype MaximumCodeLength = 80;
constexpr qsizetype QuotedBodyLimit = 2048;

QString categoryFor(int status, int error)
{
    if (status == 401 || status == 403)
        return QStringLiteral("authentication");
    if (status == 409)
        return QStringLiteral("conflict");
    if (status == 429)
        return QStringLiteral("rate_limit");
    if (status >= 400 && status <= 499)
        return QStringLiteral("validation");
    if (status >= 500)
        return QStringLiteral("server");
    if (error == 0 && status != 0)
        return QStringLiteral("unknown");
    return QStringLiteral("network");
}

QString codeFor(int status, int error)
{
    if (status > 0)
        return QStringLiteral("HTTP_%1").arg(status);
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("NETWORK_OFFLINE");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("NETWORK_DNS");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("NETWORK_TIMEOUT");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("NETWORK_TLS");
    default:
        return QStringLiteral("NETWORK_%1").arg(error);
    }
}

bool isRetryable(int status, int error)
{
    return status == 0 || status == 408 || status == 429 || status >= 500 ||
           error == QNetworkReply::TimeoutError || error == QNetworkReply::TemporaryNetworkFailureError ||
           error == QNetworkReply::NetworkSessionFailedError;
}

bool isCodeCharacter(QChar character)
{
    if (character.unicode() < 0x80) {
        const char ascii = char(character.unicode());
        return (ascii >= 'a' && ascii <= 'z') || (ascii >= 'A' && ascii <= 'Z') ||
               (ascii >= '0' && ascii <= '9') || ascii == '-' || ascii == '.' || ascii == '_';
    }
    // Judged per UTF-16 unit: a surrogate is neither letter nor number, so characters outside the
    // Basic Multilingual Plane never make a code.
    return character.isLetterOrNumber();
}

// The backend's own error code, when its "error" member is a short code-like word.
QString backendCode(const QJsonValue &error)
{
    if (!error.isString())
        return {};
    const QString text = error.toString().trimmed();
    if (text.isEmpty() || text.size() > MaximumCodeLength)
        return {};
    for (const QChar character : text) {
        if (!isCodeCharacter(character))
            return {};
    }
    return text.toUpper().replace(QLatin1Char('-'), QLatin1Char('_'));
}

QStringList collectMessages(const QJsonValue &value)
{
    QStringList messages;
    if (value.isString()) {
        const QString text = value.toString().trimmed();
        if (!text.isEmpty())
            messages.append(text);
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (const QJsonValue &element : array)
            messages.append(collectMessages(element));
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (const QLatin1String key :
             {QLatin1String("message"), QLatin1String("details"), QLatin1String("error")}) {
            if (object.contains(key))
                messages.append(collectMessages(object.value(key)));
        }
    }
    messages.removeDuplicates();
    return messages;
}

// Reads a JSON object body: may replace the code, fills technicalDetails with the compact JSON
// and returns the backend's messages, first one first.
QStringList readErrorObject(const QJsonObject &object, AppFailure &failure)
{
    const QString candidate = backendCode(object.value(QLatin1String("error")));
    QList<QLatin1String> messageKeys{QLatin1String("message"), QLatin1String("details")};
    if (candidate.isEmpty())
        messageKeys.prepend(QLatin1String("error"));
    else
        failure.code = candidate;

    QStringList messages;
    for (const QLatin1String key : messageKeys)
        messages.append(collectMessages(object.value(key)));
    if (messages.isEmpty() && !candidate.isEmpty())
        messages.append(candidate);
    messages.removeDuplicates();

    failure.technicalDetails = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    return messages;
}

} // namespace

AppFailure AppFailure::local(const QString &code, const QString &userMessage, const QString &category,
                             bool retryable)
{
    AppFailure failure;
    failure.category = category;
    failure.code = code;
    failure.severity = QStringLiteral("error");
    failure.userMessage = userMessage;
    failure.retryable = retryable;
    return failure;
}

AppFailure AppFailure::fromResponse(int httpStatus, QNetworkReply::NetworkError networkError,
                                    const QByteArray &body, const QString &fallbackMessage)
{
    const int error = int(networkError);
    AppFailure failure;
    failure.httpStatus = httpStatus;
    failure.networkError = error;
    failure.category = categoryFor(httpStatus, error);
    failure.code = codeFor(httpStatus, error);
    failure.retryable = isRetryable(httpStatus, error);
    const bool critical = error == QNetworkReply::SslHandshakeFailedError || httpStatus >= 500;
    failure.severity = critical ? QStringLiteral("critical") : QStringLiteral("error");
    failure.supportRecommended = critical && !failure.retryable;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    QStringList messages;
    if (document.isObject()) {
        messages = readErrorObject(document.object(), failure);
    } else if (!body.trimmed().isEmpty()) {
        failure.technicalDetails =
            parseError.errorString() + QStringLiteral(": ") + QString::fromUtf8(body.left(QuotedBodyLimit));
    }

    if (messages.isEmpty()) {
        const QString fallback = fallbackMessage.trimmed();
        failure.userMessage =
            fallback.isEmpty() ? QObject::tr("The request could not be completed.") : fallback;
    } else {
        failure.userMessage = messages.takeFirst();
        if (!messages.isEmpty())
            failure.technicalDetails += QLatin1Char('\n') + messages.join(QLatin1Char('\n'));
    }
    return failure;
}

void AppFailure::registerMetaType()
{
    qRegisterMetaType<AppFailure>("AppFailure");
}
