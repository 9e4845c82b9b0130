#include "app/PreferencesStore.h"
#include "app/SettingsController.h"
#include "update/ChangelogController.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString kShippedPath = QStringLiteral(":/qt/qml/Quorin/config/changelog.json");
const QString kSeenKey = QStringLiteral("seenEntryIds");
const QString kLegacyKey = QStringLiteral("lastSeenVersion");
const QStringList kShippedIds{QStringLiteral("welcome-desktop-1"), QStringLiteral("fullscreen-media-1-4-1"),
                              QStringLiteral("playback-polish-pip-1")};

std::unique_ptr<QSettings> changelogStore()
{
    std::unique_ptr<QSettings> store = quorin::PreferencesStore::open();
    store->beginGroup(QStringLiteral("changelog"));
    return store;
}

// What the store holds under a key: an invalid variant when the key is absent.
QVariant storedList(const QString &key)
{
    const std::unique_ptr<QSettings> store = changelogStore();
    if (!store->contains(key))
        return {};
    QStringList ids = store->value(key).toStringList();
    ids.sort();
    return ids;
}

QString storedText(const QString &key)
{
    const std::unique_ptr<QSettings> store = changelogStore();
    return store->contains(key) ? store->value(key).toString() : QString();
}

QVariant sorted(QStringList ids)
{
    ids.sort();
    return ids;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList idsOf(const QVariantList &entries)
{
    QStringList ids;
    for (const QVariant &entry : entries)
        ids.append(entry.toMap().value(QStringLiteral("id")).toString());
    return ids;
}

QList<bool> expandedFlagsOf(const QVariantList &entries)
{
    QList<bool> flags;
    for (const QVariant &entry : entries)
        flags.append(entry.toMap().value(QStringLiteral("expanded")).toBool());
    return flags;
}

QList<bool> onlyFirstExpanded(qsizetype count)
{
    QList<bool> flags(count, false);
    if (count > 0)
        flags.first() = true;
    return flags;
}

QVariantMap card(const QString &category, const QString &title, const QStringList &changes)
{
    return {{QStringLiteral("category"), category},
            {QStringLiteral("title"), title},
            {QStringLiteral("changes"), changes}};
}

QVariantMap entryMap(const QString &id, const QString &version, const QString &build, const QString &title,
                     const QVariantList &cards = {})
{
    return {{QStringLiteral("id"), id},       {QStringLiteral("version"), version},
            {QStringLiteral("build"), build}, {QStringLiteral("title"), title},
            {QStringLiteral("cards"), cards}, {QStringLiteral("expanded"), true}};
}

QByteArray fileOf(const QByteArray &entries)
{
    return "{\"schemaVersion\": 2, \"entries\": [" + entries + "]}";
}

} // namespace

class tst_ChangelogController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    int m_fileNumber = 0;

    // Points the next controllers at a file holding contents.
    void useFile(const QByteArray &contents)
    {
        const QString path = m_folder.filePath(QStringLiteral("changelog-%1.json").arg(++m_fileNumber));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(contents), contents.size());
        file.close();
        qApp->setProperty("quorinChangelogPath", path);
    }

    static void useShippedFile() { qApp->setProperty("quorinChangelogPath", QString()); }

    static void setFresh(bool fresh) { qApp->setProperty("quorinFreshInstallation", fresh); }

    static std::unique_ptr<ChangelogController> start()
    {
        return std::make_unique<ChangelogController>(nullptr);
    }

    // The shipped file with one more entry, as a later release would ship it.
    static QByteArray laterFile()
    {
        QJsonObject root = QJsonDocument::fromJson(readFile(kShippedPath)).object();
        QJsonArray entries = root.value(QLatin1String("entries")).toArray();
        entries.append(QJsonObject{
            {QStringLiteral("id"), QStringLiteral("later-release-1")},
            {QStringLiteral("version"), QStringLiteral("1.1.0")},
            {QStringLiteral("title"), QJsonObject{{QStringLiteral("en"), QStringLiteral("Later")}}}});
        root.insert(QStringLiteral("entries"), entries);
        return QJsonDocument(root).toJson();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QVERIFY2(QFile::exists(kShippedPath), "the changelog resource is not linked in");
    }

    void init()
    {
        quorin::PreferencesStore::open()->remove(QStringLiteral("changelog"));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        setFresh(false);
        useShippedFile();
    }

    void startUp_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("freshStartBefore");
        QTest::addColumn<bool>("fresh");
        QTest::addColumn<QVariant>("seenBefore");
        QTest::addColumn<QString>("legacyBefore");
        QTest::addColumn<QStringList>("shownIds");
        QTest::addColumn<QVariant>("seenAfter");
        QTest::addColumn<QString>("legacyAfter");

        const QVariant absent;
        const QString welcome = kShippedIds.at(0);
        const QString fullscreen = kShippedIds.at(1);
        const QString current = kShippedIds.at(2);

        QTest::newRow("existing installation, nothing stored")
            << "shipped" << false << false << absent << QString() << kShippedIds << absent << QString();
        QTest::newRow("fresh installation marks everything seen")
            << "shipped" << false << true << absent << QString() << QStringList() << sorted(kShippedIds)
            << QString();
        QTest::newRow("later release after a fresh one shows its new entry")
            << "later" << true << false << absent << QString()
            << QStringList{QStringLiteral("later-release-1")} << sorted(kShippedIds) << QString();
        QTest::newRow("fresh flag with ids already stored keeps them")
            << "shipped" << false << true << QVariant(QStringList{welcome}) << QString()
            << QStringList{fullscreen, current} << QVariant(QStringList{welcome}) << QString();
        QTest::newRow("legacy 1.0.0")
            << "shipped" << false << false << absent << "1.0.0" << QStringList{fullscreen, current}
            << QVariant(QStringList{welcome}) << QString();
        QTest::newRow("legacy equal to an entry's version counts it seen")
            << "shipped" << false << false << absent << "1.4.1" << QStringList{current}
            << sorted({welcome, fullscreen}) << QString();
        QTest::newRow("legacy 9.0.0 never hides the current entry")
            << "shipped" << false << false << absent << "9.0.0" << QStringList{current}
            << sorted({welcome, fullscreen}) << QString();
        QTest::newRow("stored ids win over the legacy version")
            << "shipped" << false << false << QVariant(QStringList{welcome}) << "9.0.0"
            << QStringList{fullscreen, current} << QVariant(QStringList{welcome}) << "9.0.0";
        QTest::newRow("unreadable file touches nothing")
            << "unreadable" << false << true << absent << "1.0.0" << QStringList() << absent << "1.0.0";
        QTest::newRow("malformed JSON still migrates")
            << "malformed" << false << true << absent << "1.0.0" << QStringList() << QVariant(QStringList())
            << QString();
        QTest::newRow("no entries array still migrates")
            << "no entries" << false << true << absent << "1.0.0" << QStringList() << QVariant(QStringList())
            << QString();
        QTest::newRow("entries not an array still migrates")
            << "entries not an array" << false << true << absent << "1.0.0" << QStringList()
            << QVariant(QStringList()) << QString();
        QTest::newRow("fresh installation with an empty file stores an empty list")
            << "no entries" << false << true << absent << QString() << QStringList()
            << QVariant(QStringList()) << QString();
    }

    void startUp()
    {
        QFETCH(QString, file);
        QFETCH(bool, freshStartBefore);
        QFETCH(bool, fresh);
        QFETCH(QVariant, seenBefore);
        QFETCH(QString, legacyBefore);
        QFETCH(QStringList, shownIds);
        QFETCH(QVariant, seenAfter);
        QFETCH(QString, legacyAfter);

        if (freshStartBefore) {
            setFresh(true);
            QVERIFY(!start()->shouldShow());
        }
        if (seenBefore.isValid())
            changelogStore()->setValue(kSeenKey, seenBefore.toStringList());
        if (!legacyBefore.isNull())
            changelogStore()->setValue(kLegacyKey, legacyBefore);
        setFresh(fresh);
        if (file == QLatin1String("later"))
            useFile(laterFile());
        else if (file == QLatin1String("unreadable"))
            qApp->setProperty("quorinChangelogPath", m_folder.filePath(QStringLiteral("missing.json")));
        else if (file == QLatin1String("malformed"))
            useFile(R"({"entries": [{"id": "welcome-desktop-1", "version": "1.0.0"})");
        else if (file == QLatin1String("no entries"))
            useFile(R"({"schemaVersion": 2})");
        else if (file == QLatin1String("entries not an array"))
            useFile(R"({"schemaVersion": 2, "entries": {"id": "welcome-desktop-1"}})");

        const std::unique_ptr<ChangelogController> controller = start();

        QCOMPARE(idsOf(controller->entries()), shownIds);
        QCOMPARE(expandedFlagsOf(controller->entries()), onlyFirstExpanded(shownIds.size()));
        QCOMPARE(controller->shouldShow(), !shownIds.isEmpty());
        QCOMPARE(controller->mode(), ChangelogController::Automatic);
        QCOMPARE(storedList(kSeenKey), seenAfter);
        QCOMPARE(storedText(kLegacyKey), legacyAfter);
    }

    // The store keeps an empty list apart from no list at all, so a fresh start after one that
    // recorded nothing does not mark the new file's entries seen.
    void emptySeenListIsRememberedAsPresent()
    {
        useFile(R"({"schemaVersion": 2})");
        start()->dismiss();
        QCOMPARE(storedList(kSeenKey), QVariant(QStringList()));

        setFresh(true);
        useShippedFile();
        QCOMPARE(idsOf(start()->entries()), kShippedIds);
    }

    void constants()
    {
        const std::unique_ptr<ChangelogController> controller = start();
        QCOMPARE(controller->currentVersion(), QStringLiteral("1.0.8"));
        QCOMPARE(controller->currentBuild(), QStringLiteral("22"));
    }

    void entryMaps_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QVariantMap>("expected");

        QTest::newRow("current entry shows the running release")
            << QByteArray(R"({"id": "now", "current": true, "version": "9.9.9", "build": "99",
                              "title": {"en": "Now"}})")
            << entryMap(QStringLiteral("now"), QStringLiteral("1.0.8"), QStringLiteral("22"),
                        QStringLiteral("Now"));
        QTest::newRow("build given as a number")
            << QByteArray(R"({"id": "n", "version": "1.2.0", "build": 22})")
            << entryMap(QStringLiteral("n"), QStringLiteral("1.2.0"), QString(), QString());
        QTest::newRow("current as text is not current")
            << QByteArray(R"({"id": "t", "current": "true", "version": "1.1.0", "build": "7"})")
            << entryMap(QStringLiteral("t"), QStringLiteral("1.1.0"), QStringLiteral("7"), QString());
        QTest::newRow("current as the number 1 is not current")
            << QByteArray(R"({"id": "one", "current": 1, "version": "1.1.0"})")
            << entryMap(QStringLiteral("one"), QStringLiteral("1.1.0"), QString(), QString());
        QTest::newRow("version not a string")
            << QByteArray(R"({"id": "v", "version": 1.5})")
            << entryMap(QStringLiteral("v"), QString(), QString(), QString());
        QTest::newRow("cards not an array")
            << QByteArray(R"({"id": "c", "version": "1.0.0", "cards": {"category": "Playback"}})")
            << entryMap(QStringLiteral("c"), QStringLiteral("1.0.0"), QString(), QString());
        QTest::newRow("cards that are not objects")
            << QByteArray(R"({"id": "c", "version": "1.0.0", "cards": ["Playback", 3, null]})")
            << entryMap(QStringLiteral("c"), QStringLiteral("1.0.0"), QString(), QString(),
                        {card({}, {}, {}), card({}, {}, {}), card({}, {}, {})});
        QTest::newRow("changes that are not strings")
            << QByteArray(R"({"id": "c", "version": "1.0.0", "cards": [{"category": " playback ",
                              "title": {"en": "Card"}, "changes": {"en": ["a", 5, null, {"x": 1}, "b"]}}]})")
            << entryMap(QStringLiteral("c"), QStringLiteral("1.0.0"), QString(), QString(),
                        {card(QStringLiteral(" playback "), QStringLiteral("Card"),
                              {QStringLiteral("a"), QString(), QString(), QString(), QStringLiteral("b")})});
        QTest::newRow("changes not an object")
            << QByteArray(R"({"id": "c", "cards": [{"category": "Documents", "changes": ["a"]}]})")
            << entryMap(QStringLiteral("c"), QString(), QString(), QString(),
                        {card(QStringLiteral("Documents"), QString(), {})});
    }

    void entryMaps()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QVariantMap, expected);

        useFile(fileOf(entry));
        const QVariantList entries = start()->entries();

        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().toMap(), expected);
    }

    // An element without a usable id is neither listed nor recorded, whichever rule records ids.
    void elementsWithoutIdAreSkipped_data()
    {
        QTest::addColumn<bool>("fresh");
        QTest::addColumn<QString>("legacy");
        QTest::addColumn<QStringList>("shownIds");
        QTest::addColumn<QVariant>("seenAfter");

        QTest::newRow("listing") << false << QString() << QStringList{QStringLiteral("kept")} << QVariant();
        QTest::newRow("fresh installation")
            << true << QString() << QStringList() << QVariant(QStringList{QStringLiteral("kept")});
        QTest::newRow("legacy migration")
            << false << "9.0.0" << QStringList() << QVariant(QStringList{QStringLiteral("kept")});
    }

    void elementsWithoutIdAreSkipped()
    {
        QFETCH(bool, fresh);
        QFETCH(QString, legacy);
        QFETCH(QStringList, shownIds);
        QFETCH(QVariant, seenAfter);

        useFile(fileOf(R"({"id": 7, "version": "1.0.0"}, {"id": "", "version": "1.0.0"},
                          {"version": "1.0.0"}, {"id": null, "version": "1.0.0"}, 12,
                          {"id": "kept", "version": "1.0.0"})"));
        setFresh(fresh);
        if (!legacy.isNull())
            changelogStore()->setValue(kLegacyKey, legacy);

        const std::unique_ptr<ChangelogController> controller = start();

        QCOMPARE(idsOf(controller->entries()), shownIds);
        QCOMPARE(storedList(kSeenKey), seenAfter);
    }

    void language_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QByteArray>("changes");
        QTest::addColumn<QString>("expectedTitle");
        QTest::addColumn<QStringList>("expectedChanges");

        const QString english = QStringLiteral("Title");
        const QString arabic = QStringLiteral("عنوان");
        const QStringList englishLines{QStringLiteral("One"), QStringLiteral("Two")};
        const QStringList arabicLines{QStringLiteral("واحد")};

        QTest::newRow("Arabic where present")
            << "ar_EG" << QByteArray(R"({"en": "Title", "ar": "عنوان"})")
            << QByteArray(R"({"en": ["One", "Two"], "ar": ["واحد"]})") << arabic << arabicLines;
        QTest::newRow("English interface")
            << "en_US" << QByteArray(R"({"en": "Title", "ar": "عنوان"})")
            << QByteArray(R"({"en": ["One", "Two"], "ar": ["واحد"]})") << english << englishLines;
        QTest::newRow("Arabic missing") << "ar_EG" << QByteArray(R"({"en": "Title"})")
                                        << QByteArray(R"({"en": ["One", "Two"]})") << english << englishLines;
        QTest::newRow("Arabic empty")
            << "ar_EG" << QByteArray(R"({"en": "Title", "ar": ""})")
            << QByteArray(R"({"en": ["One", "Two"], "ar": []})") << english << englishLines;
        QTest::newRow("Arabic of the wrong type")
            << "ar_EG" << QByteArray(R"({"en": "Title", "ar": ["عنوان"]})")
            << QByteArray(R"({"en": ["One", "Two"], "ar": "واحد"})") << english << englishLines;
        QTest::newRow("neither language") << "ar_EG" << QByteArray(R"({"fr": "Titre"})")
                                          << QByteArray(R"({"fr": ["Un"]})") << QString() << QStringList();
        QTest::newRow("English not a string either")
            << "ar_EG" << QByteArray(R"({"en": 5})") << QByteArray(R"({"en": "One"})") << QString()
            << QStringList();
        QTest::newRow("language of another region")
            << "ar_SA" << QByteArray(R"({"en": "Title", "ar": "عنوان"})")
            << QByteArray(R"({"en": ["One", "Two"], "ar": ["واحد"]})") << arabic << arabicLines;
    }

    void language()
    {
        QFETCH(QString, locale);
        QFETCH(QByteArray, title);
        QFETCH(QByteArray, changes);
        QFETCH(QString, expectedTitle);
        QFETCH(QStringList, expectedChanges);

        QLocale::setDefault(QLocale(locale));
        useFile(fileOf(R"({"id": "l", "version": "1.0.0", "title": )" + title +
                       R"(, "cards": [{"category": "Playback", "title": )" + title + R"(, "changes": )" +
                       changes + "}]}"));

        const QVariantMap entry = start()->entries().value(0).toMap();

        QCOMPARE(entry.value(QStringLiteral("title")).toString(), expectedTitle);
        const QVariantMap firstCard = entry.value(QStringLiteral("cards")).toList().value(0).toMap();
        QCOMPARE(firstCard.value(QStringLiteral("title")).toString(), expectedTitle);
        QCOMPARE(firstCard.value(QStringLiteral("changes")).toStringList(), expectedChanges);
    }

    // The language is the one of the start: changing the preference later rebuilds nothing.
    void languageIsFixedForTheRun()
    {
        auto preferences = std::make_unique<QSettings>(m_folder.filePath(QStringLiteral("preferences.conf")),
                                                       QSettings::IniFormat);
        preferences->setValue(QStringLiteral("language"), QStringLiteral("ar"));
        const std::unique_ptr<SettingsController> settings =
            SettingsController::createWithStore(std::move(preferences));
        QCOMPARE(QLocale().name(), QStringLiteral("ar_EG"));

        const std::unique_ptr<ChangelogController> controller = start();
        const QVariantList arabicEntries = controller->entries();
        QCOMPARE(arabicEntries.first().toMap().value(QStringLiteral("title")).toString(),
                 QStringLiteral("مرحبًا بك في Quorin Desktop"));
        QSignalSpy changed(controller.get(), &ChangelogController::entriesChanged);

        settings->setLanguage(QStringLiteral("en"));

        QCOMPARE(QLocale().name(), QStringLiteral("en_US"));
        QCOMPARE(controller->entries(), arabicEntries);
        QCOMPARE(changed.count(), 0);
    }

    // Every text of the shipped file, in English exactly as it ships.
    void shippedEnglishTexts()
    {
        const QVariantList entries = start()->entries();
        const QVariantList expected{
            entryMap(
                kShippedIds.at(0), QStringLiteral("1.0.0"), QString(),
                QStringLiteral("Welcome to Quorin Desktop"),
                {card(QStringLiteral("Interface"), QStringLiteral("One place to learn"),
                      {QStringLiteral("Learn from videos, PDFs, and quizzes in one secure desktop app.")})}),
            entryMap(
                kShippedIds.at(1), QStringLiteral("1.4.1"), QString(),
                QStringLiteral("Fullscreen viewers and smoother media."),
                {card(
                    QStringLiteral("Playback"), QStringLiteral("Fullscreen and smoother media"),
                    {QStringLiteral("Use native fullscreen in video and PDF viewers with keyboard controls."),
                     QStringLiteral(
                         "Choose Fit or Fill video framing and precise playback speeds from 0.25× to 3×."),
                     QStringLiteral("PDF annotations stay aligned while zooming, scrolling, resizing, and "
                                    "using fullscreen."),
                     QStringLiteral("Improved direct and HLS video playback on Windows, plus more reliable "
                                    "offline downloads."),
                     QStringLiteral("Improved account-creation dropdown styling."),
                     QStringLiteral("See versioned “What’s new” summaries after skipping releases.")})}),
            entryMap(
                kShippedIds.at(2), QStringLiteral("1.0.8"), QStringLiteral("22"),
                QStringLiteral("Keep learning your way"),
                {card(QStringLiteral("Playback"), QStringLiteral("Picture in picture"),
                      {QStringLiteral("Keep a video playing in a resizable, always-on-top window and return "
                                      "without losing your place."),
                       QStringLiteral("See buffered ranges and use smoother seek and volume controls.")}),
                 card(QStringLiteral("Documents"), QStringLiteral("Predictable PDF exports"),
                      {QStringLiteral(
                          "PDF exports now give clearer progress and preserve annotations consistently.")}),
                 card(QStringLiteral("Interface"), QStringLiteral("Help that fits"),
                      {QStringLiteral(
                          "Keyboard shortcut help now adapts cleanly to compact and wide windows.")}),
                 card(QStringLiteral("Reliability"), QStringLiteral("Playback that recovers"),
                      {QStringLiteral("Playback recovery preserves position and intent more reliably, with "
                                      "stronger HLS handling on unstable connections.")})}),
        };
        QCOMPARE(entries.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QVariantMap entry = entries.at(i).toMap();
            entry.insert(QStringLiteral("expanded"), true);
            QCOMPARE(entry, expected.at(i).toMap());
        }
        QCOMPARE(
            QJsonDocument::fromJson(readFile(kShippedPath)).object().value(QLatin1String("schemaVersion")),
            QJsonValue(2));
    }

    // Each shipped text has its own Arabic form, in the same shape as the English one.
    void shippedArabicTexts()
    {
        const QVariantList english = start()->entries();
        QLocale::setDefault(QLocale(QStringLiteral("ar_EG")));
        const QVariantList arabic = start()->entries();

        const auto checkTranslated = [](const QString &englishText, const QString &arabicText) {
            QVERIFY2(!arabicText.isEmpty() && arabicText != englishText, qPrintable(englishText));
            QVERIFY2(arabicText.contains(QChar(0x0627)) || arabicText.contains(QChar(0x0644)),
                     qPrintable(arabicText));
        };
        QCOMPARE(arabic.size(), english.size());
        for (qsizetype i = 0; i < english.size(); ++i) {
            const QVariantMap englishEntry = english.at(i).toMap();
            const QVariantMap arabicEntry = arabic.at(i).toMap();
            checkTranslated(englishEntry.value(QStringLiteral("title")).toString(),
                            arabicEntry.value(QStringLiteral("title")).toString());
            const QVariantList englishCards = englishEntry.value(QStringLiteral("cards")).toList();
            const QVariantList arabicCards = arabicEntry.value(QStringLiteral("cards")).toList();
            QCOMPARE(arabicCards.size(), englishCards.size());
            for (qsizetype c = 0; c < englishCards.size(); ++c) {
                const QVariantMap englishCard = englishCards.at(c).toMap();
                const QVariantMap arabicCard = arabicCards.at(c).toMap();
                QCOMPARE(arabicCard.value(QStringLiteral("category")),
                         englishCard.value(QStringLiteral("category")));
                checkTranslated(englishCard.value(QStringLiteral("title")).toString(),
                                arabicCard.value(QStringLiteral("title")).toString());
                const QStringList englishLines = englishCard.value(QStringLiteral("changes")).toStringList();
                const QStringList arabicLines = arabicCard.value(QStringLiteral("changes")).toStringList();
                QCOMPARE(arabicLines.size(), englishLines.size());
                for (qsizetype l = 0; l < englishLines.size(); ++l)
                    checkTranslated(englishLines.at(l), arabicLines.at(l));
            }
        }
    }

    void dismissRecordsTheListedEntries()
    {
        changelogStore()->setValue(kSeenKey, QStringList{QStringLiteral("retired-entry")});
        useFile(laterFile());
        const std::unique_ptr<ChangelogController> controller = start();
        const QVariantList entries = controller->entries();
        QCOMPARE(entries.size(), 4);
        QSignalSpy changed(controller.get(), &ChangelogController::entriesChanged);

        controller->dismiss();

        QCOMPARE(changed.count(), 1);
        QVERIFY(!controller->shouldShow());
        QCOMPARE(controller->entries(), entries);
        QCOMPARE(controller->mode(), ChangelogController::Automatic);
        QStringList expected = kShippedIds;
        expected << QStringLiteral("later-release-1") << QStringLiteral("retired-entry");
        QCOMPARE(storedList(kSeenKey), sorted(expected));
        QVERIFY(!start()->shouldShow());
    }

    void dismissWithNothingListed()
    {
        useFile(fileOf({}));
        const std::unique_ptr<ChangelogController> controller = start();
        QVERIFY(!changelogStore()->contains(kSeenKey));
        QSignalSpy changed(controller.get(), &ChangelogController::entriesChanged);

        controller->dismiss();

        QCOMPARE(changed.count(), 1);
        QVERIFY(!controller->shouldShow());
        QCOMPARE(storedList(kSeenKey), QVariant(QStringList()));
    }

    void reopenListsTheWholeFile_data()
    {
        QTest::addColumn<QStringList>("seenBefore");

        QTest::newRow("everything seen") << kShippedIds;
        QTest::newRow("first entry seen, second shown expanded") << QStringList{kShippedIds.first()};
        QTest::newRow("nothing seen") << QStringList();
    }

    void reopenListsTheWholeFile()
    {
        QFETCH(QStringList, seenBefore);

        changelogStore()->setValue(kSeenKey, seenBefore);
        const std::unique_ptr<ChangelogController> controller = start();
        QSignalSpy changed(controller.get(), &ChangelogController::entriesChanged);

        controller->reopen();

        QCOMPARE(changed.count(), 1);
        QCOMPARE(controller->mode(), ChangelogController::History);
        QCOMPARE(idsOf(controller->entries()), kShippedIds);
        QCOMPARE(expandedFlagsOf(controller->entries()), onlyFirstExpanded(3));
        QVERIFY(controller->shouldShow());
        QCOMPARE(storedList(kSeenKey), sorted(seenBefore));

        controller->dismiss();

        QCOMPARE(storedList(kSeenKey), sorted(kShippedIds));
        QVERIFY(!controller->shouldShow());
        QCOMPARE(controller->mode(), ChangelogController::History);
    }

    void reopenWithAnUnreadableFile()
    {
        qApp->setProperty("quorinChangelogPath", m_folder.filePath(QStringLiteral("missing.json")));
        const std::unique_ptr<ChangelogController> controller = start();
        QSignalSpy changed(controller.get(), &ChangelogController::entriesChanged);

        controller->reopen();

        QCOMPARE(changed.count(), 1);
        QVERIFY(!controller->shouldShow());
        QVERIFY(controller->entries().isEmpty());
        QVERIFY(!changelogStore()->contains(kSeenKey));
    }

    void entriesSharingAnId()
    {
        useFile(fileOf(R"({"id": "twin", "version": "1.0.0", "title": {"en": "First"}},
                          {"id": "twin", "version": "1.1.0", "title": {"en": "Second"}})"));
        const std::unique_ptr<ChangelogController> controller = start();
        QCOMPARE(idsOf(controller->entries()), (QStringList{QStringLiteral("twin"), QStringLiteral("twin")}));

        controller->dismiss();

        QCOMPARE(storedList(kSeenKey), QVariant(QStringList{QStringLiteral("twin")}));
        QVERIFY(!start()->shouldShow());
    }

    // Ids are free text: the store must give back exactly what was written, however it encodes lists.
    void seenIdsSurviveTheStore_data()
    {
        QTest::addColumn<QStringList>("ids");

        QTest::newRow("lone id") << QStringList{QStringLiteral("lone")};
        QTest::newRow("lone id with a comma") << QStringList{QStringLiteral("a,b")};
        QTest::newRow("lone id with quotes") << QStringList{QStringLiteral("say \"hi\"")};
        QTest::newRow("lone id like a stored type") << QStringList{QStringLiteral("@Invalid()")};
        QTest::newRow("several") << QStringList{QStringLiteral("x, y"), QStringLiteral("it's \"quoted\""),
                                                QStringLiteral("plain"),
                                                QStringLiteral("back\\slash;semi=colon")};
    }

    void seenIdsSurviveTheStore()
    {
        QFETCH(QStringList, ids);

        QJsonArray entries;
        for (const QString &id : std::as_const(ids))
            entries.append(QJsonObject{{QStringLiteral("id"), id},
                                       {QStringLiteral("version"), QStringLiteral("1.0.0")}});
        useFile(QJsonDocument(QJsonObject{{QStringLiteral("entries"), entries}}).toJson());
        const std::unique_ptr<ChangelogController> first = start();
        QCOMPARE(idsOf(first->entries()), ids);

        first->dismiss();

        QCOMPARE(storedList(kSeenKey), sorted(ids));
        const std::unique_ptr<ChangelogController> next = start();
        QVERIFY(!next->shouldShow());
        QVERIFY(next->entries().isEmpty());
    }
};

QTEST_MAIN(tst_ChangelogController)
#include "tst_ChangelogController.moc"
