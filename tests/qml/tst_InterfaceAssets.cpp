#include "app/SvgAssetVerifier.h"
#include "testsupport/QmlTestSetup.h"

#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QImageReader>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRawFont>
#include <QSet>
#include <QSvgRenderer>
#include <QTest>
#include <QTextLayout>
#include <memory>

namespace {

const QString kAssets = QStringLiteral(":/qt/qml/Quorin/assets/");
const QString kFamily = QStringLiteral("IBM Plex Sans Arabic");

// The icons with their view box edge; the rest of the 38 are drawn on 24 units.
const QHash<QString, int> &iconViewBoxes()
{
    static const QHash<QString, int> boxes = [] {
        QHash<QString, int> table;
        for (const char *name : {"arrow-back",    "arrow-down",
                                 "arrow-forward", "arrow-up",
                                 "bell",          "check-green",
                                 "check",         "close",
                                 "download",      "export-pdf",
                                 "eye-off",       "eye",
                                 "forward-10",    "fullscreen-exit",
                                 "fullscreen",    "gear",
                                 "lock",          "mark",
                                 "pause",         "pdf-glass",
                                 "pen-cursor",    "person",
                                 "phone",         "picture-in-picture",
                                 "play-glass",    "play",
                                 "quiz-glass",    "replay-10",
                                 "replay",        "return-to-player",
                                 "support-agent", "telegram",
                                 "trash-red",     "trash",
                                 "vault",         "volume-high",
                                 "volume-low",    "volume-muted"})
            table.insert(QStringLiteral("icons/%1.svg").arg(QLatin1String(name)), 24);
        for (const char *name : {"lock", "person", "phone"})
            table.insert(QStringLiteral("icons/%1.svg").arg(QLatin1String(name)), 960);
        table.insert(QStringLiteral("icons/pen-cursor.svg"), 28);
        table.insert(QStringLiteral("icons/quiz-glass.svg"), 32);
        table.insert(QStringLiteral("icons/support-agent.svg"), 48);
        return table;
    }();
    return boxes;
}

QStringList allowedSvgFiles()
{
    QStringList files = iconViewBoxes().keys();
    files << QStringLiteral("flags/eg.svg") << QStringLiteral("flags/sa.svg") << QStringLiteral("noise.svg");
    return files;
}

QByteArray readResource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_InterfaceAssets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_setup.applicationAvailable(); }

    void svgAssetsDecode_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSizeF>("viewBox");
        for (auto icon = iconViewBoxes().cbegin(); icon != iconViewBoxes().cend(); ++icon)
            QTest::newRow(qPrintable(icon.key())) << icon.key() << QSizeF(icon.value(), icon.value());
        QTest::newRow("flags/eg.svg") << QStringLiteral("flags/eg.svg") << QSizeF(30, 20);
        QTest::newRow("flags/sa.svg") << QStringLiteral("flags/sa.svg") << QSizeF(30, 20);
        QTest::newRow("noise.svg") << QStringLiteral("noise.svg") << QSizeF(200, 200);
    }

    void svgAssetsDecode()
    {
        QFETCH(QString, path);
        QFETCH(QSizeF, viewBox);
        QVERIFY2(QFile::exists(kAssets + path), qPrintable(path));
        QImageReader reader(kAssets + path);
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QSvgRenderer drawing(kAssets + path);
        QCOMPARE(drawing.viewBoxF().size(), viewBox);
    }

    void noOtherSvgAmongTheAssets()
    {
        const QStringList allowed = allowedSvgFiles();
        QDirIterator files(kAssets, {QStringLiteral("*.svg")}, QDir::Files, QDirIterator::Subdirectories);
        QStringList unexpected;
        while (files.hasNext()) {
            const QString relative = files.next().mid(kAssets.size());
            if (!allowed.contains(relative))
                unexpected.append(relative);
        }
        QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QStringLiteral(", "))));
        QCOMPARE(SvgAssetVerifier::verify(kAssets), 0);
    }

    // These are shown as they are drawn, so the colour in the file is the colour on screen.
    void ownColouredIconsCarryTheirColour_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("colour");
        QTest::newRow("pdf-glass") << QStringLiteral("icons/pdf-glass.svg") << QStringLiteral("#F44336");
        QTest::newRow("play-glass") << QStringLiteral("icons/play-glass.svg") << QStringLiteral("#2196F3");
        QTest::newRow("quiz-glass") << QStringLiteral("icons/quiz-glass.svg") << QStringLiteral("#8B5CF6");
        QTest::newRow("trash-red") << QStringLiteral("icons/trash-red.svg") << QStringLiteral("#ff6568");
        QTest::newRow("person") << QStringLiteral("icons/person.svg") << QStringLiteral("#99a1af");
    }

    void ownColouredIconsCarryTheirColour()
    {
        QFETCH(QString, path);
        QFETCH(QString, colour);
        QImageReader reader(kAssets + path);
        reader.setScaledSize(QSize(96, 96));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!image.isNull());
        const QRgb wanted = QColor(colour).rgb();
        bool found = false;
        for (int y = 0; y < image.height() && !found; ++y) {
            for (int x = 0; x < image.width() && !found; ++x)
                found = image.pixel(x, y) == wanted;
        }
        QVERIFY2(found, qPrintable(colour + QStringLiteral(" is nowhere in ") + path));
    }

    void logoIsALargeRgbaImage()
    {
        QImageReader reader(kAssets + QStringLiteral("logo.png"));
        QCOMPARE(reader.format(), QByteArray("png"));
        const QImage logo = reader.read();
        QCOMPARE(logo.size(), QSize(1024, 1024));
        QVERIFY(logo.hasAlphaChannel());
    }

    void applicationIconHoldsSixSizes()
    {
        QImageReader reader(kAssets + QStringLiteral("icon.ico"));
        QCOMPARE(reader.format(), QByteArray("ico"));
        QCOMPARE(reader.imageCount(), 6);
        QList<int> sizes;
        for (int index = 0; index < reader.imageCount(); ++index) {
            QVERIFY(reader.jumpToImage(index));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.width(), image.height());
            QCOMPARE(image.depth(), 32);
            QVERIFY(image.hasAlphaChannel());
            sizes.append(image.width());
        }
        QCOMPARE(sizes, QList<int>({256, 128, 64, 48, 32, 16}));
    }

    void fontFacesRegister_data()
    {
        QTest::addColumn<QString>("face");
        QTest::addColumn<int>("weight");
        QTest::newRow("Regular") << QStringLiteral("Regular") << 400;
        QTest::newRow("Medium") << QStringLiteral("Medium") << 500;
        QTest::newRow("SemiBold") << QStringLiteral("SemiBold") << 600;
        QTest::newRow("Bold") << QStringLiteral("Bold") << 700;
    }

    void fontFacesRegister()
    {
        QFETCH(QString, face);
        QFETCH(int, weight);
        const QString path = kAssets + QStringLiteral("fonts/IBMPlexSansArabic-%1.ttf").arg(face);
        const int id = QFontDatabase::addApplicationFont(path);
        QVERIFY2(id >= 0, qPrintable(path));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        QVERIFY2(families.contains(kFamily), qPrintable(families.join(QStringLiteral(", "))));
        // The face joins the one family under its own style, so that a weight asked of the family
        // finds it rather than a synthesised Regular.
        QVERIFY2(QFontDatabase::styles(kFamily).contains(face), qPrintable(face));
        QCOMPARE(QFontDatabase::weight(kFamily, face), weight);
    }

    void fontLicenceIsPresent()
    {
        const QByteArray licence =
            readResource(kAssets + QStringLiteral("fonts/IBMPlexSansArabic-LICENSE.txt"));
        QVERIFY(licence.contains("SIL Open Font License"));
    }

    // The Arabic glyphs of a themed text must come from the interface's family itself: a missing
    // or misnamed face would silently fall back to another font.
    void themedArabicTextUsesTheInterfaceFamily()
    {
        for (const char *face : {"Regular", "Medium", "SemiBold", "Bold"})
            QFontDatabase::addApplicationFont(
                kAssets + QStringLiteral("fonts/IBMPlexSansArabic-%1.ttf").arg(QLatin1String(face)));
        QQmlEngine engine;
        m_setup.qmlEngineAvailable(&engine);
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Quorin\n"
                          "Text { text: \"مرحبا بالطلاب\"; font.family: Theme.fontFamily }\n",
                          QUrl());
        const std::unique_ptr<QObject> text(component.create());
        QVERIFY2(text, qPrintable(component.errorString()));
        const QFont font = text->property("font").value<QFont>();
        QCOMPARE(QFontInfo(font).family(), kFamily);

        QTextLayout layout(text->property("text").toString(), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        QVERIFY(!runs.isEmpty());
        for (const QGlyphRun &run : runs)
            QCOMPARE(run.rawFont().familyName(), kFamily);
    }

private:
    quorin::test::QmlTestSetup m_setup;
};

QTEST_MAIN(tst_InterfaceAssets)
#include "tst_InterfaceAssets.moc"
