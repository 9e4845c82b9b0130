// Renders the raster assets of the interface from their vector drawing:
//   render_artwork <logo.svg> <assets folder>
// writes "logo.png" (1024 x 1024 RGBA) and "icon.ico" (32-bit images of 256, 128, 64, 48, 32 and
// 16 pixels) into the assets folder. The results are committed; build the target "update_artwork"
// after changing the drawing.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>

namespace {

QImage render(QSvgRenderer &drawing, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

template<typename Number>
void append(QByteArray &out, Number value)
{
    const Number little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&little), sizeof little);
}

// A device-independent bitmap as icon files hold it: the header states twice the height (the
// colour rows and the transparency mask), rows run bottom up in BGRA, and the mask stays clear
// because the alpha channel decides.
QByteArray iconBitmap(const QImage &image)
{
    const int size = image.width();
    const int maskStride = ((size + 31) / 32) * 4;
    QByteArray out;
    append<quint32>(out, 40);
    append<qint32>(out, size);
    append<qint32>(out, size * 2);
    append<quint16>(out, 1);
    append<quint16>(out, 32);
    append<quint32>(out, 0);
    append<quint32>(out, quint32(size * size * 4 + maskStride * size));
    for (int unused = 0; unused < 4; ++unused)
        append<quint32>(out, 0);
    for (int row = size - 1; row >= 0; --row) {
        const auto *pixels = reinterpret_cast<const quint32 *>(image.constScanLine(row));
        for (int column = 0; column < size; ++column)
            append<quint32>(out, pixels[column]);
    }
    out.append(QByteArray(maskStride * size, '\0'));
    return out;
}

// The largest image goes in as PNG, as icon files have allowed for it since 256-pixel icons came;
// uncompressed it would be most of the file.
QByteArray pngBytes(const QImage &image)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return out;
}

QByteArray iconFile(QSvgRenderer &drawing)
{
    static const int sizes[] = {256, 128, 64, 48, 32, 16};
    constexpr int count = int(sizeof sizes / sizeof sizes[0]);
    QList<QByteArray> bitmaps;
    for (int size : sizes)
        bitmaps.append(size >= 256 ? pngBytes(render(drawing, size)) : iconBitmap(render(drawing, size)));

    QByteArray out;
    append<quint16>(out, 0);
    append<quint16>(out, 1);
    append<quint16>(out, count);
    quint32 offset = 6 + 16 * count;
    for (int index = 0; index < count; ++index) {
        const int size = sizes[index];
        out.append(char(size >= 256 ? 0 : size));
        out.append(char(size >= 256 ? 0 : size));
        out.append(char(0));
        out.append(char(0));
        append<quint16>(out, 1);
        append<quint16>(out, 32);
        append<quint32>(out, quint32(bitmaps[index].size()));
        append<quint32>(out, offset);
        offset += quint32(bitmaps[index].size());
    }
    for (const QByteArray &bitmap : bitmaps)
        out.append(bitmap);
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_artwork <logo.svg> <assets folder>\n");
        return 2;
    }
    QSvgRenderer drawing(QString::fromLocal8Bit(argv[1]));
    if (!drawing.isValid()) {
        std::fprintf(stderr, "render_artwork: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    if (!render(drawing, 1024).save(folder + QStringLiteral("/logo.png"), "PNG")) {
        std::fprintf(stderr, "render_artwork: cannot write logo.png\n");
        return 1;
    }
    QFile icon(folder + QStringLiteral("/icon.ico"));
    if (!icon.open(QIODevice::WriteOnly) || icon.write(iconFile(drawing)) < 0) {
        std::fprintf(stderr, "render_artwork: cannot write icon.ico\n");
        return 1;
    }
    return 0;
}
