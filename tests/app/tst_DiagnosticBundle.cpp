#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "app/SettingsController.h"
#include "app/StoredZipWriter.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

using quorin::StoredZipWriter;
using SystemValues = QMap<QString, QString>;

namespace {

const QStringList kSystemKeys = {
    QStringLiteral("app_version"),          QStringLiteral("build_number"),
    QStringLiteral("source_commit"),        QStringLiteral("qt_version"),
    QStringLiteral("media_backend"),        QStringLiteral("render_backend"),
    QStringLiteral("platform_plugin"),      QStringLiteral("os"),
    QStringLiteral("architecture"),         QStringLiteral("locale"),
    QStringLiteral("layout_direction"),     QStringLiteral("animation_speed"),
    QStringLiteral("detailed_diagnostics"), QStringLiteral("detailed_expiry_utc"),
    QStringLiteral("log_time_start_utc"),   QStringLiteral("log_time_end_utc"),
    QStringLiteral("dropped_events"),       QStringLiteral("failure_code"),
};

// The CRC-32 of ZIP, bit by bit, apart from the writer's table.
quint32 bitwiseCrc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFU;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
    return ~crc;
}

// Reads a stored ZIP archive back and checks every field the writer must fill in; error() names
// the first that is wrong.
class ZipInspector
{
public:
    struct Entry
    {
        QByteArray name;
        QByteArray data;
        quint32 crc = 0;
    };

    explicit ZipInspector(QByteArray archive)
        : m_archive(std::move(archive))
    {
        inspect();
    }

    [[nodiscard]] QString error() const { return m_error; }
    [[nodiscard]] QList<Entry> entries() const { return m_entries; }
    [[nodiscard]] QByteArray data(const QByteArray &name) const
    {
        for (const Entry &entry : m_entries) {
            if (entry.name == name)
                return entry.data;
        }
        return {};
    }
    [[nodiscard]] QStringList names() const
    {
        QStringList list;
        for (const Entry &entry : m_entries)
            list.append(QString::fromUtf8(entry.name));
        return list;
    }

private:
    QByteArray m_archive;
    QList<Entry> m_entries;
    QString m_error;

    [[nodiscard]] quint32 read32(qsizetype at) const
    {
        return at + 4 <= m_archive.size() ? qFromLittleEndian<quint32>(m_archive.constData() + at)
                                          : 0xFFFFFFFFU;
    }
    [[nodiscard]] quint16 read16(qsizetype at) const
    {
        return at + 2 <= m_archive.size() ? qFromLittleEndian<quint16>(m_archive.constData() + at) : 0xFFFFU;
    }
    bool expect(bool holds, const QString &what)
    {
        if (!holds && m_error.isEmpty())
            m_error = what;
        return holds;
    }

    void inspect()
    {
        const qsizetype end = m_archive.size() - 22;
        if (!expect(end >= 0 && read32(end) == 0x06054b50, QStringLiteral("end record signature")))
            return;
        const quint16 count = read16(end + 8);
        expect(read16(end + 4) == 0 && read16(end + 6) == 0, QStringLiteral("end record disks"));
        expect(read16(end + 10) == count, QStringLiteral("end record total count"));
        expect(read16(end + 20) == 0, QStringLiteral("archive comment"));
        const quint32 centralSize = read32(end + 12);
        const quint32 centralOffset = read32(end + 16);
        if (!expect(qsizetype(centralOffset) + centralSize == end,
                    QStringLiteral("central directory bounds")))
            return;

        qsizetype record = centralOffset;
        qsizetype nextLocal = 0;
        for (int index = 0; index < count; ++index) {
            if (!expect(read32(record) == 0x02014b50, QStringLiteral("central record signature")))
                return;
            expect(read16(record + 4) == 20 && read16(record + 6) == 20, QStringLiteral("central versions"));
            expect(read16(record + 8) == 0 && read16(record + 10) == 0,
                   QStringLiteral("central flags/method"));
            expect(read16(record + 12) == 0 && read16(record + 14) == 0, QStringLiteral("central time/date"));
            const quint32 crc = read32(record + 16);
            const quint32 size = read32(record + 20);
            expect(read32(record + 24) == size, QStringLiteral("central sizes"));
            const quint16 nameLength = read16(record + 28);
            expect(read16(record + 30) == 0 && read16(record + 32) == 0,
                   QStringLiteral("central extra/comment"));
            expect(read16(record + 34) == 0 && read16(record + 36) == 0 && read32(record + 38) == 0,
                   QStringLiteral("central disk and attributes"));
            const quint32 local = read32(record + 42);
            const QByteArray name = m_archive.mid(record + 46, nameLength);
            record += 46 + nameLength;

            // Local headers follow one another from the start, in the central directory's order.
            if (!expect(local == nextLocal && read32(local) == 0x04034b50,
                        QStringLiteral("local header offset")))
                return;
            expect(read16(local + 4) == 20 && read16(local + 6) == 0 && read16(local + 8) == 0,
                   QStringLiteral("local version/flags/method"));
            expect(read16(local + 10) == 0 && read16(local + 12) == 0, QStringLiteral("local time/date"));
            expect(read32(local + 14) == crc && read32(local + 18) == size && read32(local + 22) == size,
                   QStringLiteral("local CRC and sizes"));
            expect(read16(local + 26) == nameLength && read16(local + 28) == 0,
                   QStringLiteral("local name/extra"));
            expect(m_archive.mid(local + 30, nameLength) == name, QStringLiteral("local name"));
            const QByteArray data = m_archive.mid(local + 30 + nameLength, size);
            expect(bitwiseCrc32(data) == crc, QStringLiteral("CRC-32 of ") + QString::fromUtf8(name));
            nextLocal = local + 30 + nameLength + size;
            m_entries.append({name, data, crc});
        }
        expect(nextLocal == centralOffset, QStringLiteral("central directory offset"));
        expect(record == end, QStringLiteral("central directory size"));
    }
};

struct ToolRun
{
    int exitCode = -1;
    QString output;
};

ToolRun runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, QString> systemValues(const QString &text)
{
    QMap<QString, QString> values;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines.mid(1)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

QStringList systemKeys(const QString &text)
{
    QStringList keys;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines.mid(1)) {
        if (!line.isEmpty())
            keys.append(line.section(QLatin1Char('='), 0, 0));
    }
    return keys;
}

// Every file below a folder, by path, with its contents.
QMap<QString, QByteArray> filesUnder(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator iterator(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString path = iterator.next();
        files.insert(path, readAll(path));
    }
    return files;
}

// While it lives, this process cannot make a file grow beyond the limit: writes past it fail
// (EFBIG) instead of ending the process, as they would on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_previous = {};
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace

// Captures what the controller asks the file manager to open.
class OpenedFolders : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

// Diagnostic bundles written by the settings controller from log files the test puts where the
// diagnostics log keeps them, read back by the test, by unzip and by Python's zipfile.
class tst_DiagnosticBundle : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SettingsController> m_settings;
    OpenedFolders m_opened;

    static QString logPath(const QString &suffix = QString())
    {
        return DiagnosticLogger::logFilePath() + suffix;
    }
    static QString downloads() { return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation); }

    static bool writeLog(const QString &suffix, const QByteArray &content, const QDateTime &modified = {})
    {
        QDir().mkpath(QFileInfo(logPath()).absolutePath());
        QFile file(logPath(suffix));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            return false;
        // Written out first, or closing the file would stamp it again.
        return file.flush() &&
               (!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    // Saves a bundle and reads it back; an empty inspector on a failed save.
    ZipInspector saved(const QString &failureCode = QString())
    {
        const QString path = m_settings->saveDiagnosticBundle(failureCode);
        return ZipInspector(path.isEmpty() ? QByteArray() : readAll(path));
    }

    QString savedSystemText(const QString &failureCode = QString())
    {
        const ZipInspector archive = saved(failureCode);
        return archive.error().isEmpty() ? QString::fromUtf8(archive.data("system.txt")) : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void init()
    {
        m_settings = SettingsController::createWithStore(quorin::PreferencesStore::open());
        m_settings->setLanguage(QStringLiteral("en"));
        m_settings->setAnimationSpeedMultiplier(1.0F);
        m_opened.urls.clear();
    }

    void cleanup()
    {
        m_settings.reset();
        QDir(QFileInfo(logPath()).absolutePath()).removeRecursively();
        QFileInfo(downloads()).isDir() ? (void)QDir(downloads()).removeRecursively()
                                       : (void)QFile::remove(downloads());
    }

    void checksum_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint32>("crc");
        QTest::newRow("check value") << QByteArray("123456789") << quint32(0xCBF43926U);
        QTest::newRow("empty") << QByteArray() << quint32(0);
        QTest::newRow("one byte") << QByteArray("a") << quint32(0xE8B7BE43U);
        QTest::newRow("every byte value") << [] {
            QByteArray all;
            for (int value = 0; value < 256; ++value)
                all.append(char(value));
            return all;
        }() << quint32(0x29058C73U);
    }

    void checksum()
    {
        QFETCH(QByteArray, data);
        QFETCH(quint32, crc);
        QCOMPARE(StoredZipWriter::crc32(data), crc);
        QCOMPARE(bitwiseCrc32(data), crc);
    }

    void archiveHoldsTheDescriptionAndTheLogFiles()
    {
        QVERIFY(writeLog(QString(), "current record\n"));
        QVERIFY(writeLog(QStringLiteral(".2"), "older record\n"));
        QSignalSpy changed(m_settings.get(), &SettingsController::diagnosticBundleChanged);
        const QString path = m_settings->saveDiagnosticBundle(QStringLiteral("AUTH_FAILED"));
        QVERIFY(!path.isEmpty());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(m_settings->lastDiagnosticBundlePath(), path);
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(downloads()).absoluteFilePath());
        QVERIFY(QRegularExpression(QStringLiteral("^quorin-diagnostics-\\d{8}-\\d{6}\\.zip$"))
                    .match(QFileInfo(path).fileName())
                    .hasMatch());

        const ZipInspector archive(readAll(path));
        QVERIFY2(archive.error().isEmpty(), qPrintable(archive.error()));
        QCOMPARE(archive.names(),
                 (QStringList{QStringLiteral("system.txt"), QStringLiteral("logs/quorin.log"),
                              QStringLiteral("logs/quorin.log.2")}));
        QCOMPARE(archive.data("logs/quorin.log"), QByteArray("current record\n"));
        QCOMPARE(archive.data("logs/quorin.log.2"), QByteArray("older record\n"));

        const ToolRun unzip = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
        QCOMPARE(unzip.exitCode, 0);
        QVERIFY2(unzip.output.contains(QLatin1String("No errors detected")), qPrintable(unzip.output));
        // zipfile -t exits 0 even when a CRC does not match; it says so in its output.
        const ToolRun zipTest =
            runTool(QStringLiteral("python3"),
                    {QStringLiteral("-m"), QStringLiteral("zipfile"), QStringLiteral("-t"), path});
        QCOMPARE(zipTest.exitCode, 0);
        QVERIFY2(!zipTest.output.contains(QLatin1String("corrupted")), qPrintable(zipTest.output));
        const ToolRun listing =
            runTool(QStringLiteral("python3"),
                    {QStringLiteral("-c"),
                     QStringLiteral("import sys, zipfile\n"
                                    "for info in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                    "    print(info.filename, info.date_time, info.compress_type)\n"),
                     path});
        QCOMPARE(listing.exitCode, 0);
        QCOMPARE(listing.output, QStringLiteral("system.txt (1980, 0, 0, 0, 0, 0) 0\n"
                                                "logs/quorin.log (1980, 0, 0, 0, 0, 0) 0\n"
                                                "logs/quorin.log.2 (1980, 0, 0, 0, 0, 0) 0\n"));
        // The copy holds the log's contents: only the owner may read it.
        struct stat status = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(QString::number(status.st_mode & 0777, 8), QStringLiteral("600"));
    }

    void emptyLogFileGivesAnEmptyEntry()
    {
        QVERIFY(writeLog(QString(), QByteArray()));
        const ZipInspector archive = saved();
        QVERIFY2(archive.error().isEmpty(), qPrintable(archive.error()));
        QCOMPARE(archive.entries().size(), 2);
        QCOMPARE(archive.entries().last().data.size(), 0);
        QCOMPARE(archive.entries().last().crc, quint32(0));
    }

    void systemDescription_data()
    {
        QTest::addColumn<QString>("failureCode");
        QTest::addColumn<QByteArray>("mediaBackend"); // null: unset
        QTest::addColumn<float>("animationSpeed");
        QTest::addColumn<QString>("language");
        QTest::addColumn<SystemValues>("expected");

        const auto values = [](const QString &code, const QString &media, const QString &speed,
                               const QString &locale, const QString &direction) {
            return QMap<QString, QString>{{QStringLiteral("failure_code"), code},
                                          {QStringLiteral("media_backend"), media},
                                          {QStringLiteral("animation_speed"), speed},
                                          {QStringLiteral("locale"), locale},
                                          {QStringLiteral("layout_direction"), direction}};
        };
        QTest::newRow("failure code, defaults")
            << QStringLiteral("AUTH_FAILED") << QByteArray() << 1.0F << QStringLiteral("en")
            << values(DiagnosticLogger::fingerprint(QStringLiteral("AUTH_FAILED")), QStringLiteral("default"),
                      QStringLiteral("1"), QStringLiteral("en_US"), QStringLiteral("ltr"));
        QTest::newRow("no failure code, media backend set, half speed, Arabic")
            << QString() << QByteArray("gstreamer") << 0.5F << QStringLiteral("ar")
            << values(QStringLiteral("none"), QStringLiteral("gstreamer"), QStringLiteral("0.5"),
                      QStringLiteral("ar_EG"), QStringLiteral("rtl"));
        QTest::newRow("quarter speed")
            << QStringLiteral("X") << QByteArray("ffmpeg") << 0.25F << QStringLiteral("en")
            << values(DiagnosticLogger::fingerprint(QStringLiteral("X")), QStringLiteral("ffmpeg"),
                      QStringLiteral("0.25"), QStringLiteral("en_US"), QStringLiteral("ltr"));
    }

    void systemDescription()
    {
        QFETCH(QString, failureCode);
        QFETCH(QByteArray, mediaBackend);
        QFETCH(float, animationSpeed);
        QFETCH(QString, language);
        QFETCH(SystemValues, expected);

        const QByteArray previousBackend = qgetenv("QT_MEDIA_BACKEND");
        if (mediaBackend.isNull())
            qunsetenv("QT_MEDIA_BACKEND");
        else
            qputenv("QT_MEDIA_BACKEND", mediaBackend);
        m_settings->setAnimationSpeedMultiplier(animationSpeed);
        m_settings->setLanguage(language);
        const QString text = savedSystemText(failureCode);
        qputenv("QT_MEDIA_BACKEND", previousBackend);

        QVERIFY(text.startsWith(QLatin1String("Quorin desktop diagnostic bundle\n")));
        QVERIFY(text.endsWith(QLatin1Char('\n')));
        QVERIFY(!text.contains(QLatin1Char('\r')));
        QCOMPARE(systemKeys(text), kSystemKeys);
        const QMap<QString, QString> values = systemValues(text);
        for (auto item = expected.cbegin(); item != expected.cend(); ++item)
            QCOMPARE(values.value(item.key()), item.value());
        QCOMPARE(values.value(QStringLiteral("app_version")), QStringLiteral("1.0.8"));
        QCOMPARE(values.value(QStringLiteral("build_number")), QStringLiteral(QUORIN_EXPECTED_BUILD_NUMBER));
        QCOMPARE(values.value(QStringLiteral("source_commit")),
                 QStringLiteral(QUORIN_EXPECTED_SOURCE_COMMIT));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{12}$"))
                    .match(values.value(QStringLiteral("source_commit")))
                    .hasMatch());
        QCOMPARE(values.value(QStringLiteral("qt_version")), QString::fromLatin1(qVersion()));
        QCOMPARE(values.value(QStringLiteral("platform_plugin")), QStringLiteral("offscreen"));
        QCOMPARE(values.value(QStringLiteral("render_backend")),
                 QString::number(int(QQuickWindow::graphicsApi())));
        QCOMPARE(values.value(QStringLiteral("detailed_diagnostics")), QStringLiteral("0"));
        QCOMPARE(values.value(QStringLiteral("detailed_expiry_utc")), QStringLiteral("1970-01-01T00:00:00Z"));
        QCOMPARE(values.value(QStringLiteral("dropped_events")), QStringLiteral("0"));
        if (!failureCode.isEmpty())
            QVERIFY(!text.contains(failureCode + QLatin1Char('\n')) &&
                    !text.contains(QLatin1String("AUTH_FAILED")));
    }

    void overloadWithoutArgumentHasNoFailureCode()
    {
        const QString path = m_settings->saveDiagnosticBundle();
        QVERIFY(!path.isEmpty());
        const ZipInspector archive(readAll(path));
        QCOMPARE(
            systemValues(QString::fromUtf8(archive.data("system.txt"))).value(QStringLiteral("failure_code")),
            QStringLiteral("none"));
    }

    void logPeriodComesFromTheFilesModificationTimes()
    {
        const QDateTime earliest(QDate(2024, 3, 1), QTime(8, 15, 30), Qt::UTC);
        const QDateTime latest(QDate(2024, 3, 2), QTime(21, 0, 5), Qt::UTC);
        QVERIFY(writeLog(QString(), "a\n", latest));
        QVERIFY(writeLog(QStringLiteral(".1"), "b\n", earliest.addSecs(3600)));
        QVERIFY(writeLog(QStringLiteral(".4"), "c\n", earliest));
        const ZipInspector archive = saved();
        QCOMPARE(archive.names(),
                 (QStringList{QStringLiteral("system.txt"), QStringLiteral("logs/quorin.log"),
                              QStringLiteral("logs/quorin.log.1"), QStringLiteral("logs/quorin.log.4")}));
        const QMap<QString, QString> values = systemValues(QString::fromUtf8(archive.data("system.txt")));
        QCOMPARE(values.value(QStringLiteral("log_time_start_utc")), QStringLiteral("2024-03-01T08:15:30Z"));
        QCOMPARE(values.value(QStringLiteral("log_time_end_utc")), QStringLiteral("2024-03-02T21:00:05Z"));
    }

    void withoutLogFilesOnlyTheDescription()
    {
        const ZipInspector archive = saved();
        QVERIFY2(archive.error().isEmpty(), qPrintable(archive.error()));
        QCOMPARE(archive.names(), QStringList{QStringLiteral("system.txt")});
        const QString text = QString::fromUtf8(archive.data("system.txt"));
        QVERIFY(text.contains(QLatin1String("\nlog_time_start_utc=\n")));
        QVERIFY(text.contains(QLatin1String("\nlog_time_end_utc=\n")));
    }

    void logLinesAreMaskedAgainEachOnItsOwnLine()
    {
        const QByteArray longLine = QByteArray("ab ").repeated(1000);
        QVERIFY(writeLog(QString(), "called 01012345678 today\n"
                                    "fetched https://media.quorin.example/lecture.m3u8 at once\n" +
                                        longLine + "\nnext record\nlast line without end"));
        const ZipInspector archive = saved();
        const QList<QByteArray> lines = archive.data("logs/quorin.log").split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), QByteArray("called [redacted-phone] today"));
        QCOMPARE(lines.at(1), QByteArray("fetched [redacted-url] at once"));
        QCOMPARE(lines.at(2), longLine.left(2048) + "[truncated]");
        QCOMPARE(lines.at(3), QByteArray("next record"));
        QCOMPARE(lines.at(4), QByteArray("last line without end"));
    }

    void failedSaveLeavesNoPathAndNoFile_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("a file where the downloads folder should be") << QStringLiteral("folder");
        QTest::newRow("the disk takes only part of the archive") << QStringLiteral("partial write");
    }

    void failedSaveLeavesNoPathAndNoFile()
    {
        QFETCH(QString, failure);

        QVERIFY(writeLog(QString(), "record\n"));
        const QString first = m_settings->saveDiagnosticBundle();
        QVERIFY(!first.isEmpty());
        QVERIFY(!m_settings->lastDiagnosticBundlePath().isEmpty());
        // Large enough that a write limited to 4 KiB cannot finish it.
        QVERIFY(writeLog(QStringLiteral(".1"), QByteArray("older record\n").repeated(2000)));

        std::unique_ptr<FileSizeLimit> limit;
        if (failure == QLatin1String("folder")) {
            QVERIFY(QDir(downloads()).removeRecursively());
            QFile blocker(downloads());
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.write("not a folder");
        } else {
            limit = std::make_unique<FileSizeLimit>(4096);
        }
        const QMap<QString, QByteArray> before = filesUnder(QDir::homePath());

        QSignalSpy changed(m_settings.get(), &SettingsController::diagnosticBundleChanged);
        QCOMPARE(m_settings->saveDiagnosticBundle(QStringLiteral("AUTH_FAILED")), QString());
        limit.reset();
        QCOMPARE(m_settings->lastDiagnosticBundlePath(), QString());
        QCOMPARE(changed.size(), 1);
        // Nothing half-written anywhere; what was there before stays as it was.
        QCOMPARE(filesUnder(QDir::homePath()), before);
        // With no bundle there is nothing to reveal.
        m_settings->revealDiagnosticBundle();
        QCOMPARE(m_opened.urls.size(), 0);
    }

    void secondSaveInTheSameSecondReplacesTheFirst()
    {
        QString first;
        QString second;
        // Two saves take milliseconds; try again in the rare case they straddle a second.
        for (int attempt = 0; attempt < 5 && (first.isEmpty() || first != second); ++attempt) {
            QDir(downloads()).removeRecursively();
            first = m_settings->saveDiagnosticBundle(QStringLiteral("FIRST"));
            second = m_settings->saveDiagnosticBundle(QStringLiteral("SECOND"));
        }
        QVERIFY(!first.isEmpty());
        QCOMPARE(second, first);
        QCOMPARE(QDir(downloads()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(second).fileName()});
        const ZipInspector archive(readAll(second));
        QVERIFY2(archive.error().isEmpty(), qPrintable(archive.error()));
        QCOMPARE(
            systemValues(QString::fromUtf8(archive.data("system.txt"))).value(QStringLiteral("failure_code")),
            DiagnosticLogger::fingerprint(QStringLiteral("SECOND")));
        QCOMPARE(runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), second}).exitCode, 0);
    }

    void revealOpensTheBundlesFolder()
    {
        m_settings->revealDiagnosticBundle();
        QCOMPARE(m_opened.urls.size(), 0);
        const QString path = m_settings->saveDiagnosticBundle();
        QVERIFY(!path.isEmpty());
        m_settings->revealDiagnosticBundle();
        QCOMPARE(m_opened.urls, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(path).absolutePath())});
    }
};

QTEST_MAIN(tst_DiagnosticBundle)
#include "tst_DiagnosticBundle.moc"
