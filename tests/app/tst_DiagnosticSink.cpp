#include "app/DiagnosticSink.h"
#include "testsupport/StalledPipe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using quorin::test::StalledPipe;

namespace {

constexpr qint64 kSizeLimit = 8388608;
constexpr qint64 kFullSize = 8388600;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A large current file without using the disk: the size is a hole.
bool makeSparseFile(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

QString rotated(const QString &path, int number)
{
    return path + QLatin1Char('.') + QString::number(number);
}

void enqueueAll(DiagnosticSink &sink, const QStringList &lines)
{
    for (const QString &line : lines)
        QVERIFY(sink.enqueue(line));
    QVERIFY(sink.waitUntilIdle(std::chrono::seconds(10)));
}

} // namespace

class tst_DiagnosticSink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    QString m_path;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_folder.isValid());
        const QString run = QStringLiteral("%1-%2").arg(QLatin1String(QTest::currentTestFunction()),
                                                        QLatin1String(QTest::currentDataTag()));
        m_path = m_folder.filePath(run + QStringLiteral("/quorin.log"));
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    }

    void rotation_data()
    {
        QTest::addColumn<int>("rotations");
        QTest::addColumn<int>("lineBytes");
        QTest::addColumn<bool>("rotates");
        QTest::newRow("nine bytes rotate") << 4 << 9 << true;
        QTest::newRow("eight bytes fit") << 4 << 8 << false;
        QTest::newRow("no rotations delete") << 0 << 9 << true;
    }

    void rotation()
    {
        QFETCH(int, rotations);
        QFETCH(int, lineBytes);
        QFETCH(bool, rotates);

        QVERIFY(makeSparseFile(m_path, kFullSize));
        for (int number = 1; number <= 4; ++number)
            QVERIFY(writeFile(rotated(m_path, number), QByteArray::number(number)));
        const QString line(lineBytes - 1, QLatin1Char('x'));
        {
            DiagnosticSink sink(m_path, kSizeLimit, rotations, 2048);
            enqueueAll(sink, {line});
        }

        const QByteArray lineBytesWritten = line.toUtf8() + '\n';
        if (!rotates) {
            QCOMPARE(QFileInfo(m_path).size(), kFullSize + lineBytes);
            QVERIFY(readAll(m_path).endsWith(lineBytesWritten));
            for (int number = 1; number <= 4; ++number)
                QCOMPARE(readAll(rotated(m_path, number)), QByteArray::number(number));
            return;
        }
        QCOMPARE(readAll(m_path), lineBytesWritten);
        if (rotations == 0) {
            for (int number = 1; number <= 4; ++number)
                QCOMPARE(readAll(rotated(m_path, number)), QByteArray::number(number));
            return;
        }
        QCOMPARE(QFileInfo(rotated(m_path, 1)).size(), kFullSize);
        QCOMPARE(readAll(rotated(m_path, 2)), QByteArray("1"));
        QCOMPARE(readAll(rotated(m_path, 3)), QByteArray("2"));
        QCOMPARE(readAll(rotated(m_path, 4)), QByteArray("3"));
        QVERIFY(!QFile::exists(rotated(m_path, 5)));
    }

    void lineLongerThanLimitSitsAlone()
    {
        const QString longLine(40, QLatin1Char('L'));
        {
            DiagnosticSink sink(m_path, 16, 4, 2048);
            enqueueAll(sink, {QStringLiteral("short"), longLine, QStringLiteral("next")});
        }
        QCOMPARE(readAll(rotated(m_path, 2)), QByteArray("short\n"));
        QCOMPARE(readAll(rotated(m_path, 1)), longLine.toUtf8() + '\n');
        QCOMPARE(readAll(m_path), QByteArray("next\n"));
    }

    void destructorWritesEveryQueuedLine()
    {
        // One producer never contends with anyone: every line is accepted, and the destructor
        // returns only when all of them are in the file.
        QByteArray expected;
        {
            DiagnosticSink sink(m_path, kSizeLimit, 4, 2048);
            for (int index = 0; index < 2048; ++index) {
                const QString line = QStringLiteral("line %1 \u0645").arg(index);
                QVERIFY(sink.enqueue(line));
                expected += line.toUtf8() + '\n';
            }
        }
        QCOMPARE(readAll(m_path), expected);
    }

    void stoppedSinkDropsAndCounts()
    {
        DiagnosticSink sink(m_path, kSizeLimit, 4, 2048);
        enqueueAll(sink, {QStringLiteral("before")});
        sink.stop();
        QVERIFY(!sink.enqueue(QStringLiteral("after")));
        QCOMPARE(sink.droppedCount(), quint64(1));
        sink.stop();
        QCOMPARE(readAll(m_path), QByteArray("before\n"));
    }

    void fullQueueDrops_data()
    {
        QTest::addColumn<qint64>("capacity");
        QTest::addColumn<int>("queued");
        QTest::newRow("three") << qint64(3) << 3;
        QTest::newRow("raised to one") << qint64(0) << 1;
    }

    void fullQueueDrops()
    {
        QFETCH(qint64, capacity);
        QFETCH(int, queued);

        StalledPipe pipe(m_path);
        QVERIFY(pipe.isValid());
        DiagnosticSink sink(m_path, kSizeLimit, 4, capacity);
        const auto release = qScopeGuard([&] {
            pipe.startDraining();
            sink.stop();
        });
        QVERIFY(sink.enqueue(QStringLiteral("held")));
        QTRY_VERIFY(pipe.openedByWriter());

        QByteArray expected("held\n");
        for (int index = 0; index < queued; ++index) {
            QVERIFY(sink.enqueue(QString::number(index)));
            expected += QByteArray::number(index) + '\n';
        }
        QVERIFY(!sink.enqueue(QStringLiteral("dropped")));
        QCOMPARE(sink.droppedCount(), quint64(1));

        pipe.startDraining();
        sink.stop();
        QCOMPARE(pipe.finishDraining(), expected);
    }

    void privateFolderAndFile()
    {
        const QString nested = m_folder.filePath(QStringLiteral("missing/parents/diagnostics/quorin.log"));
        {
            DiagnosticSink sink(nested, kSizeLimit, 4, 2048);
            enqueueAll(sink, {QStringLiteral("private")});
        }
        const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const QFileDevice::Permissions everyone = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                  QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                  QFileDevice::WriteOther | QFileDevice::ExeOther;
        const QFileDevice::Permissions folder = QFileInfo(QFileInfo(nested).absolutePath()).permissions();
        QVERIFY(folder.testFlag(QFileDevice::ExeOwner) && (folder & owner) == owner);
        QCOMPARE(folder & everyone, QFileDevice::Permissions());
        const QFileDevice::Permissions file = QFile::permissions(nested);
        QCOMPARE(file & (owner | everyone | QFileDevice::ExeOwner), owner);
    }

    void unwritablePathLosesLinesQuietly()
    {
        // A folder where the file should be: every line is lost, nothing hangs or counts a drop.
        QVERIFY(QDir().mkpath(m_path));
        DiagnosticSink sink(m_path, kSizeLimit, 4, 2048);
        enqueueAll(sink, {QStringLiteral("one"), QStringLiteral("two")});
        QCOMPARE(sink.droppedCount(), quint64(0));
        QVERIFY(QFileInfo(m_path).isDir());
    }
};

QTEST_GUILESS_MAIN(tst_DiagnosticSink)
#include "tst_DiagnosticSink.moc"
