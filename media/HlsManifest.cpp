#include "media/HlsManifest.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringTokenizer>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

namespace {

const QString Aes128 = QStringLiteral("AES-128");

enum class Attribute { Bandwidth, Resolution, Method, Uri, Iv, ByteRange };

// NAME=value or NAME="value" after the start or a comma; group 1 holds a quoted value, group 2 a
// bare one.
[[nodiscard]] QString attributePattern(const QString &name)
{
    return QStringLiteral("(?:^|,)\\s*%1=(?:\"([^\"]*)\"|([^,]*))").arg(QRegularExpression::escape(name));
}

// One compiled expression per attribute name. Compiling costs tens of microseconds, far more than
// a match, so each thread builds the set once; QRegularExpression objects are not shared across
// threads.
class AttributeExpressions
{
public:
    AttributeExpressions()
    {
        static constexpr std::array<const char *, 6> names = {"BANDWIDTH", "RESOLUTION", "METHOD",
                                                              "URI",       "IV",         "BYTERANGE"};
        for (std::size_t i = 0; i < names.size(); ++i)
            m_expressions[i].setPattern(attributePattern(QLatin1String(names[i])));
    }

    [[nodiscard]] const QRegularExpression &of(Attribute attribute) const
    {
        return m_expressions[std::size_t(attribute)];
    }

private:
    std::array<QRegularExpression, 6> m_expressions;
};

[[nodiscard]] QStringView afterFirstColon(QStringView line)
{
    return line.sliced(line.indexOf(u':') + 1);
}

// The value of an attribute expression's match in a tag line, without quotes and trimmed; null
// when the attribute is absent.
[[nodiscard]] QStringView matchedAttribute(const QRegularExpression &expression, QStringView tagLine)
{
    // The subject is a slice of a string decoded from UTF-8, cut at ASCII characters: valid UTF-16.
    const QRegularExpressionMatch match =
        expression.match(afterFirstColon(tagLine), 0, QRegularExpression::NormalMatch,
                         QRegularExpression::DontCheckSubjectStringMatchOption);
    if (!match.hasMatch())
        return {};
    const int quotedGroup = 1;
    const int bareGroup = 2;
    return match.capturedView(match.capturedStart(quotedGroup) >= 0 ? quotedGroup : bareGroup).trimmed();
}

[[nodiscard]] QStringView attributeValue(QStringView tagLine, Attribute attribute)
{
    thread_local const AttributeExpressions expressions;
    return matchedAttribute(expressions.of(attribute), tagLine);
}

// Digits with an optional fraction ("6.006"), the form packagers write.
[[nodiscard]] bool isPlainDecimal(QStringView text)
{
    const auto isDigit = [](QChar character) { return character >= u'0' && character <= u'9'; };
    const qsizetype point = text.indexOf(u'.');
    const QStringView whole = point < 0 ? text : text.first(point);
    const QStringView fraction = point < 0 ? QStringView() : text.sliced(point + 1);
    return !whole.isEmpty() && std::all_of(whole.begin(), whole.end(), isDigit) &&
           (point < 0 || (!fraction.isEmpty() && std::all_of(fraction.begin(), fraction.end(), isDigit)));
}

// QStringView::toDouble costs about half a microsecond a call; std::from_chars reads the plain
// form with the same correct rounding in a tenth of that. Everything else goes to Qt.
[[nodiscard]] double readDecimal(QStringView text, bool *ok)
{
    std::array<char, 32> ascii;
    if (text.size() <= qsizetype(ascii.size()) && isPlainDecimal(text)) {
        std::transform(text.begin(), text.end(), ascii.begin(),
                       [](QChar character) { return char(character.unicode()); });
        const char *end = ascii.data() + text.size();
        double value = 0;
        const auto [stop, error] = std::from_chars(ascii.data(), end, value);
        if (error == std::errc() && stop == end) {
            *ok = true;
            return value;
        }
    }
    return text.toDouble(ok);
}

[[nodiscard]] int intOrZero(QStringView text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

// The running state of one parse; it never outlives the call.
class PlaylistParser
{
public:
    PlaylistParser(const QUrl &playlistUrl, HlsManifest::Result &result)
        : m_playlistUrl(playlistUrl)
        , m_result(result)
    {
    }

    // False when the line stops the parse; the result then holds the error.
    [[nodiscard]] bool handle(QStringView line)
    {
        if (line.isEmpty())
            return true;
        if (line.startsWith(u"#EXT-X-MEDIA-SEQUENCE:"))
            return handleMediaSequence(line);
        if (line.startsWith(u"#EXT-X-STREAM-INF:"))
            return handleStreamInf(line);
        if (line.startsWith(u"#EXT-X-KEY:"))
            return handleKey(line);
        if (line.startsWith(u"#EXT-X-MAP:"))
            return handleMap(line);
        if (line.startsWith(u"#EXT-X-BYTERANGE:")) {
            m_pendingByteRange = afterFirstColon(line).trimmed().toString();
            return true;
        }
        if (line.startsWith(u"#EXTINF:"))
            return handleDuration(line);
        if (line.startsWith(u'#'))
            return true;
        handleUri(line);
        return true;
    }

    void finish()
    {
        if (m_result.master) {
            if (m_result.variants.isEmpty())
                m_result.error = QStringLiteral("Master playlist has no variants");
        } else if (m_segmentCount == 0) {
            m_result.error = QStringLiteral("Media playlist has no segments");
        }
        m_result.valid = m_result.error.isEmpty();
    }

private:
    [[nodiscard]] bool fail(const QString &error)
    {
        m_result.error = error;
        return false;
    }

    [[nodiscard]] QUrl resolve(QStringView reference) const
    {
        return m_playlistUrl.resolved(QUrl(reference.toString(), QUrl::TolerantMode));
    }

    [[nodiscard]] QByteArray ivFor(quint64 sequence) const
    {
        return m_iv.isEmpty() ? HlsManifest::sequenceIv(sequence) : m_iv;
    }

    bool handleMediaSequence(QStringView line)
    {
        bool ok = false;
        const quint64 sequence = afterFirstColon(line).trimmed().toULongLong(&ok, 10);
        m_sequence = ok ? sequence : 0;
        return true;
    }

    bool handleStreamInf(QStringView line)
    {
        bool ok = false;
        const qint64 bandwidth = attributeValue(line, Attribute::Bandwidth).toLongLong(&ok, 10);
        m_variant.bandwidth = ok ? bandwidth : 0;
        const QList<QStringView> resolution = attributeValue(line, Attribute::Resolution).split(u'x');
        if (resolution.size() == 2) {
            m_variant.width = intOrZero(resolution.at(0));
            m_variant.height = intOrZero(resolution.at(1));
            m_variant.label = QString::number(m_variant.height) + u'p';
        }
        m_variantPending = true;
        return true;
    }

    bool handleKey(QStringView line)
    {
        const QStringView method = attributeValue(line, Attribute::Method);
        if (method == u"NONE") {
            m_keyMethod.clear();
            m_keyUrl.clear();
            m_iv.clear();
            return true;
        }
        if (method != Aes128)
            return fail(QStringLiteral("Unsupported encryption method: %1").arg(method));
        // Without a URI the key would resolve to the playlist itself and be fetched as the key.
        const QStringView uri = attributeValue(line, Attribute::Uri);
        if (uri.isEmpty())
            return fail(QStringLiteral("Missing AES-128 key URI"));
        m_keyMethod = Aes128;
        // Packagers that repeat the key line for every segment mostly repeat its URI as well.
        if (uri != m_keyUriText) {
            m_keyUriText = uri.toString();
            m_resolvedKeyUri = resolve(uri);
        }
        m_keyUrl = m_resolvedKeyUri;
        QStringView ivText = attributeValue(line, Attribute::Iv);
        if (ivText.startsWith(u"0x", Qt::CaseInsensitive))
            ivText = ivText.sliced(2);
        m_iv = QByteArray::fromHex(ivText.toLatin1());
        if (!m_iv.isEmpty() && m_iv.size() != 16)
            return fail(QStringLiteral("Invalid AES-128 IV"));
        HlsResource key;
        key.type = HlsResource::Type::Key;
        key.url = m_keyUrl;
        m_result.resources.append(std::move(key));
        return true;
    }

    bool handleMap(QStringView line)
    {
        HlsResource init;
        init.type = HlsResource::Type::InitSegment;
        init.url = resolve(attributeValue(line, Attribute::Uri));
        init.byteRange = attributeValue(line, Attribute::ByteRange).toString();
        init.sequence = m_sequence;
        init.keyMethod = m_keyMethod;
        init.keyUrl = m_keyUrl;
        init.iv = ivFor(m_sequence);
        m_result.resources.append(std::move(init));
        return true;
    }

    bool handleDuration(QStringView line)
    {
        QStringView value = afterFirstColon(line);
        const qsizetype comma = value.indexOf(u',');
        if (comma >= 0)
            value = value.first(comma);
        bool ok = false;
        const double seconds = readDecimal(value.trimmed(), &ok);
        // "nan", "inf" and huge values read as numbers, but cannot become a duration in ms.
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > HlsManifest::MaximumSegmentSeconds)
            return fail(QStringLiteral("Invalid EXTINF duration"));
        m_pendingDurationMs = std::llround(seconds * 1000.0);
        return true;
    }

    void handleUri(QStringView line)
    {
        if (std::exchange(m_variantPending, false)) {
            appendVariant(resolve(line));
        } else if (!m_result.master) {
            appendSegment(resolve(line));
        }
    }

    void appendVariant(const QUrl &url)
    {
        HlsVariant variant = std::exchange(m_variant, HlsVariant());
        variant.url = url;
        if (variant.label.isEmpty()) {
            variant.label = variant.bandwidth >= 1 ? QStringLiteral("%1 kbps").arg(variant.bandwidth / 1000)
                                                   : QStringLiteral("Variant");
        }
        m_result.variants.append(std::move(variant));
    }

    void appendSegment(const QUrl &url)
    {
        HlsResource segment;
        segment.type = HlsResource::Type::Segment;
        segment.url = url;
        segment.byteRange = std::exchange(m_pendingByteRange, QString());
        segment.sequence = m_sequence;
        segment.startMs = m_startMs;
        segment.durationMs = std::exchange(m_pendingDurationMs, 0);
        segment.keyMethod = m_keyMethod;
        segment.keyUrl = m_keyUrl;
        segment.iv = ivFor(m_sequence);
        ++m_sequence;
        m_startMs += segment.durationMs;
        ++m_segmentCount;
        m_result.resources.append(std::move(segment));
    }

    const QUrl &m_playlistUrl;
    HlsManifest::Result &m_result;
    quint64 m_sequence = 0;
    qint64 m_startMs = 0;
    qint64 m_pendingDurationMs = 0;
    QString m_pendingByteRange;
    bool m_variantPending = false;
    HlsVariant m_variant;
    QString m_keyMethod;
    QUrl m_keyUrl;
    QByteArray m_iv;
    QString m_keyUriText;
    QUrl m_resolvedKeyUri;
    qsizetype m_segmentCount = 0;
};

} // namespace

HlsManifest::Result HlsManifest::parse(const QByteArray &data, const QUrl &playlistUrl)
{
    Result result;
    if (data.size() > MaximumPlaylistBytes) {
        result.error = QStringLiteral("Playlist exceeds the 2 MiB limit");
        return result;
    }
    const QString text = QString::fromUtf8(data);
    if (!QStringView(text).trimmed().startsWith(u"#EXTM3U")) {
        result.error = QStringLiteral("Missing EXTM3U header");
        return result;
    }
    // Any mention counts, even in a comment: such a playlist is read as a master playlist.
    result.master = text.contains(u"#EXT-X-STREAM-INF");

    PlaylistParser parser(playlistUrl, result);
    for (const QStringView line : qTokenize(text, u'\n')) {
        if (!parser.handle(line.trimmed()))
            return result;
    }
    parser.finish();
    return result;
}

QString HlsManifest::attributeValue(const QString &tagLine, const QString &name)
{
    // Callers ask for a handful of names; each thread keeps their compiled expressions.
    thread_local QHash<QString, QRegularExpression> expressions;
    auto expression = expressions.find(name);
    if (expression == expressions.end())
        expression = expressions.insert(name, QRegularExpression(attributePattern(name)));
    const QStringView value = matchedAttribute(*expression, tagLine);
    return value.isNull() ? QString() : value.toString();
}

QByteArray HlsManifest::sequenceIv(quint64 sequence)
{
    QByteArray iv(16, '\0');
    qToBigEndian(sequence, iv.data() + 8);
    return iv;
}
