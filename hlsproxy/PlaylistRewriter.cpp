#include "hlsproxy/PlaylistRewriter.h"

#include "app/DiagnosticLogger.h"
#include "hlsproxy/LoopbackUrls.h"
#include "media/HlsManifest.h"
#include "media/MediaNetworkPolicy.h"

#include <QLocale>
#include <QStringList>
#include <QStringTokenizer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace quorin {
namespace {

constexpr qsizetype SourceIvBytes = 16;

[[nodiscard]] QStringView afterFirstColon(QStringView line)
{
    return line.sliced(line.indexOf(u':') + 1);
}

[[nodiscard]] qint64 signedOrZero(QStringView text)
{
    bool read = false;
    const qint64 value = text.trimmed().toLongLong(&read, 10);
    return read ? value : 0;
}

// Hexadecimal digits in pairs; empty when the text holds anything else.
[[nodiscard]] std::optional<QByteArray> hexBytes(QStringView text)
{
    const auto isHexDigit = [](QChar character) {
        return (character >= u'0' && character <= u'9') || (character >= u'a' && character <= u'f') ||
               (character >= u'A' && character <= u'F');
    };
    if (text.size() % 2 != 0 || !std::all_of(text.begin(), text.end(), isHexDigit))
        return std::nullopt;
    return QByteArray::fromHex(text.toLatin1());
}

// The state of one rewrite; nothing of it outlives the call.
class Rewrite
{
public:
    Rewrite(const QString &playlistUrl, const PlaylistRewriter::SessionValues &session,
            const PlaylistRewriter::Registrar &registrar, PlaylistRewriter::Kind kind)
        : m_playlistUrl(playlistUrl, QUrl::TolerantMode)
        , m_session(session)
        , m_registrar(registrar)
        , m_renditionId(DiagnosticLogger::fingerprint(playlistUrl))
    {
        m_result.kind = kind;
        if (kind == PlaylistRewriter::Kind::Media) {
            appendLine(u"#EXTM3U");
            appendLine(QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"%1\",IV=0x%2")
                           .arg(LoopbackUrls::key(session.port, session.sessionId, session.generation),
                                QString::fromLatin1(session.playbackIv.toHex())));
        }
    }

    // False when the line is refused; the result then holds the error answer.
    [[nodiscard]] bool take(QStringView line)
    {
        if (line.isEmpty())
            return true;
        if (m_result.kind == PlaylistRewriter::Kind::Master)
            return takeMasterLine(line);
        if (line == u"#EXTM3U")
            return true;
        if (line.startsWith(u'#'))
            return takeMediaTag(line);
        return takeSegment(line);
    }

    [[nodiscard]] PlaylistRewriter::Result finish()
    {
        m_result.body = m_output.toUtf8();
        return std::move(m_result);
    }

    [[nodiscard]] PlaylistRewriter::Result failure() { return std::move(m_result); }

private:
    [[nodiscard]] bool refuse(int status, const QString &reason)
    {
        m_result.status = status;
        m_result.reason = reason;
        return false;
    }

    void appendLine(QStringView line)
    {
        m_output.append(line);
        m_output.append(u'\n');
    }

    // A null URL when the reference is empty: resolving nothing would name the playlist itself.
    [[nodiscard]] QUrl resolve(QStringView reference) const
    {
        if (reference.isEmpty())
            return {};
        return m_playlistUrl.resolved(QUrl(reference.toString(), QUrl::TolerantMode));
    }

    [[nodiscard]] QByteArray sourceIv() const
    {
        return m_explicitIv.isEmpty() ? HlsManifest::sequenceIv(m_mediaSequence) : m_explicitIv;
    }

    [[nodiscard]] bool takeMasterLine(QStringView line)
    {
        if (line.startsWith(u'#')) {
            appendLine(line);
            return true;
        }
        const QUrl url = resolve(line);
        if (!MediaNetworkPolicy::validHttpsDestination(url))
            return refuse(403, QStringLiteral("Invalid media target"));
        const QString token = m_registrar.registerPlaylist(url);
        appendLine(LoopbackUrls::playlist(m_session.port, token, m_session.sessionId, m_session.generation));
        return true;
    }

    [[nodiscard]] bool takeMediaTag(QStringView line)
    {
        if (line.startsWith(u"#EXT-X-MEDIA-SEQUENCE:")) {
            bool read = false;
            const quint64 sequence = afterFirstColon(line).trimmed().toULongLong(&read, 10);
            m_mediaSequence = read ? sequence : 0;
        } else if (line.startsWith(u"#EXT-X-KEY")) {
            return takeKey(line);
        } else if (line.startsWith(u"#EXT-X-MAP:")) {
            return takeMap(line);
        } else if (line.startsWith(u"#EXT-X-BYTERANGE:")) {
            takeByteRange(line);
            return true;
        } else if (line.startsWith(u"#EXTINF:")) {
            QStringView value = afterFirstColon(line);
            value = value.first(value.indexOf(u',') < 0 ? value.size() : value.indexOf(u','));
            const std::optional<qint64> duration = PlaylistRewriter::durationMs(value.trimmed());
            if (!duration)
                return refuse(400, QStringLiteral("Invalid EXTINF duration"));
            m_pendingDurationMs = *duration;
        }
        appendLine(line);
        return true;
    }

    [[nodiscard]] bool takeKey(QStringView line)
    {
        const QString tagLine = line.toString();
        const QString method = HlsManifest::attributeValue(tagLine, QStringLiteral("METHOD"));
        if (method == u"NONE") {
            m_keyUrl.clear();
            m_explicitIv.clear();
            return true;
        }
        if (method != u"AES-128")
            return refuse(415, QStringLiteral("Unsupported HLS encryption method"));
        const QUrl keyUrl = resolve(HlsManifest::attributeValue(tagLine, QStringLiteral("URI")));
        if (!MediaNetworkPolicy::validHttpsDestination(keyUrl))
            return refuse(403, QStringLiteral("Invalid key target"));
        QString ivText = HlsManifest::attributeValue(tagLine, QStringLiteral("IV"));
        if (ivText.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            ivText.remove(0, 2);
        const std::optional<QByteArray> iv = hexBytes(ivText);
        if (!iv || (!iv->isEmpty() && iv->size() != SourceIvBytes))
            return refuse(400, QStringLiteral("Invalid HLS source IV"));
        m_keyUrl = keyUrl.toString(QUrl::FullyEncoded);
        m_explicitIv = *iv;
        return true;
    }

    [[nodiscard]] bool takeMap(QStringView line)
    {
        const QString tagLine = line.toString();
        const QUrl url = resolve(HlsManifest::attributeValue(tagLine, QStringLiteral("URI")));
        if (!MediaNetworkPolicy::validHttpsDestination(url))
            return refuse(403, QStringLiteral("Invalid map target"));
        QString byteRange = HlsManifest::attributeValue(tagLine, QStringLiteral("BYTERANGE"));
        if (!byteRange.isEmpty() && !byteRange.contains(u'@'))
            byteRange += QStringLiteral("@0");
        const QString chunkUrl =
            m_registrar.registerChunk({url, m_keyUrl, sourceIv(), byteRange, -1, 0, 0, m_renditionId});
        appendLine(QStringLiteral("#EXT-X-MAP:URI=\"%1\"").arg(chunkUrl));
        return true;
    }

    void takeByteRange(QStringView line)
    {
        const QList<QStringView> parts = afterFirstColon(line).trimmed().split(u'@');
        const qint64 length = signedOrZero(parts.at(0));
        const qint64 offset = parts.size() > 1 ? signedOrZero(parts.at(1)) : m_nextByteOffset;
        m_pendingByteRange = QStringLiteral("%1@%2").arg(length).arg(offset);
        // Nonsense values are refused when the segment is asked for; they must not overflow here.
        if (qAddOverflow(offset, length, &m_nextByteOffset))
            m_nextByteOffset = std::numeric_limits<qint64>::max();
    }

    [[nodiscard]] bool takeSegment(QStringView line)
    {
        const QUrl url = resolve(line);
        if (!MediaNetworkPolicy::validHttpsDestination(url))
            return refuse(403, QStringLiteral("Invalid media target"));
        appendLine(m_registrar.registerChunk({url, m_keyUrl, sourceIv(), m_pendingByteRange, m_nextStartMs,
                                              m_pendingDurationMs, m_mediaSequence, m_renditionId}));
        m_pendingByteRange.clear();
        m_nextStartMs += m_pendingDurationMs;
        m_pendingDurationMs = 0;
        ++m_mediaSequence;
        return true;
    }

    const QUrl m_playlistUrl;
    const PlaylistRewriter::SessionValues &m_session;
    const PlaylistRewriter::Registrar &m_registrar;
    const QString m_renditionId;
    PlaylistRewriter::Result m_result;
    QString m_output;
    quint64 m_mediaSequence = 0;
    qint64 m_nextStartMs = 0;
    qint64 m_pendingDurationMs = 0;
    QString m_keyUrl;
    QByteArray m_explicitIv;
    QString m_pendingByteRange;
    qint64 m_nextByteOffset = 0;
};

} // namespace

PlaylistRewriter::Result PlaylistRewriter::rewrite(const QByteArray &body, const QString &playlistUrl,
                                                   const SessionValues &session, const Registrar &registrar)
{
    if (body.size() > MaximumPlaylistBytes) {
        Result tooLarge;
        tooLarge.status = 413;
        tooLarge.reason = QStringLiteral("Playlist too large");
        return tooLarge;
    }
    const QString text = QString::fromUtf8(body);
    Rewrite rewrite(playlistUrl, session, registrar, kindOf(text));
    for (const QStringView line : qTokenize(text, u'\n')) {
        if (!rewrite.take(line.trimmed()))
            return rewrite.failure();
    }
    return rewrite.finish();
}

PlaylistRewriter::Kind PlaylistRewriter::kindOf(const QString &text)
{
    return text.contains(u"#EXTINF") ? Kind::Media : Kind::Master;
}

std::optional<qint64> PlaylistRewriter::durationMs(QStringView text)
{
    bool read = false;
    const double seconds = text.toDouble(&read);
    if (!read || !std::isfinite(seconds) || seconds < 0 || seconds > HlsManifest::MaximumSegmentSeconds)
        return std::nullopt;
    // The shortest decimal that reads back as the same double is the number the playlist wrote;
    // rounding its digits avoids the binary error that multiplying by 1000 would round on.
    const QString decimal = QString::number(seconds, 'f', QLocale::FloatingPointShortest);
    const qsizetype point = decimal.indexOf(u'.');
    const QStringView whole = QStringView(decimal).first(point < 0 ? decimal.size() : point);
    const QString fraction = point < 0 ? QString() : decimal.sliced(point + 1);
    qint64 milliseconds =
        whole.toLongLong() * 1000 + (fraction + QStringLiteral("000")).first(3).toLongLong();
    if (fraction.size() > 3 && fraction.at(3) >= u'5')
        ++milliseconds;
    return milliseconds;
}

} // namespace quorin
