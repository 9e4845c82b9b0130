// Times the playlist parser on a 2 MiB media playlist with a key line before every segment (the
// worst a single answer may be) and on a typical one of 300 segments, against a baseline that only
// splits the text into trimmed lines and resolves every URI line. Prints figures; never fails.
#include "bench/BenchTiming.h"
#include "media/HlsManifest.h"

#include <QCoreApplication>
#include <QStringTokenizer>
#include <QTextStream>

using quorin::bench::medianMs;

namespace {

const QUrl Base(QStringLiteral("https://cdn.example/lectures/42/720/index.m3u8"));

// How segment and key URIs are written: short relative names, or the absolute signed URLs a
// media origin hands out. The ratio to the baseline depends on it, because the baseline is
// little more than URL parsing.
enum class UriStyle { Relative, SignedAbsolute };

QByteArray header()
{
    return "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:7\n#EXT-X-MEDIA-SEQUENCE:0\n";
}

QString uri(UriStyle style, const QString &name)
{
    if (style == UriStyle::Relative)
        return name;
    return QStringLiteral("https://media.example/lectures/42/720/%1?expires=1767225600&signature=%2")
        .arg(name, QString(43, u'q'));
}

QByteArray segmentLines(UriStyle style, int index)
{
    const QString name = QStringLiteral("segment-%1.ts").arg(index, 6, 10, QLatin1Char('0'));
    return (QStringLiteral("#EXTINF:6.006,\n") + uri(style, name) + u'\n').toLatin1();
}

QByteArray keyLine(UriStyle style, int index)
{
    return QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"%1\",IV=0x%2\n")
        .arg(uri(style, QStringLiteral("key-%1.bin").arg(index)))
        .arg(index, 32, 16, QLatin1Char('0'))
        .toLatin1();
}

// A new key (its own URI and IV) before every segment, up to the size limit.
QByteArray keyPerSegmentPlaylist(UriStyle style)
{
    QByteArray data = header();
    for (int index = 0;; ++index) {
        const QByteArray next = keyLine(style, index) + segmentLines(style, index);
        if (data.size() + next.size() > HlsManifest::MaximumPlaylistBytes)
            return data;
        data += next;
    }
}

QByteArray typicalPlaylist(int segments)
{
    QByteArray data = header() + keyLine(UriStyle::Relative, 0);
    for (int index = 0; index < segments; ++index)
        data += segmentLines(UriStyle::Relative, index);
    return data + "#EXT-X-ENDLIST\n";
}

// The least any parser must do: decode, split into trimmed lines, and resolve the URI lines.
qsizetype baseline(const QByteArray &data)
{
    const QString text = QString::fromUtf8(data);
    qsizetype resolved = 0;
    for (const QStringView line : qTokenize(text, u'\n')) {
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        resolved += Base.resolved(QUrl(trimmed.toString(), QUrl::TolerantMode)).isValid() ? 1 : 0;
    }
    return resolved;
}

void report(QTextStream &out, const QString &name, const QByteArray &data, int rounds)
{
    const HlsManifest::Result result = HlsManifest::parse(data, Base);
    qsizetype sink = 0;
    const double parseMs = medianMs(rounds, [&] { sink += HlsManifest::parse(data, Base).resources.size(); });
    const double baselineMs = medianMs(rounds, [&] { sink += baseline(data); });
    const double megabytes = double(data.size()) / (1024.0 * 1024.0);
    out << qSetFieldWidth(0) << name << ": " << data.size() << " bytes, " << result.resources.size()
        << " entries, valid " << (result.valid ? "yes" : "no") << "\n"
        << "  parse    " << QString::number(parseMs, 'f', 3) << " ms  ("
        << QString::number(megabytes / parseMs * 1000.0, 'f', 1) << " MB/s)\n"
        << "  baseline " << QString::number(baselineMs, 'f', 3) << " ms  ("
        << QString::number(megabytes / baselineMs * 1000.0, 'f', 1) << " MB/s)\n"
        << "  parse / baseline " << QString::number(parseMs / baselineMs, 'f', 2) << "x (target: within 5x)"
        << (sink < 0 ? "!" : "") << "\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    out << "bench_HlsManifest (median of the rounds)\n";
    report(out, QStringLiteral("2 MiB, key line before every segment, signed absolute URLs"),
           keyPerSegmentPlaylist(UriStyle::SignedAbsolute), 15);
    report(out, QStringLiteral("2 MiB, key line before every segment, relative names"),
           keyPerSegmentPlaylist(UriStyle::Relative), 15);
    report(out, QStringLiteral("300 segments, one key"), typicalPlaylist(300), 200);
    return 0;
}
