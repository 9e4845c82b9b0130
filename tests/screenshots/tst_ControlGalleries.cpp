#include "app/SettingsController.h"
#include "testsupport/GalleryScene.h"
#include "testsupport/QtMessageRecorder.h"
#include "testsupport/QuizPageTestSetup.h"

#include <QDir>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

// Every control gallery loads in both themes and both languages, and a gallery that follows the
// window in both of its sizes, without a single warning: a gallery that prints one would hide a
// broken binding behind a screenshot that looks fine. The shell's set-up gives the galleries of
// the screens their controllers; the quiz pages' controllers ask its fixture server, which knows
// no quiz, so those galleries settle in the failed state.
class tst_ControlGalleries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_setup.applicationAvailable(); }

    void everyGalleryLoadsCleanly_data()
    {
        QTest::addColumn<QString>("gallery");
        QTest::addColumn<QString>("themeMode");
        QTest::addColumn<QString>("language");
        const QStringList galleries = QStringLiteral(QUORIN_CONTROL_GALLERIES).split(QLatin1Char(','));
        for (const QString &gallery : galleries) {
            for (const char *theme : {"light", "dark"}) {
                for (const char *language : {"en", "ar"}) {
                    QTest::addRow("%s %s %s", qPrintable(gallery), theme, language)
                        << gallery << QString::fromLatin1(theme) << QString::fromLatin1(language);
                }
            }
        }
    }

    void everyGalleryLoadsCleanly()
    {
        QFETCH(QString, gallery);
        QFETCH(QString, themeMode);
        QFETCH(QString, language);

        const QString path =
            QDir(QStringLiteral(QUORIN_CONTROL_GALLERY_DIR)).filePath(gallery + QStringLiteral(".qml"));
        QVERIFY2(QFile::exists(path), qPrintable(path));

        quorin::test::QtMessageRecorder recorder;
        {
            QQmlEngine engine;
            m_setup.qmlEngineAvailable(&engine);
            quorin::test::GalleryScene scene(engine);
            QVERIFY2(scene.load(QUrl::fromLocalFile(path), themeMode, language),
                     qPrintable(scene.errorString()));
            QList<QSize> sizes{QSize(1024, 768)};
            if (scene.followsWindowSize()) {
                sizes.clear();
                for (const auto &size : quorin::test::GalleryScene::windowSizes())
                    sizes.append(size.size);
            }
            for (const QSize &size : std::as_const(sizes)) {
                QVERIFY2(scene.load(QUrl::fromLocalFile(path), themeMode, language, size),
                         qPrintable(scene.errorString()));
                QCOMPARE(scene.root()->size(), QSizeF(size));
                QVERIFY2(scene.waitUntilReady(), qPrintable(scene.errorString()));
                // Let pop-ups open, transitions run and a few frames draw.
                QTest::qWait(400);
                QVERIFY(scene.window()->isExposed());
            }
        }
        const QStringList warnings = recorder.messages(QtWarningMsg);
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void cleanupTestCase()
    {
        SettingsController::instance()->setLanguage(QStringLiteral("en"));
        SettingsController::instance()->setThemeMode(QStringLiteral("system"));
        m_setup.cleanupTestCase();
    }

private:
    quorin::test::QuizPageTestSetup m_setup;
};

QTEST_MAIN(tst_ControlGalleries)
#include "tst_ControlGalleries.moc"
