#include "media/MediaNetworkPolicy.h"

#include "net/MediaUrlRules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <algorithm>

namespace {

[[nodiscard]] QByteArray acceptFor(MediaResourceKind kind)
{
    switch (kind) {
    case MediaResourceKind::Playlist:
        return QByteArrayLiteral("application/vnd.apple.mpegurl, application/x-mpegURL;q=0.9, */*;q=0.5");
    case MediaResourceKind::Key:
        return QByteArrayLiteral("application/octet-stream");
    case MediaResourceKind::ProgressiveStream:
    case MediaResourceKind::OfflineDownload:
        return QByteArrayLiteral("video/*, application/octet-stream;q=0.9, */*;q=0.5");
    case MediaResourceKind::Segment:
        break;
    }
    return QByteArrayLiteral("video/mp2t, application/octet-stream;q=0.9, */*;q=0.5");
}

[[nodiscard]] bool isCodeCharacter(char32_t character)
{
    if (character < 0x80) {
        return (character >= '0' && character <= '9') || (character >= 'A' && character <= 'Z') ||
               (character >= 'a' && character <= 'z') || character == '-' || character == '.' ||
               character == '_';
    }
    return QChar::isLetterOrNumber(character);
}

// A structured code: trimmed, upper case, 1 to 96 UTF-16 units of letters, numbers, "." and "_"
// ("-" becomes "_"); anything else gives empty.
[[nodiscard]] QString normalisedCode(const QString &text)
{
    QString code = text.trimmed().toUpper();
    if (code.isEmpty() || code.size() > MediaNetworkPolicy::MaximumErrorCodeLength)
        return {};
    const QList<uint> characters = code.toUcs4();
    if (!std::all_of(characters.cbegin(), characters.cend(),
                     [](uint c) { return isCodeCharacter(char32_t(c)); }))
        return {};
    return code.replace(u'-', u'_');
}

[[nodiscard]] QString normalisedCode(const QJsonValue &value)
{
    return value.isString() ? normalisedCode(value.toString()) : QString();
}

[[nodiscard]] QString codeFromBody(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(body.left(MediaNetworkPolicy::ErrorBodyBytes), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject object = document.object();
    for (const QLatin1String member :
         {QLatin1String("code"), QLatin1String("errorCode"), QLatin1String("error")}) {
        QString code = normalisedCode(object.value(member));
        if (!code.isEmpty())
            return code;
    }
    return normalisedCode(object.value(QLatin1String("error")).toObject().value(QLatin1String("code")));
}

} // namespace

void MediaNetworkPolicy::apply(QNetworkRequest &request, MediaResourceKind kind,
                               const MediaAuthSnapshot &snapshot, const QByteArray &range)
{
    request.setRawHeader("Accept", acceptFor(kind));
    request.setRawHeader("Accept-Encoding", "identity");
    if (!snapshot.acceptLanguage.isEmpty())
        request.setRawHeader("Accept-Language", snapshot.acceptLanguage);
    if (!snapshot.authorization.isEmpty())
        request.setRawHeader("Authorization", snapshot.authorization);
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
    // Qt's own policies send a hop before it can be refused: a request sent without the media
    // fetch follows no redirect at all.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(kind == MediaResourceKind::Playlist ? PlaylistTransferTimeoutMs
                                                                   : TransferTimeoutMs);
}

bool MediaNetworkPolicy::validHttpsDestination(const QUrl &url)
{
    return quorin::MediaUrlRules::validHttpsDestination(url);
}

bool MediaNetworkPolicy::allowRedirect(const QUrl &requested, const QUrl &target, bool carriesBearer)
{
    return quorin::MediaUrlRules::allowRedirect(requested, target, carriesBearer);
}

bool MediaNetworkPolicy::mayForwardBearer(const QUrl &requested, const QUrl &target)
{
    return quorin::MediaUrlRules::mayForwardBearer(requested, target);
}

QString MediaNetworkPolicy::structuredErrorCode(const QByteArray &body, const QByteArray &headerValue)
{
    const QString fromHeader = normalisedCode(QString::fromLatin1(headerValue));
    if (!fromHeader.isEmpty())
        return fromHeader;
    return codeFromBody(body);
}

bool MediaNetworkPolicy::isExactCourseAccessDenied(const QByteArray &body, const QByteArray &headerValue)
{
    return structuredErrorCode(body, headerValue) == QLatin1String("COURSE_ACCESS_DENIED");
}

bool MediaNetworkPolicy::shouldRefreshAuthentication(int httpStatus, const QByteArray &body,
                                                     const QByteArray &headerValue, bool alreadyRefreshed)
{
    if (alreadyRefreshed)
        return false;
    if (httpStatus == 401)
        return true;
    return httpStatus == 403 && structuredErrorCode(body, headerValue).isEmpty();
}
