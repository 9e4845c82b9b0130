#include "media/CryptoManager.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/InMemoryKeychain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <openssl/evp.h>
#include <optional>
#include <thread>
#include <vector>

using quorin::test::InMemoryKeychain;
using Operation = quorin::test::InMemoryKeychain::Operation;

namespace {

const char *const FreshProcessVariable = "QUORIN_CRYPTO_FRESH_PROCESS";
const QString UnavailableText =
    QStringLiteral("The operating system secure vault is unavailable. Unlock it and retry.");
const char *const VaultWarning = "Native secure vault failed; offline downloads remain disabled:";
const char *const ZeroIvWarning = "CryptoManager: Master key is not initialized! Returning zero IV.";

// NIST SP 800-38A, F.5.5 (CTR-AES256.Encrypt).
const QByteArray NistKey =
    QByteArray::fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const QByteArray NistIv = QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
const QByteArray NistPlaintext = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a"
                                                     "ae2d8a571e03ac9c9eb76fac45af8e51"
                                                     "30c81c46a35ce411e5fbc1191a0a52ef"
                                                     "f69f2445df4f9b17ad2b417be66c3710");
const QByteArray NistCiphertext = QByteArray::fromHex("601ec313775789a5b7a7f504bbf3d228"
                                                      "f443e3ca4d62b59aca84e990cacaf5c5"
                                                      "2b0930daa23de94ce87017ba2d84988d"
                                                      "dfc9c58db67aada613c2dd08457941a6");

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// One pass of OpenSSL's own AES-256-CTR over data, from the start of the keystream.
QByteArray opensslCtr(const QByteArray &key, const QByteArray &iv, const QByteArray &data)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
    QByteArray output(data.size(), Qt::Uninitialized);
    int written = 0;
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_ctr(), nullptr,
                           reinterpret_cast<const unsigned char *>(key.constData()),
                           reinterpret_cast<const unsigned char *>(iv.constData())) != 1 ||
        EVP_EncryptUpdate(context.get(), reinterpret_cast<unsigned char *>(output.data()), &written,
                          reinterpret_cast<const unsigned char *>(data.constData()), int(data.size())) != 1)
        return {};
    return output;
}

// The keystream block of one counter value: AES-256 of the block itself.
QByteArray aesBlock(const QByteArray &key, const QByteArray &block)
{
    return opensslCtr(key, block, QByteArray(16, '\0'));
}

// The counter block of a byte offset, worked out on two 64-bit halves.
QByteArray counterAt(const QByteArray &iv, quint64 offset)
{
    quint64 high = qFromBigEndian<quint64>(iv.constData());
    quint64 low = qFromBigEndian<quint64>(iv.constData() + 8);
    const quint64 sum = low + offset / 16;
    high += sum < low ? 1 : 0;
    QByteArray block(16, Qt::Uninitialized);
    qToBigEndian(high, block.data());
    qToBigEndian(sum, block.data() + 8);
    return block;
}

// A plain thread (ThreadSanitizer follows its join, which it cannot do for QThread::wait in an
// uninstrumented Qt), joined at the latest when the object goes.
class ScopedThread
{
public:
    explicit ScopedThread(std::function<void()> work)
        : m_work(std::move(work))
        , m_thread([this] {
            m_qthread = QThread::currentThread();
            m_work();
        })
    {
    }
    ~ScopedThread() { join(); }
    ScopedThread(const ScopedThread &) = delete;
    ScopedThread &operator=(const ScopedThread &) = delete;

    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // The thread as Qt names it; read it after join().
    [[nodiscard]] QThread *qthread() const { return m_qthread; }

private:
    std::function<void()> m_work;
    QThread *m_qthread = nullptr;
    std::thread m_thread;
};

// Every vaultStateChanged of the process-wide vault, with the state read at that moment and the
// thread that announced it.
class StateRecorder
{
public:
    StateRecorder()
    {
        m_connection = QObject::connect(
            CryptoManager::instance(), &CryptoManager::vaultStateChanged, CryptoManager::instance(),
            [this] {
                const QMutexLocker locker(&m_mutex);
                m_states.append(CryptoManager::instance()->vaultState());
                m_threads.append(QThread::currentThread());
            },
            Qt::DirectConnection);
    }
    ~StateRecorder() { QObject::disconnect(m_connection); }
    StateRecorder(const StateRecorder &) = delete;
    StateRecorder &operator=(const StateRecorder &) = delete;

    [[nodiscard]] QList<CryptoManager::VaultState> states() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_states;
    }
    [[nodiscard]] QList<QThread *> threads() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_threads;
    }

private:
    mutable QMutex m_mutex;
    QList<CryptoManager::VaultState> m_states;
    QList<QThread *> m_threads;
    QMetaObject::Connection m_connection;
};

} // namespace

class tst_CryptoManager : public QObject
{
    Q_OBJECT

private:
    InMemoryKeychain m_keychain;

    static CryptoManager *vault() { return CryptoManager::instance(); }

    [[nodiscard]] std::optional<QString> storedKey() const
    {
        return m_keychain.value(CryptoManager::masterKeyItem());
    }

    // Stores the key in the keychain as the client keeps it and loads it.
    void loadKey(const QByteArray &key)
    {
        m_keychain.setValue(CryptoManager::masterKeyItem(), QString::fromLatin1(key.toBase64()));
        vault()->init();
        QCOMPARE(vault()->vaultState(), CryptoManager::ReadySecretService);
    }

    // A failed keychain read leaves the vault Failed without a key.
    void failVault()
    {
        m_keychain.fail(Operation::Copy, QStringLiteral("Cannot autolaunch D-Bus"));
        QTest::ignoreMessage(QtWarningMsg, QByteArray(VaultWarning) + " Cannot autolaunch D-Bus");
        vault()->init();
        m_keychain.clearFaults();
        QCOMPARE(vault()->vaultState(), CryptoManager::Failed);
    }

private Q_SLOTS:
    void initTestCase() { m_keychain.installAsNative(); }
    void init() { m_keychain.clear(); }

    void nistVector()
    {
        loadKey(NistKey);
        QCOMPARE(vault()->processChunk(NistPlaintext, 0, NistIv).toHex(), NistCiphertext.toHex());
        QCOMPARE(vault()->processChunk(NistPlaintext.mid(48), 48, NistIv).toHex(),
                 NistCiphertext.mid(48).toHex());
        QCOMPARE(vault()->processChunk(NistCiphertext, 0, NistIv).toHex(), NistPlaintext.toHex());
    }

    void offsetsMatchOnePass_data()
    {
        QTest::addColumn<QByteArray>("iv");
        QTest::addColumn<qint64>("offset");
        // The counter block that the bytes at offset 16 are encrypted under.
        QTest::addColumn<QByteArray>("counterAt16");
        const QList<QPair<const char *, QByteArray>> ivs = {
            {"f0f1..ff", NistIv},
            {"00..00ffff", QByteArray::fromHex("0000000000000000000000000000ffff")},
            {"all ff", QByteArray(16, char(0xff))},
        };
        const QList<QByteArray> counters = {
            QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdff00"),
            QByteArray::fromHex("00000000000000000000000000010000"),
            QByteArray(16, '\0'),
        };
        for (qsizetype index = 0; index < ivs.size(); ++index) {
            for (const qint64 offset : {0, 1, 15, 16, 17, 31, 4103}) {
                QTest::addRow("%s at %lld", ivs.at(index).first, offset)
                    << ivs.at(index).second << offset << counters.at(index);
            }
        }
    }

    void offsetsMatchOnePass()
    {
        QFETCH(QByteArray, iv);
        QFETCH(qint64, offset);
        QFETCH(QByteArray, counterAt16);
        const QByteArray key = randomBytes(32, 7);
        loadKey(key);
        const QByteArray plain = randomBytes(4300, 11);
        const QByteArray onePass = opensslCtr(key, iv, plain);
        QCOMPARE(onePass.size(), plain.size());

        for (const qsizetype length : {1, 61}) {
            const QByteArray slice = plain.mid(offset, length);
            QCOMPARE(vault()->processChunk(slice, offset, iv).toHex(), onePass.mid(offset, length).toHex());
        }
        // The carry of the counter, stated without OpenSSL's own counter arithmetic.
        QCOMPARE(vault()->processChunk(QByteArray(16, '\0'), 16, iv).toHex(),
                 aesBlock(key, counterAt16).toHex());
    }

    void farOffsetUsesTheCounterOfItsBlock_data()
    {
        QTest::addColumn<QByteArray>("iv");
        QTest::newRow("f0f1..ff") << NistIv;
        QTest::newRow("low half carries into the high half")
            << QByteArray::fromHex("0123456789abcdeffffffff000000000");
        QTest::newRow("all ff wraps") << QByteArray(16, char(0xff));
    }

    void farOffsetUsesTheCounterOfItsBlock()
    {
        QFETCH(QByteArray, iv);
        const QByteArray key = randomBytes(32, 3);
        loadKey(key);
        const quint64 offset = (quint64(1) << 40) + 5;
        const QByteArray first = counterAt(iv, offset);
        const QByteArray second = counterAt(iv, offset + 16);
        const QByteArray keystream = (aesBlock(key, first) + aesBlock(key, second)).mid(5, 20);
        QCOMPARE(vault()->processChunk(QByteArray(20, '\0'), qint64(offset), iv).toHex(), keystream.toHex());
    }

    void piecesJoinAndTransformingTwiceRestores()
    {
        loadKey(randomBytes(32, 5));
        const QByteArray iv = randomBytes(16, 6);
        const QByteArray plain = randomBytes(100, 8);
        const QByteArray whole = vault()->processChunk(plain, 0, iv);
        QCOMPARE(whole.size(), plain.size());
        QVERIFY(whole != plain);
        QCOMPARE(vault()->processChunk(plain.left(37), 0, iv) + vault()->processChunk(plain.mid(37), 37, iv),
                 whole);
        QCOMPARE(vault()->processChunk(whole, 0, iv), plain);
        QCOMPARE(vault()->processChunk(QByteArray(), 0, iv), QByteArray());
    }

    // Into a caller's buffer, in place or not, at any offset: the bytes processChunk gives.
    void transformsIntoACallersBuffer_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::newRow("offset 0") << qint64(0);
        QTest::newRow("offset 37, inside a block") << qint64(37);
        QTest::newRow("offset 65536") << qint64(65536);
    }

    void transformsIntoACallersBuffer()
    {
        QFETCH(qint64, offset);
        loadKey(randomBytes(32, 9));
        const QByteArray iv = randomBytes(16, 10);
        const QByteArray plain = randomBytes(70000, 11);
        const QByteArray expected = vault()->processChunk(plain, offset, iv);

        QByteArray other(plain.size(), Qt::Uninitialized);
        QVERIFY(vault()->transformInto(plain.constData(), other.data(), plain.size(), offset, iv));
        QCOMPARE(other, expected);
        QByteArray inPlace = plain;
        QVERIFY(vault()->transformInto(inPlace.constData(), inPlace.data(), inPlace.size(), offset, iv));
        QCOMPARE(inPlace, expected);
        QVERIFY(vault()->transformInto(plain.constData(), other.data(), 0, offset, iv));

        failVault();
        QVERIFY(!vault()->transformInto(plain.constData(), other.data(), plain.size(), offset, iv));
    }

    void refusesWhatItCannotTransform_data()
    {
        QTest::addColumn<bool>("vaultFailed");
        QTest::addColumn<QByteArray>("iv");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("vault failed") << true << NistIv << qint64(0);
        QTest::newRow("15-byte IV") << false << NistIv.left(15) << qint64(0);
        QTest::newRow("17-byte IV") << false << NistIv + 'x' << qint64(0);
        QTest::newRow("empty IV") << false << QByteArray() << qint64(16);
        QTest::newRow("offset -1") << false << NistIv << qint64(-1);
        QTest::newRow("offset -16") << false << NistIv << qint64(-16);
        QTest::newRow("lowest offset") << false << NistIv << std::numeric_limits<qint64>::min();
    }

    void refusesWhatItCannotTransform()
    {
        QFETCH(bool, vaultFailed);
        QFETCH(QByteArray, iv);
        QFETCH(qint64, offset);
        loadKey(NistKey);
        if (vaultFailed)
            failVault();
        const QByteArray result = vault()->processChunk(NistPlaintext, offset, iv);
        QVERIFY(result != NistPlaintext);
        QCOMPARE(result, QByteArray());
    }

    void uninitializedVaultInAFreshProcess()
    {
#if defined(__SANITIZE_THREAD__)
        QSKIP("ThreadSanitizer cannot follow the fork of a process that runs threads");
#endif
        const auto child =
            quorin::test::ChildProcess::runSelf({{QLatin1String(FreshProcessVariable), QStringLiteral("1")}});
        QVERIFY2(child.succeeded, child.output.constData());
    }

    void initOutcomes_data()
    {
        QTest::addColumn<QString>("stored"); // empty: no item
        QTest::addColumn<QString>("readFault");
        QTest::addColumn<QString>("addFault");
        QTest::addColumn<CryptoManager::VaultState>("state");
        // What the keychain holds afterwards: the stored value, or a new key.
        QTest::addColumn<bool>("keyReplaced");

        const QString valid = QString::fromLatin1(NistKey.toBase64());
        QTest::newRow("absent") << QString() << QString() << QString() << CryptoManager::ReadySecretService
                                << true;
        QTest::newRow("valid key") << valid << QString() << QString() << CryptoManager::ReadySecretService
                                   << false;
        QTest::newRow("31 bytes") << QString::fromLatin1(randomBytes(31, 1).toBase64()) << QString()
                                  << QString() << CryptoManager::ReadySecretService << true;
        QTest::newRow("33 bytes") << QString::fromLatin1(randomBytes(33, 1).toBase64()) << QString()
                                  << QString() << CryptoManager::ReadySecretService << true;
        QTest::newRow("read fails, key kept") << valid << QStringLiteral("The keyring is locked") << QString()
                                              << CryptoManager::Failed << false;
        QTest::newRow("read fails, nothing made") << QString() << QStringLiteral("The keyring is locked")
                                                  << QString() << CryptoManager::Failed << false;
        QTest::newRow("write fails") << QString() << QString() << QStringLiteral("Cannot create an item")
                                     << CryptoManager::Failed << false;
    }

    void initOutcomes()
    {
        QFETCH(QString, stored);
        QFETCH(QString, readFault);
        QFETCH(QString, addFault);
        QFETCH(CryptoManager::VaultState, state);
        QFETCH(bool, keyReplaced);
        if (!stored.isEmpty())
            m_keychain.setValue(CryptoManager::masterKeyItem(), stored);
        if (!readFault.isEmpty())
            m_keychain.fail(Operation::Copy, readFault);
        if (!addFault.isEmpty())
            m_keychain.fail(Operation::Add, addFault);
        const QString storeError = readFault + addFault;
        if (!storeError.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, (QLatin1String(VaultWarning) + u' ' + storeError).toUtf8());

        vault()->init();

        QCOMPARE(vault()->vaultState(), state);
        const bool ready = state == CryptoManager::ReadySecretService;
        QCOMPARE(vault()->hasSecureVault(), ready);
        QCOMPARE(vault()->errorString(), ready ? QString() : UnavailableText);
        const QByteArray probe = vault()->processChunk(NistPlaintext, 0, NistIv);
        if (!ready) {
            QCOMPARE(probe, QByteArray());
            QCOMPARE(m_keychain.calls(Operation::Update) + m_keychain.calls(Operation::Add),
                     readFault.isEmpty() ? 2 : 0);
            QCOMPARE(storedKey(), stored.isEmpty() ? std::nullopt : std::optional<QString>(stored));
            return;
        }
        if (!keyReplaced) {
            QCOMPARE(storedKey(), stored);
            QCOMPARE(m_keychain.calls(Operation::Update) + m_keychain.calls(Operation::Add), 0);
            QCOMPARE(probe.toHex(), NistCiphertext.toHex());
            return;
        }
        const std::optional<QString> made = storedKey();
        QVERIFY(made.has_value());
        QCOMPARE(made->size(), 44);
        QVERIFY(*made != stored);
        const QByteArray key =
            QByteArray::fromBase64(made->toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        QCOMPARE(key.size(), 32);
        QCOMPARE(probe.toHex(), opensslCtr(key, NistIv, NistPlaintext).toHex());
    }

    void failedReadKeepsTheKeyForLater()
    {
        loadKey(NistKey);
        const QByteArray iv = randomBytes(16, 2);
        const QByteArray plain = randomBytes(5000, 4);
        const QByteArray encrypted = vault()->processChunk(plain, 123, iv);

        failVault();
        QCOMPARE(vault()->processChunk(encrypted, 123, iv), QByteArray());
        QCOMPARE(storedKey(), QString::fromLatin1(NistKey.toBase64()));

        // The keychain answers again: the original key comes back and old data decrypts.
        vault()->init();
        QCOMPARE(vault()->vaultState(), CryptoManager::ReadySecretService);
        QCOMPARE(vault()->processChunk(encrypted, 123, iv), plain);
        QCOMPARE(m_keychain.calls(Operation::Update) + m_keychain.calls(Operation::Add), 0);
    }

    void initAnnouncesEachStepOnItsThread_data()
    {
        QTest::addColumn<bool>("startFailed");
        QTest::addColumn<bool>("readFails");
        QTest::addColumn<CryptoManager::VaultState>("outcome");
        QTest::newRow("ready to ready") << false << false << CryptoManager::ReadySecretService;
        QTest::newRow("ready to failed") << false << true << CryptoManager::Failed;
        QTest::newRow("failed to ready") << true << false << CryptoManager::ReadySecretService;
        QTest::newRow("failed to failed") << true << true << CryptoManager::Failed;
    }

    void initAnnouncesEachStepOnItsThread()
    {
        QFETCH(bool, startFailed);
        QFETCH(bool, readFails);
        QFETCH(CryptoManager::VaultState, outcome);
        loadKey(NistKey);
        if (startFailed)
            failVault();
        if (readFails) {
            m_keychain.fail(Operation::Copy, QStringLiteral("locked"));
            QTest::ignoreMessage(QtWarningMsg, QByteArray(VaultWarning) + " locked");
        }

        const StateRecorder recorder;
        ScopedThread worker([] { vault()->init(); });
        worker.join();

        const QList<CryptoManager::VaultState> expectedStates{CryptoManager::Initializing, outcome};
        QCOMPARE(recorder.states(), expectedStates);
        const QList<QThread *> expectedThreads{worker.qthread(), worker.qthread()};
        QCOMPARE(recorder.threads(), expectedThreads);
    }

    void reinitKeepsTransformingWithTheHeldKey()
    {
        loadKey(NistKey);
        m_keychain.holdCopies(CryptoManager::masterKeyItem());
        const StateRecorder recorder;
        ScopedThread reinit([] { vault()->init(); });
        // Declared after the thread, so a failing check lets it go before waiting for it.
        const auto release = qScopeGuard([this] { m_keychain.releaseCopies(); });
        QTRY_COMPARE(m_keychain.heldCopies(), 1);
        QCOMPARE(recorder.states(), QList<CryptoManager::VaultState>{CryptoManager::Initializing});

        // A second init while the first waits in the keychain: back at once, without a signal.
        vault()->init();
        QCOMPARE(recorder.states().size(), 1);
        QCOMPARE(vault()->vaultState(), CryptoManager::Initializing);
        QVERIFY(!vault()->hasSecureVault());

        QByteArray transformed;
        ScopedThread transfer(
            [&transformed] { transformed = vault()->processChunk(NistPlaintext, 0, NistIv); });
        transfer.join();
        QCOMPARE(transformed.toHex(), NistCiphertext.toHex());

        m_keychain.releaseCopies();
        reinit.join();
        QCOMPARE(recorder.states(), (QList<CryptoManager::VaultState>{CryptoManager::Initializing,
                                                                      CryptoManager::ReadySecretService}));
        QVERIFY(vault()->hasSecureVault());
    }

    void transformsGoOnWhileTheVaultReinitialises()
    {
        const QByteArray key = randomBytes(32, 21);
        loadKey(key);
        const QByteArray iv = randomBytes(16, 22);
        const QByteArray plain = randomBytes(64 * 1024, 23);
        const QByteArray expected = opensslCtr(key, iv, plain);

        std::atomic<bool> stop{false};
        std::atomic<int> transforms{0};
        std::atomic<int> failures{0};
        std::vector<std::unique_ptr<ScopedThread>> workers;
        for (int index = 0; index < 3; ++index) {
            workers.push_back(std::make_unique<ScopedThread>([&, index] {
                const qsizetype offset = 1000 * index + 7;
                while (!stop) {
                    const QByteArray out = vault()->processChunk(plain.mid(offset, 4096), offset, iv);
                    if (out != QByteArrayView(expected).sliced(offset, 4096))
                        ++failures;
                    ++transforms;
                }
            }));
        }
        QTRY_VERIFY(transforms > 0);
        // Re-initialise until the transforms have gone on meanwhile, so the two really overlap.
        const int before = transforms;
        int rounds = 0;
        while (rounds < 50 || transforms < before + 100) {
            vault()->init();
            ++rounds;
        }
        stop = true;
        for (const auto &worker : workers)
            worker->join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(vault()->vaultState(), CryptoManager::ReadySecretService);
    }

    void masterIvDerivesFromKeyAndLecture()
    {
        loadKey(NistKey);
        const auto expected = [](const QString &lectureId) {
            return QCryptographicHash::hash(NistKey + lectureId.toUtf8(), QCryptographicHash::Sha256)
                .left(16);
        };
        const QByteArray first = vault()->getOrCreateMasterIv(QStringLiteral("L1"));
        QCOMPARE(first.toHex(), expected(QStringLiteral("L1")).toHex());
        QVERIFY(first != vault()->getOrCreateMasterIv(QStringLiteral("L2")));
        QCOMPARE(vault()->getOrCreateMasterIv(QStringLiteral(u"محاضرة-٣")).toHex(),
                 expected(QStringLiteral(u"محاضرة-٣")).toHex());

        vault()->init();
        QCOMPARE(vault()->getOrCreateMasterIv(QStringLiteral("L1")), first);

        failVault();
        QTest::ignoreMessage(QtWarningMsg, ZeroIvWarning);
        QCOMPARE(vault()->getOrCreateMasterIv(QStringLiteral("L1")), QByteArray(16, '\0'));
    }

    void threadsTransformDisjointSlicesAtOnce()
    {
        loadKey(randomBytes(32, 9));
        const QByteArray iv = randomBytes(16, 10);
        const qsizetype size = 4 * 1024 * 1024;
        const QByteArray plain = randomBytes(size, 12);
        const QByteArray expected = vault()->processChunk(plain, 0, iv);
        QCOMPARE(expected.size(), size);

        constexpr int threadCount = 8;
        constexpr int rounds = 12;
        // Unaligned slice boundaries, and unaligned chunks within each slice.
        std::vector<qsizetype> bounds{0};
        for (int index = 1; index < threadCount; ++index)
            bounds.push_back(index * size / threadCount + 13 * index - 5);
        bounds.push_back(size);

        QByteArray joined(size, '\0');
        char *const joinedData = joined.data();
        std::atomic<int> mismatches{0};
        std::vector<std::unique_ptr<ScopedThread>> workers;
        for (int index = 0; index < threadCount; ++index) {
            const qsizetype begin = bounds.at(index);
            const qsizetype end = bounds.at(index + 1);
            workers.push_back(std::make_unique<ScopedThread>([&, begin, end, index] {
                const qsizetype chunk = 4093 + 211 * index;
                for (int round = 0; round < rounds; ++round) {
                    for (qsizetype at = begin; at < end; at += chunk) {
                        const qsizetype length = qMin(chunk, end - at);
                        const QByteArray out = vault()->processChunk(plain.mid(at, length), at, iv);
                        if (out.size() != length) {
                            ++mismatches;
                            continue;
                        }
                        std::copy(out.cbegin(), out.cend(), joinedData + at);
                    }
                    if (QByteArrayView(joined).sliced(begin, end - begin) !=
                        QByteArrayView(expected).sliced(begin, end - begin))
                        ++mismatches;
                }
            }));
        }
        for (const auto &worker : workers)
            worker->join();
        QCOMPARE(mismatches.load(), 0);
        QVERIFY(joined == expected);
    }
};

// Runs in a process of its own, where nothing has initialised the vault yet.
class tst_CryptoManagerFreshProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nothingWorksBeforeInit()
    {
        CryptoManager *vault = CryptoManager::instance();
        QCOMPARE(vault->vaultState(), CryptoManager::Uninitialized);
        QVERIFY(!vault->hasSecureVault());
        QCOMPARE(vault->errorString(), QString());
        const QByteArray result = vault->processChunk(NistPlaintext, 0, NistIv);
        QVERIFY(result != NistPlaintext);
        QCOMPARE(result, QByteArray());
        QTest::ignoreMessage(QtWarningMsg, ZeroIvWarning);
        QCOMPARE(vault->getOrCreateMasterIv(QStringLiteral("L1")), QByteArray(16, '\0'));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet(FreshProcessVariable)) {
        tst_CryptoManagerFreshProcess fresh;
        return QTest::qExec(&fresh, argc, argv);
    }
    tst_CryptoManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_CryptoManager.moc"
