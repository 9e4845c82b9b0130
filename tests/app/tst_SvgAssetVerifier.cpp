#include "app/SvgAssetVerifier.h"
#include "testsupport/ProcessSandbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using quorin::test::ProcessSandbox;

namespace {

const QByteArray kValidSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\">"
                             "<rect width=\"8\" height=\"8\" fill=\"#123456\"/></svg>";

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class tst_SvgAssetVerifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verifiesAFolder_data()
    {
        QTest::addColumn<QStringList>("validFiles");
        QTest::addColumn<QString>("brokenFile");
        QTest::addColumn<QStringList>("otherFiles");
        QTest::addColumn<int>("result");
        QTest::newRow("all decode") << QStringList{QStringLiteral("a.svg"),
                                                   QStringLiteral("icons/nested/b.svg")}
                                    << QString() << QStringList{QStringLiteral("c.png")} << 0;
        QTest::newRow("one broken") << QStringList{QStringLiteral("a.svg")}
                                    << QStringLiteral("icons/broken.svg") << QStringList() << 2;
        QTest::newRow("none found") << QStringList() << QString()
                                    << QStringList{QStringLiteral("a.png"), QStringLiteral("svg/readme.txt")}
                                    << 2;
    }

    void verifiesAFolder()
    {
        QFETCH(QStringList, validFiles);
        QFETCH(QString, brokenFile);
        QFETCH(QStringList, otherFiles);
        QFETCH(int, result);

        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const QString &name : validFiles)
            QVERIFY(writeFile(folder.filePath(name), kValidSvg));
        for (const QString &name : otherFiles)
            QVERIFY(writeFile(folder.filePath(name), "not a picture"));
        if (!brokenFile.isEmpty()) {
            QVERIFY(
                writeFile(folder.filePath(brokenFile), "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect"));
            const QString message = QStringLiteral("Embedded SVG could not be decoded: \"%1\" \".*\"")
                                        .arg(QRegularExpression::escape(folder.filePath(brokenFile)));
            QTest::ignoreMessage(QtCriticalMsg,
                                 QRegularExpression(QRegularExpression::anchoredPattern(message)));
        } else if (validFiles.isEmpty()) {
            QTest::ignoreMessage(QtCriticalMsg, "No embedded SVG assets were found");
        }
        QCOMPARE(SvgAssetVerifier::verify(folder.path()), result);
    }

    void clientVerifiesItsOwnAssets()
    {
        ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        QProcess client;
        client.setProcessEnvironment(sandbox.environment());
        client.start(QStringLiteral(QUORIN_DESKTOP_EXECUTABLE), {QStringLiteral("--verify-svg-assets")});
        QVERIFY(client.waitForFinished(60000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        QCOMPARE(sandbox.files(), QStringList()); // no log, settings or telemetry queue
    }
};

QTEST_MAIN(tst_SvgAssetVerifier)
#include "tst_SvgAssetVerifier.moc"
