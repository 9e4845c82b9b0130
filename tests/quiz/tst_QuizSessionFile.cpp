#include "quiz/QuizDomain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QString EmptyDigest =
    QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
const QString InvalidSession = QStringLiteral("Invalid saved quiz session");

// The permission bits in octal, as "0600"; empty when the path cannot be examined.
QString modeOf(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return QStringLiteral("%1").arg(int(status.st_mode & 07777), 4, 8, QLatin1Char('0'));
}

bool setMode(const QString &path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

QJsonObject session(const QString &attemptId)
{
    return {
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("quizId"), QStringLiteral("qz-201")},
        {QStringLiteral("attemptId"), attemptId},
        {QStringLiteral("attempt"), QJsonObject{{QStringLiteral("id"), attemptId},
                                                {QStringLiteral("revision"), 4},
                                                {QStringLiteral("status"), QStringLiteral("ACTIVE")}}},
        {QStringLiteral("answers"),
         QJsonObject{{QStringLiteral("q1"), 2},
                     {QStringLiteral("q5"), QStringLiteral("line one\nline two")}}},
        {QStringLiteral("pending"), QJsonObject{{QStringLiteral("q5"), QJsonValue::Null}}},
        {QStringLiteral("selfGrades"), QJsonObject{{QStringLiteral("q5"), true}}},
        {QStringLiteral("markedQuestionIds"), QJsonArray{QStringLiteral("q2")}},
        {QStringLiteral("eliminatedOptions"), QJsonObject{{QStringLiteral("q1"), QJsonArray{0, 3}}}},
        {QStringLiteral("currentQuestionIndex"), 3},
        {QStringLiteral("reviewQuestionIds"), QJsonArray()},
    };
}

// A session whose compact JSON is about the given number of bytes.
QJsonObject largeSession(qsizetype bytes)
{
    QJsonObject large = session(QStringLiteral("att-large"));
    large.insert(QStringLiteral("answers"), QJsonObject{{QStringLiteral("q5"), QString(bytes, u'x')}});
    return large;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Every file and folder below the folder, relative to it.
QStringList entriesBelow(const QString &folder)
{
    QStringList entries;
    QDirIterator iterator(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext())
        entries.append(QDir(folder).relativeFilePath(iterator.next()));
    entries.sort();
    return entries;
}

// Lowers the file size limit of the process for its lifetime, with the signal that a write past
// it raises ignored, so that the write fails with EFBIG instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_active = ::getrlimit(RLIMIT_FSIZE, &m_previous) == 0;
        if (!m_active)
            return;
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_previous;
        lowered.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    [[nodiscard]] bool active() const { return m_active; }

private:
    rlimit m_previous = {};
    void (*m_previousHandler)(int) = SIG_DFL;
    bool m_active = false;
};

} // namespace

class tst_QuizSessionFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void namesFilesByDigests_data();
    void namesFilesByDigests();
    void keepsThePathStable();
    void savesAndLoads_data();
    void savesAndLoads();
    void refusesWhenTheQuizFolderIsBlocked();
    void keepsTheEarlierFileWhenAWriteFails_data();
    void keepsTheEarlierFileWhenAWriteFails();
    void loads_data();
    void loads();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void tst_QuizSessionFile::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void tst_QuizSessionFile::namesFilesByDigests_data()
{
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QString>("quizId");
    QTest::addColumn<QString>("attemptId");
    QTest::addColumn<QString>("relativePath");

    QTest::newRow("sample ids")
        << "u-1001"
        << "qz-201"
        << "att-9"
        << "quiz-sessions/1bee97acdddc9ff5bca4d04ea02cfd05e4b460aa4aa00e0e5fb32a4a5f1d5ccc/"
           "f9c13840b255bc7e8b6dcaaf56adecb5743adad6790fb8a02432c5f122f1046e/"
           "0bb386337a16927c1a65620cab6f32569727d2efc177368af5d6c92dd04b7d3f.json";
    QTest::newRow("empty user id")
        << ""
        << "qz-201"
        << "att-9"
        << "quiz-sessions/" + EmptyDigest +
               "/f9c13840b255bc7e8b6dcaaf56adecb5743adad6790fb8a02432c5f122f1046e/"
               "0bb386337a16927c1a65620cab6f32569727d2efc177368af5d6c92dd04b7d3f.json";
    QTest::newRow("ids are not trimmed")
        << "u-1001"
        << " q1"
        << ""
        << "quiz-sessions/1bee97acdddc9ff5bca4d04ea02cfd05e4b460aa4aa00e0e5fb32a4a5f1d5ccc/"
           "5c9a7d4861ff54271e717af702167f130291fe7a915517aedd789a9281a0adde/" +
               EmptyDigest + ".json";
    QTest::newRow("untrimmed id's neighbour")
        << "u-1001"
        << "q1"
        << ""
        << "quiz-sessions/1bee97acdddc9ff5bca4d04ea02cfd05e4b460aa4aa00e0e5fb32a4a5f1d5ccc/"
           "c75de8c1b7c3ae5252091267a736a9bf57001d80e82668b3cb3cd09e2f6a43cb/" +
               EmptyDigest + ".json";
    QTest::newRow("UTF-8 of a non-Latin id")
        << QStringLiteral("اختبار") << ""
        << ""
        << "quiz-sessions/fa1333522f373b96fa6ac85e7e498219bc21978ee175100a7b38892646c6d9aa/" + EmptyDigest +
               "/" + EmptyDigest + ".json";
}

void tst_QuizSessionFile::namesFilesByDigests()
{
    QFETCH(QString, userId);
    QFETCH(QString, quizId);
    QFETCH(QString, attemptId);
    QFETCH(QString, relativePath);

    const QString folder = m_folder->path();
    const QString path = QuizDomain::sessionPath(folder, userId, quizId, attemptId);
    QCOMPARE(path, folder + u'/' + relativePath);

    static const QRegularExpression digestName(QStringLiteral("^[0-9a-f]{64}$"));
    const QStringList parts = QDir(folder).relativeFilePath(path).split(u'/');
    QCOMPARE(parts.size(), 4);
    for (const QString &name : {parts.at(1), parts.at(2), parts.at(3).chopped(5)})
        QVERIFY2(digestName.match(name).hasMatch(), qPrintable(name));
}

void tst_QuizSessionFile::keepsThePathStable()
{
    const QString folder = m_folder->path();
    const QString first =
        QuizDomain::sessionPath(folder, QStringLiteral("u"), QStringLiteral("q"), QStringLiteral("a"));
    QCOMPARE(QuizDomain::sessionPath(folder, QStringLiteral("u"), QStringLiteral("q"), QStringLiteral("a")),
             first);
    QVERIFY(QuizDomain::sessionPath(folder, QStringLiteral("u"), QStringLiteral("q"), QStringLiteral("b")) !=
            first);
}

void tst_QuizSessionFile::savesAndLoads_data()
{
    QTest::addColumn<bool>("userFolderExists");
    QTest::addColumn<bool>("earlierWideFile");

    QTest::newRow("nothing there yet") << false << false;
    QTest::newRow("the user's folder there") << true << false;
    QTest::newRow("over a 0644 file in a 0755 folder") << true << true;
}

void tst_QuizSessionFile::savesAndLoads()
{
    QFETCH(bool, userFolderExists);
    QFETCH(bool, earlierWideFile);

    const QString path = QuizDomain::sessionPath(m_folder->path(), QStringLiteral("u-1001"),
                                                 QStringLiteral("qz-201"), QStringLiteral("att-9"));
    const QString quizFolder = QFileInfo(path).absolutePath();
    const QString userFolder = QFileInfo(quizFolder).absolutePath();
    // Folders the save makes above the quiz's take the umask's mode; an existing one keeps its own.
    const mode_t umaskBits = ::umask(0);
    ::umask(umaskBits);
    QString userFolderMode = QStringLiteral("%1").arg(int(0777 & ~umaskBits), 4, 8, QLatin1Char('0'));
    if (userFolderExists) {
        QVERIFY(QDir().mkpath(userFolder));
        QVERIFY(setMode(userFolder, 0750));
        userFolderMode = QStringLiteral("0750");
    }
    if (earlierWideFile) {
        QVERIFY(QDir().mkpath(quizFolder));
        QVERIFY(setMode(quizFolder, 0755));
        QVERIFY(writeFile(path, R"({"schemaVersion":1,"attemptId":"older"})"));
        QVERIFY(setMode(path, 0644));
    }

    const QJsonObject saved = session(QStringLiteral("att-9"));
    QString error = QStringLiteral("earlier error");
    QVERIFY(QuizDomain::saveSession(path, saved, &error));
    QVERIFY(error.isEmpty());

    const QByteArray content = contentOf(path);
    QVERIFY(!content.isEmpty());
    QVERIFY(!content.contains('\n'));
    QCOMPARE(modeOf(quizFolder), QStringLiteral("0700"));
    QCOMPARE(modeOf(path), QStringLiteral("0600"));
    QCOMPARE(modeOf(userFolder), userFolderMode);
    // The replaced file leaves nothing beside the new one.
    QCOMPARE(QDir(quizFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QFileInfo(path).fileName()});

    error = QStringLiteral("earlier error");
    QCOMPARE(QuizDomain::loadSession(path, &error), saved);
    QVERIFY(error.isEmpty());
    QCOMPARE(QuizDomain::loadSession(path), saved);
}

void tst_QuizSessionFile::refusesWhenTheQuizFolderIsBlocked()
{
    const QString path = QuizDomain::sessionPath(m_folder->path(), QStringLiteral("u-1001"),
                                                 QStringLiteral("qz-201"), QStringLiteral("att-9"));
    const QString quizFolder = QFileInfo(path).absolutePath();
    QVERIFY(QDir().mkpath(QFileInfo(quizFolder).absolutePath()));
    QVERIFY(writeFile(quizFolder, "in the way"));
    const QStringList before = entriesBelow(m_folder->path());

    QString error;
    QVERIFY(!QuizDomain::saveSession(path, session(QStringLiteral("att-9")), &error));
    QCOMPARE(error, QStringLiteral("Could not create quiz storage"));
    QVERIFY(!QuizDomain::saveSession(path, session(QStringLiteral("att-9"))));

    QCOMPARE(entriesBelow(m_folder->path()), before);
    QCOMPARE(contentOf(quizFolder), QByteArray("in the way"));
}

void tst_QuizSessionFile::keepsTheEarlierFileWhenAWriteFails_data()
{
    QTest::addColumn<qsizetype>("sessionBytes");

    // Qt keeps writes below its 16 KiB buffer until the commit flushes them; larger ones go to
    // the file at once. Both must fail the save.
    QTest::newRow("cut short while flushing the buffer") << qsizetype(6 * 1024);
    QTest::newRow("cut short in the write") << qsizetype(256 * 1024);
}

void tst_QuizSessionFile::keepsTheEarlierFileWhenAWriteFails()
{
    QFETCH(qsizetype, sessionBytes);

    const QString path = QuizDomain::sessionPath(m_folder->path(), QStringLiteral("u-1001"),
                                                 QStringLiteral("qz-201"), QStringLiteral("att-9"));
    QVERIFY(QuizDomain::saveSession(path, session(QStringLiteral("att-9"))));
    const QByteArray earlier = contentOf(path);
    const QStringList entries = entriesBelow(m_folder->path());

    // The earlier file is below the limit and the new one above it.
    const rlim_t limitBytes = 4096;
    QVERIFY(earlier.size() < qsizetype(limitBytes));
    const QJsonObject large = largeSession(sessionBytes);
    bool saved = true;
    QString error;
    {
        const FileSizeLimit limit(limitBytes);
        QVERIFY(limit.active());
        saved = QuizDomain::saveSession(path, large, &error);
    }
    QVERIFY(!saved);
    QVERIFY(!error.isEmpty());
    QCOMPARE(contentOf(path), earlier);
    QCOMPARE(entriesBelow(m_folder->path()), entries);

    // The same save succeeds once the limit is gone, so the limit alone made it fail.
    QVERIFY(QuizDomain::saveSession(path, large, &error));
    QCOMPARE(QuizDomain::loadSession(path), large);
}

void tst_QuizSessionFile::loads_data()
{
    QTest::addColumn<QString>("kind"); // "missing", "folder" or "file"
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("error"); // for a refused file: the text expected

    QTest::newRow("missing") << "missing" << QByteArray() << false << "caller's text";
    QTest::newRow("not JSON") << "file" << QByteArray("not json") << false << InvalidSession;
    QTest::newRow("array") << "file" << QByteArray("[]") << false << InvalidSession;
    QTest::newRow("empty file") << "file" << QByteArray() << false << InvalidSession;
    QTest::newRow("no schema version")
        << "file" << QByteArray(R"({"attemptId":"a"})") << false << InvalidSession;
    QTest::newRow("schema version 2")
        << "file" << QByteArray(R"({"schemaVersion":2})") << false << InvalidSession;
    QTest::newRow("schema version as text")
        << "file" << QByteArray(R"({"schemaVersion":"1"})") << false << InvalidSession;
    QTest::newRow("schema version 1.5")
        << "file" << QByteArray(R"({"schemaVersion":1.5})") << false << InvalidSession;
    QTest::newRow("truncated") << "file" << QByteArray(R"({"schemaVersion":1,"attemptId":"a")") << false
                               << InvalidSession;
    QTest::newRow("a folder at the path") << "folder" << QByteArray() << false << "";
    QTest::newRow("schema version 1")
        << "file" << QByteArray(R"({"schemaVersion":1,"attemptId":"a"})") << true << "";
    QTest::newRow("schema version written 1.0")
        << "file" << QByteArray(R"({"schemaVersion":1.0})") << true << "";
}

void tst_QuizSessionFile::loads()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    QFETCH(QString, error);

    const QString path = m_folder->filePath(QStringLiteral("session.json"));
    if (kind == QLatin1String("file"))
        QVERIFY(writeFile(path, content));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));

    QString reported = QStringLiteral("caller's text");
    const QJsonObject loaded = QuizDomain::loadSession(path, &reported);
    QCOMPARE(QuizDomain::loadSession(path), loaded);
    if (valid) {
        QCOMPARE(loaded, QJsonDocument::fromJson(content).object());
        QVERIFY(reported.isEmpty());
        return;
    }
    QCOMPARE(loaded, QJsonObject());
    if (kind == QLatin1String("folder")) {
        QFile folder(path);
        QVERIFY(!folder.open(QIODevice::ReadOnly));
        QVERIFY(!reported.isEmpty());
        QCOMPARE(reported, folder.errorString());
    } else {
        QCOMPARE(reported, error);
    }
}

QTEST_APPLESS_MAIN(tst_QuizSessionFile)
#include "tst_QuizSessionFile.moc"
