#include "media/HlsTokenRegistry.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

using Resolution = HlsTokenRegistry::Resolution;

namespace {

TokenInfo segment(const QString &sessionId, const QString &url)
{
    TokenInfo info;
    info.sessionId = sessionId;
    info.url = url;
    info.lectureId = QStringLiteral("lecture-1");
    info.generation = 3;
    info.authorization = "Bearer old";
    info.sourceIv = QByteArray(16, '\x01');
    return info;
}

QString resourceUrl(int index)
{
    return QStringLiteral("https://media.example/v/seg-%1.ts").arg(index);
}

} // namespace

class tst_HlsTokenRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resourceKey_data()
    {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("byteRange");
        QTest::addColumn<QString>("keyUrl");
        QTest::addColumn<QByteArray>("sourceIv");
        QTest::addColumn<QByteArray>("hashedText");

        const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e7c"); // ends in '|'
        QTest::newRow("whole clear file") << "s1"
                                          << "u"
                                          << ""
                                          << "" << QByteArray() << QByteArray("2:s1|1:u|0:|0:|");
        QTest::newRow("encrypted") << "s1"
                                   << "u"
                                   << ""
                                   << "k" << iv << "2:s1|1:u|0:|1:k|16:" + iv + "|";
        QTest::newRow("byte range") << "s1"
                                    << "u"
                                    << "1000@0"
                                    << "" << QByteArray() << QByteArray("2:s1|1:u|6:1000@0|0:|");
        QTest::newRow("lengths in UTF-8 bytes") << "s1" << QStringLiteral("\u00e9") << ""
                                                << "" << QByteArray() << QByteArray("2:s1|2:\xc3\xa9|0:|0:|");
        QTest::newRow("clear file ignores its IV") << "s1"
                                                   << "u"
                                                   << ""
                                                   << "" << iv << QByteArray("2:s1|1:u|0:|0:|");
    }

    void resourceKey()
    {
        QFETCH(QString, sessionId);
        QFETCH(QString, url);
        QFETCH(QString, byteRange);
        QFETCH(QString, keyUrl);
        QFETCH(QByteArray, sourceIv);
        QFETCH(QByteArray, hashedText);
        TokenInfo info = segment(sessionId, url);
        info.byteRange = byteRange;
        info.keyUrl = keyUrl;
        info.sourceIv = sourceIv;

        QCOMPARE(HlsTokenRegistry::resourceKey(info),
                 QCryptographicHash::hash(hashedText, QCryptographicHash::Sha256));
    }

    void registeringNeedsAnActiveSession()
    {
        HlsTokenRegistry registry;
        QCOMPARE(registry.registerResource(segment("s1", resourceUrl(1))), QString());

        registry.activateSession("s1");
        const QString token = registry.registerResource(segment("s1", resourceUrl(1)));
        QVERIFY(!token.isEmpty());
        QCOMPARE(registry.resolve(token), Resolution::Resolved);
        QCOMPARE(registry.registerResource(segment("s2", resourceUrl(1))), QString());
    }

    void tokensAreStablePerResource()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        const TokenInfo first = segment("s1", resourceUrl(1));

        const QString token = registry.registerResource(first);
        static const QRegularExpression uuid(
            "^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
        QVERIFY2(uuid.match(token).hasMatch(), qPrintable(token));
        QCOMPARE(registry.registerResource(first), token);

        TokenInfo renewed = first;
        renewed.authorization = "Bearer new";
        renewed.generation = 4;
        QCOMPARE(registry.registerResource(renewed), token);
        TokenInfo resolved;
        QCOMPARE(registry.resolve(token, &resolved), Resolution::Resolved);
        QCOMPARE(resolved.authorization, QByteArray("Bearer new"));
        QCOMPARE(resolved.generation, 4u);
    }

    void differentResources_data()
    {
        QTest::addColumn<TokenInfo>("second");
        QTest::addColumn<bool>("sameToken");

        const auto changed = [](auto change) {
            TokenInfo info = segment("s1", resourceUrl(1));
            info.byteRange = "1000@0";
            info.keyUrl = "https://media.example/v/key";
            change(info);
            return info;
        };
        QTest::newRow("other byte range")
            << changed([](TokenInfo &info) { info.byteRange = "500@1000"; }) << false;
        QTest::newRow("encrypted, other IV")
            << changed([](TokenInfo &info) { info.sourceIv = QByteArray(16, '\x02'); }) << false;
        QTest::newRow("other key URL")
            << changed([](TokenInfo &info) { info.keyUrl = "https://media.example/v/key2"; }) << false;
        QTest::newRow("other session") << changed([](TokenInfo &info) { info.sessionId = "s2"; }) << false;
        QTest::newRow("other lecture and timing") << changed([](TokenInfo &info) {
            info.lectureId = "lecture-2";
            info.startMs = 4000;
            info.durationMs = 4000;
            info.renditionId = "0123456789ab";
        }) << true;
    }

    void differentResources()
    {
        QFETCH(TokenInfo, second);
        QFETCH(bool, sameToken);
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        registry.activateSession("s2");
        TokenInfo first = segment("s1", resourceUrl(1));
        first.byteRange = "1000@0";
        first.keyUrl = "https://media.example/v/key";

        const QString firstToken = registry.registerResource(first);
        const QString secondToken = registry.registerResource(second);

        QVERIFY(!secondToken.isEmpty());
        QCOMPARE(secondToken == firstToken, sameToken);
        TokenInfo resolved;
        QCOMPARE(registry.resolve(firstToken, &resolved), Resolution::Resolved);
        QCOMPARE(resolved.sessionId, sameToken ? second.sessionId : first.sessionId);
    }

    void clearSegmentIgnoresItsIv()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        TokenInfo clear = segment("s1", resourceUrl(1));
        const QString token = registry.registerResource(clear);

        clear.sourceIv = QByteArray(16, '\x02');
        QCOMPARE(registry.registerResource(clear), token);
    }

    void retiredTokensResolveAsRetired()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        registry.activateSession("s2");
        const QString token = registry.registerResource(segment("s1", resourceUrl(1)));
        const QString otherSession = registry.registerResource(segment("s2", resourceUrl(1)));

        registry.retireSession("s1");

        TokenInfo resolved;
        QCOMPARE(registry.resolve(token, &resolved), Resolution::RetiredSession);
        QCOMPARE(resolved.url, resourceUrl(1));
        QCOMPARE(resolved.sessionId, QStringLiteral("s1"));
        QCOMPARE(registry.resolve(otherSession), Resolution::Resolved);
        QCOMPARE(registry.registerResource(segment("s1", resourceUrl(2))), QString());
    }

    void unknownTokenLeavesTheRecordAlone()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        (void)registry.registerResource(segment("s1", resourceUrl(1)));
        TokenInfo untouched = segment("sentinel", "https://sentinel.example/");

        QCOMPARE(registry.resolve("00000000-0000-4000-8000-000000000000", &untouched),
                 Resolution::UnknownToken);
        QCOMPARE(registry.resolve(QString(), &untouched), Resolution::UnknownToken);
        QCOMPARE(untouched.sessionId, QStringLiteral("sentinel"));
        QCOMPARE(untouched.url, QStringLiteral("https://sentinel.example/"));
    }

    void reactivatedSessionGetsNewTokens()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        const QString old = registry.registerResource(segment("s1", resourceUrl(1)));
        registry.retireSession("s1");

        registry.activateSession("s1");
        const QString renewed = registry.registerResource(segment("s1", resourceUrl(1)));

        QVERIFY(!renewed.isEmpty());
        QVERIFY(renewed != old);
        QCOMPARE(registry.resolve(renewed), Resolution::Resolved);
        QCOMPARE(registry.resolve(old), Resolution::RetiredSession);
    }

    void retiredTokensAreBounded()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        const int owned = int(HlsTokenRegistry::RetiredTokenLimit) + 100;
        QCOMPARE(owned, 16484);
        QStringList tokens;
        for (int index = 0; index < owned; ++index)
            tokens.append(registry.registerResource(segment("s1", resourceUrl(index))));

        registry.retireSession("s1");

        int retired = 0;
        int unknown = 0;
        for (const QString &token : std::as_const(tokens)) {
            const Resolution resolution = registry.resolve(token);
            retired += resolution == Resolution::RetiredSession;
            unknown += resolution == Resolution::UnknownToken;
        }
        QCOMPARE(retired, 16384);
        QCOMPARE(unknown, 100);
    }

    void threadsShareOneTokenPerResource()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        constexpr int threadCount = 8;
        constexpr int resources = 1000;
        std::vector<QStringList> tokensByThread(threadCount);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back([&registry, &tokensByThread, thread] {
                // Each thread starts elsewhere in the list, so that first registrations collide.
                QStringList tokens(resources);
                for (int step = 0; step < resources; ++step) {
                    const int index = (step + thread * resources / threadCount) % resources;
                    tokens[index] = registry.registerResource(segment("s1", resourceUrl(index)));
                }
                tokensByThread[thread] = tokens;
            });
        }
        for (std::thread &thread : threads)
            thread.join();

        for (int thread = 1; thread < threadCount; ++thread)
            QCOMPARE(tokensByThread[thread], tokensByThread[0]);
        QCOMPARE(QSet<QString>(tokensByThread[0].cbegin(), tokensByThread[0].cend()).size(), resources);
        QVERIFY(!tokensByThread[0].contains(QString()));
    }

    void retirementRacesRegistration()
    {
        HlsTokenRegistry registry;
        registry.activateSession("s1");
        constexpr int threadCount = 8;
        constexpr int rounds = 2000;
        std::atomic<int> registrations = 0;
        std::atomic<int> unknownWhileRunning = 0;
        std::vector<QStringList> tokensByThread(threadCount);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back([&, thread] {
                QStringList &tokens = tokensByThread[thread];
                for (int round = 0; round < rounds; ++round) {
                    const QString token = registry.registerResource(segment("s1", resourceUrl(round % 500)));
                    ++registrations;
                    if (token.isEmpty())
                        continue;
                    tokens.append(token);
                    // Before the retirement it resolves, after it it is retired; never unknown.
                    if (registry.resolve(token) == Resolution::UnknownToken)
                        ++unknownWhileRunning;
                }
            });
        }
        while (registrations.load() < threadCount * rounds / 4)
            std::this_thread::yield();
        registry.retireSession("s1");
        for (std::thread &thread : threads)
            thread.join();

        QCOMPARE(unknownWhileRunning.load(), 0);
        int handedOut = 0;
        for (const QStringList &tokens : tokensByThread) {
            for (const QString &token : tokens) {
                ++handedOut;
                TokenInfo resolved;
                QCOMPARE(registry.resolve(token, &resolved), Resolution::RetiredSession);
                QCOMPARE(resolved.sessionId, QStringLiteral("s1"));
            }
        }
        QVERIFY(handedOut > 0);
        for (int index = 0; index < 500; ++index)
            QCOMPARE(registry.registerResource(segment("s1", resourceUrl(index))), QString());
    }
};

QTEST_APPLESS_MAIN(tst_HlsTokenRegistry)
#include "tst_HlsTokenRegistry.moc"
