// Writes the small PDF fixtures with QPdfWriter: a three-page lecture, a one-page handout and a
// file that only claims to be a PDF. Usage: make_fixture_pdfs <output folder>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

namespace {

bool writePdf(const QString &path, const QString &title, int pages)
{
    QPdfWriter writer(path);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("Quorin fixtures"));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(72);
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    QFont font = painter.font();
    font.setPointSize(24);
    painter.setFont(font);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        painter.drawText(QRect(40, 40, 500, 80), Qt::AlignLeft, title);
        painter.drawText(QRect(40, 140, 500, 80), Qt::AlignLeft,
                         QStringLiteral("Page %1 of %2").arg(page).arg(pages));
        painter.drawRect(QRect(40, 240, 300, 200));
    }
    return painter.end();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc < 2)
        return 2;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;
    if (!writePdf(folder.filePath(QStringLiteral("lecture.pdf")), QStringLiteral("Lecture notes"), 3) ||
        !writePdf(folder.filePath(QStringLiteral("handout.pdf")), QStringLiteral("Handout"), 1))
        return 1;
    QFile notPdf(folder.filePath(QStringLiteral("not-a-pdf.pdf")));
    if (!notPdf.open(QIODevice::WriteOnly) || notPdf.write("<html>not a pdf</html>\n") < 0)
        return 1;
    return 0;
}
