#include "app/OwnerOnlyFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using quorin::OwnerOnlyFolder;

namespace {

constexpr QFileDevice::Permissions OwnerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions Everyone = QFileDevice::ReadOther | QFileDevice::WriteOther |
                                              QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                              QFileDevice::WriteGroup | QFileDevice::ExeGroup;

QFileDevice::Permissions permissionsOf(const QString &path)
{
    return QFileInfo(path).permissions() & (OwnerOnly | Everyone);
}

} // namespace

class tst_OwnerOnlyFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void createsOnlyWhatIsMissing_data()
    {
        QTest::addColumn<QString>("existing"); // "folder", "file" or empty: what is already at the path
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QFileDevice::Permissions>("permissions");

        QTest::newRow("missing, parents missing too") << QString() << true << OwnerOnly;
        QTest::newRow("an open folder stays as it is")
            << "folder" << true << (OwnerOnly | QFileDevice::ReadOther | QFileDevice::ExeOther);
        QTest::newRow("a file in the way") << "file" << false << QFileDevice::Permissions();
    }

    void createsOnlyWhatIsMissing()
    {
        QFETCH(QString, existing);
        QFETCH(bool, exists);
        QFETCH(QFileDevice::Permissions, permissions);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString path = root.filePath(QStringLiteral("a/b/private"));
        if (existing == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(QFile::setPermissions(path, permissions));
        } else if (existing == QLatin1String("file")) {
            QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("a/b"))));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        QCOMPARE(OwnerOnlyFolder::ensure(path), exists);

        QCOMPARE(QFileInfo(path).isDir(), exists);
        if (exists)
            QCOMPARE(permissionsOf(path), permissions);
        QVERIFY(QFileInfo(root.filePath(QStringLiteral("a/b"))).isDir());
    }
};

QTEST_GUILESS_MAIN(tst_OwnerOnlyFolder)
#include "tst_OwnerOnlyFolder.moc"
