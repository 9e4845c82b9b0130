#include "app/DiagnosticLogger.h"
#include "app/SettingsController.h"

#include <QGuiApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kDetailedUntilKey = QStringLiteral("diagnostics/detailedUntilUtcMs");

bool verboseEnvironment()
{
    return qEnvironmentVariable("QUORIN_DIAGNOSTICS")
               .compare(QLatin1String("verbose"), Qt::CaseInsensitive) == 0;
}

} // namespace

class tst_SettingsController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    int m_storeNumber = 0;

    [[nodiscard]] QString storePath(int number) const
    {
        return m_folder.filePath(QStringLiteral("preferences-%1.conf").arg(number));
    }

    // A store of its own per controller, prepared with the given values.
    std::unique_ptr<QSettings> freshStore(const QVariantMap &values = {})
    {
        auto store = std::make_unique<QSettings>(storePath(++m_storeNumber), QSettings::IniFormat);
        for (auto value = values.cbegin(); value != values.cend(); ++value)
            store->setValue(value.key(), value.value());
        store->sync();
        return store;
    }

    std::unique_ptr<SettingsController> freshController(const QVariantMap &values = {}, int processors = 8)
    {
        return SettingsController::createWithStore(freshStore(values), [processors] { return processors; });
    }

    // What the controller left in its store, read back from the file.
    [[nodiscard]] QVariant storedValue(const QString &key) const
    {
        return QSettings(storePath(m_storeNumber), QSettings::IniFormat).value(key);
    }

    [[nodiscard]] bool storeContains(const QString &key) const
    {
        return QSettings(storePath(m_storeNumber), QSettings::IniFormat).contains(key);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("quorin.example"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        DiagnosticLogger::initialize();
    }

    void cleanupTestCase() { DiagnosticLogger::shutdown(); }

    void themeMigration_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("themeMode");

        QTest::newRow("legacy dark") << QVariantMap{{"isDarkTheme", true}} << "dark";
        QTest::newRow("legacy light") << QVariantMap{{"isDarkTheme", false}} << "light";
        QTest::newRow("empty store") << QVariantMap{} << "system";
    }

    void themeMigration()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, themeMode);
        const auto controller = freshController(stored);
        QCOMPARE(controller->themeMode(), themeMode);
        QCOMPARE(storedValue(QStringLiteral("themeMode")).toString(), themeMode);
        QVERIFY(!storeContains(QStringLiteral("isDarkTheme")));
    }

    void storedThemeModeWinsOverTheLegacyFlag()
    {
        const auto controller = freshController({{"themeMode", "light"}, {"isDarkTheme", true}});
        QCOMPARE(controller->themeMode(), QStringLiteral("light"));
    }

    void readingTheThemeMode_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("themeMode");
        QTest::newRow("Dark") << "Dark"
                              << "dark";
        QTest::newRow("LIGHT") << "LIGHT"
                               << "light";
        QTest::newRow("purple") << "purple"
                                << "system";
        QTest::newRow("padded") << " dark"
                                << "system";
    }

    void readingTheThemeMode()
    {
        QFETCH(QString, stored);
        QFETCH(QString, themeMode);
        const auto controller = freshController({{"themeMode", stored}});
        QCOMPARE(controller->themeMode(), themeMode);
    }

    void writingTheThemeMode_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("themeMode");
        QTest::addColumn<int>("emitted");
        QTest::newRow("capitals are lowered") << "DARK"
                                              << "dark" << 1;
        QTest::newRow("light") << "light"
                               << "light" << 1;
        QTest::newRow("leading space is ignored") << " dark"
                                                  << "system" << 0;
        QTest::newRow("unknown word is ignored") << "purple"
                                                 << "system" << 0;
        QTest::newRow("current value") << "system"
                                       << "system" << 0;
    }

    void writingTheThemeMode()
    {
        QFETCH(QString, requested);
        QFETCH(QString, themeMode);
        QFETCH(int, emitted);
        const auto controller = freshController();
        QSignalSpy changed(controller.get(), &SettingsController::themeChanged);
        controller->setThemeMode(requested);
        QCOMPARE(controller->themeMode(), themeMode);
        QCOMPARE(storedValue(QStringLiteral("themeMode")).toString(), themeMode);
        QCOMPARE(changed.count(), emitted);
    }

    void paletteChangeMattersOnlyWhenFollowingTheSystem()
    {
        const auto controller = freshController();
        QSignalSpy changed(controller.get(), &SettingsController::themeChanged);
        QEvent paletteChange(QEvent::ApplicationPaletteChange);
        QCoreApplication::sendEvent(qApp, &paletteChange);
        QCOMPARE(changed.count(), 1);

        // The same event type aimed at another object is not the application's palette.
        QObject other;
        QCoreApplication::sendEvent(&other, &paletteChange);
        QCOMPARE(changed.count(), 1);

        controller->setThemeMode(QStringLiteral("dark"));
        changed.clear();
        QCoreApplication::sendEvent(qApp, &paletteChange);
        QCOMPARE(changed.count(), 0);
    }

    void effectiveDarkFollowsTheApplicationPalette()
    {
        const auto controller = freshController();
        const QPalette original = QGuiApplication::palette();
        QSignalSpy changed(controller.get(), &SettingsController::themeChanged);

        QPalette dark = original;
        dark.setColor(QPalette::Window, QColor(20, 20, 24));
        QGuiApplication::setPalette(dark);
        QVERIFY(changed.count() >= 1);
        QVERIFY(controller->effectiveDark());

        QPalette light = original;
        light.setColor(QPalette::Window, QColor(250, 250, 250));
        QGuiApplication::setPalette(light);
        QVERIFY(!controller->effectiveDark());
        controller->setThemeMode(QStringLiteral("dark"));
        QVERIFY(controller->effectiveDark());

        QGuiApplication::setPalette(original);
    }

    void normalizedLanguage_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("language");
        QTest::newRow("Arabic") << "Arabic"
                                << "ar";
        QTest::newRow("padded AR") << " AR "
                                   << "ar";
        QTest::newRow("ar_EG") << "ar_EG"
                               << "ar";
        QTest::newRow("fr") << "fr"
                            << "en";
        QTest::newRow("empty") << ""
                               << "en";
    }

    void normalizedLanguage()
    {
        QFETCH(QString, given);
        QFETCH(QString, language);
        QCOMPARE(SettingsController::normalizedLanguage(given), language);
    }

    void languageSetsLocaleDirectionAndTranslation()
    {
        const auto controller = freshController();
        QCOMPARE(controller->language(), QStringLiteral("en"));
        QSignalSpy languageChanged(controller.get(), &SettingsController::languageChanged);
        QSignalSpy directionChanged(controller.get(), &SettingsController::layoutDirectionChanged);
        const QString english = QStringLiteral("Preferences");
        QCOMPARE(QCoreApplication::translate("tst_SettingsController", "Preferences"), english);

        controller->setLanguage(QStringLiteral(" Arabic"));
        QCOMPARE(controller->language(), QStringLiteral("ar"));
        QCOMPARE(storedValue(QStringLiteral("language")).toString(), QStringLiteral("ar"));
        QCOMPARE(QLocale().name(), QStringLiteral("ar_EG"));
        QCOMPARE(controller->layoutDirection(), 1);
        QCOMPARE(QGuiApplication::layoutDirection(), Qt::RightToLeft);
        QCOMPARE(languageChanged.count(), 1);
        QCOMPARE(directionChanged.count(), 1);
        QCOMPARE(QCoreApplication::translate("tst_SettingsController", "Preferences"),
                 QString::fromUtf8("التفضيلات"));

        controller->setLanguage(QStringLiteral("AR"));
        QCOMPARE(languageChanged.count(), 1);

        controller->setLanguage(QStringLiteral("fr"));
        QCOMPARE(controller->language(), QStringLiteral("en"));
        QCOMPARE(QLocale().name(), QStringLiteral("en_US"));
        QCOMPARE(controller->layoutDirection(), 0);
        QCOMPARE(languageChanged.count(), 2);
        QCOMPARE(directionChanged.count(), 2);
        QCOMPARE(QCoreApplication::translate("tst_SettingsController", "Preferences"), english);

        controller->setLanguage(QStringLiteral("en"));
        QCOMPARE(languageChanged.count(), 2);
        QCOMPARE(directionChanged.count(), 2);
    }

    void storedLanguageIsAppliedAtConstruction()
    {
        const auto controller = freshController({{"language", "AR"}});
        QCOMPARE(controller->language(), QStringLiteral("ar"));
        QCOMPARE(QLocale().name(), QStringLiteral("ar_EG"));
        QCOMPARE(QGuiApplication::layoutDirection(), Qt::RightToLeft);
        controller->setLanguage(QStringLiteral("en"));
        QCOMPARE(QGuiApplication::layoutDirection(), Qt::LeftToRight);
    }

    void animationDefaultFromProcessors_data()
    {
        QTest::addColumn<int>("processors");
        QTest::addColumn<float>("multiplier");
        QTest::newRow("16") << 16 << 1.0F;
        QTest::newRow("8") << 8 << 1.0F;
        QTest::newRow("6") << 6 << 0.5F;
        QTest::newRow("4") << 4 << 0.5F;
        QTest::newRow("3") << 3 << 0.0F;
        QTest::newRow("2") << 2 << 0.0F;
    }

    void animationDefaultFromProcessors()
    {
        QFETCH(int, processors);
        QFETCH(float, multiplier);
        const auto controller = freshController({}, processors);
        QCOMPARE(controller->animationSpeedMultiplier(), multiplier);
        QCOMPARE(storedValue(QStringLiteral("animationSpeedMultiplier")).toFloat(), multiplier);
    }

    void storedAnimationSpeedIsKept()
    {
        const auto controller = freshController({{"animationSpeedMultiplier", 1.75}}, 2);
        QCOMPARE(controller->animationSpeedMultiplier(), 1.75F);
    }

    void animationSpeedChanges_data()
    {
        QTest::addColumn<float>("from");
        QTest::addColumn<float>("to");
        QTest::addColumn<bool>("changes");
        QTest::newRow("1.0 to 1.000001") << 1.0F << 1.000001F << false;
        QTest::newRow("0 to 0.25") << 0.0F << 0.25F << true;
        QTest::newRow("0 to 0") << 0.0F << 0.0F << false;
        QTest::newRow("1.0 to 1.25") << 1.0F << 1.25F << true;
        QTest::newRow("0.5 to 0") << 0.5F << 0.0F << true;
    }

    void animationSpeedChanges()
    {
        QFETCH(float, from);
        QFETCH(float, to);
        QFETCH(bool, changes);
        const auto controller = freshController({{"animationSpeedMultiplier", from}});
        QSignalSpy changed(controller.get(), &SettingsController::animationSpeedMultiplierChanged);
        controller->setAnimationSpeedMultiplier(to);
        QCOMPARE(changed.count(), changes ? 1 : 0);
        QCOMPARE(storedValue(QStringLiteral("animationSpeedMultiplier")).toFloat(), changes ? to : from);
    }

    void notificationsAlwaysAnnounce()
    {
        const auto controller = freshController();
        QVERIFY(controller->notificationsEnabled());
        QSignalSpy changed(controller.get(), &SettingsController::notificationsChanged);
        controller->setNotificationsEnabled(true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(storedValue(QStringLiteral("notificationsEnabled")).toBool(), true);
        controller->setNotificationsEnabled(false);
        QCOMPARE(changed.count(), 2);
        QVERIFY(!controller->notificationsEnabled());
    }

    void usageTelemetryAnnouncesOnlyChanges()
    {
        const auto controller = freshController();
        QVERIFY(controller->usageTelemetryEnabled());
        QSignalSpy changed(controller.get(), &SettingsController::usageTelemetryChanged);
        controller->setUsageTelemetryEnabled(true);
        QCOMPARE(changed.count(), 0);
        QVERIFY(!storeContains(QStringLiteral("usageTelemetryEnabled")));

        controller->setUsageTelemetryEnabled(false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(storedValue(QStringLiteral("usageTelemetryEnabled")).toBool(), false);
        QVERIFY(!controller->usageTelemetryEnabled());
    }

    void detailedDiagnosticsWindow()
    {
        if (verboseEnvironment())
            QSKIP("runs without QUORIN_DIAGNOSTICS=verbose");
        const auto controller = freshController();
        QVERIFY(!controller->detailedDiagnosticsEnabled());
        QSignalSpy changed(controller.get(), &SettingsController::detailedDiagnosticsChanged);

        const QDateTime before = QDateTime::currentDateTimeUtc();
        controller->setDetailedDiagnosticsEnabled(true);
        const QDateTime after = QDateTime::currentDateTimeUtc();
        QCOMPARE(changed.count(), 1);
        QVERIFY(controller->detailedDiagnosticsEnabled());
        const QDateTime until = DiagnosticLogger::detailedUntil();
        QCOMPARE(controller->detailedDiagnosticsExpiry(), until);
        QVERIFY(until >= before.addSecs(10800).addMSecs(-1));
        QVERIFY(until <= after.addSecs(10800));
        QCOMPARE(QSettings().value(kDetailedUntilKey).toLongLong(), until.toMSecsSinceEpoch());

        controller->setDetailedDiagnosticsEnabled(true);
        QCOMPARE(changed.count(), 1);

        controller->setDetailedDiagnosticsEnabled(false);
        QCOMPARE(changed.count(), 2);
        QVERIFY(!controller->detailedDiagnosticsEnabled());
        QCOMPARE(QSettings().value(kDetailedUntilKey).toLongLong(), 0);
        QCOMPARE(controller->detailedDiagnosticsExpiry().toMSecsSinceEpoch(), 0);
    }

    // Registered a second time with QUORIN_DIAGNOSTICS=verbose.
    void detailedDiagnosticsForcedByTheEnvironment()
    {
        if (!verboseEnvironment())
            QSKIP("runs with QUORIN_DIAGNOSTICS=verbose");
        const auto controller = freshController();
        QVERIFY(controller->detailedDiagnosticsEnabled());
        QSignalSpy changed(controller.get(), &SettingsController::detailedDiagnosticsChanged);
        QSettings().setValue(kDetailedUntilKey, 12345);

        controller->setDetailedDiagnosticsEnabled(true);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(QSettings().value(kDetailedUntilKey).toLongLong(), 12345);

        controller->setDetailedDiagnosticsEnabled(false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(QSettings().value(kDetailedUntilKey).toLongLong(), 0);
        QVERIFY(controller->detailedDiagnosticsEnabled());
    }

    void instanceIsOneProcessWideObject()
    {
        SettingsController *controller = SettingsController::instance();
        QCOMPARE(SettingsController::instance(), controller);
        QCOMPARE(controller->parent(), nullptr);
        const QMetaObject *meta = controller->metaObject();
        QCOMPARE(meta->classInfo(meta->indexOfClassInfo("QML.Element")).value(), "SettingsController");
        QCOMPARE(meta->classInfo(meta->indexOfClassInfo("QML.Singleton")).value(), "true");
    }
};

QTEST_MAIN(tst_SettingsController)
#include "tst_SettingsController.moc"
