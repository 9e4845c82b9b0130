#include "app/SystemThemeResolver.h"

#include <QTest>

using Scheme = SystemThemeResolver::ColorScheme;

class tst_SystemThemeResolver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decidesDarkOrLight_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<int>("hint");
        QTest::addColumn<double>("lightness");
        QTest::addColumn<bool>("dark");

        // An explicit mode wins over everything the platform says.
        QTest::newRow("DARK over a light scheme") << "DARK" << Scheme::Light << -1 << 0.9 << true;
        QTest::newRow("light over a dark scheme") << "light" << Scheme::Dark << -1 << 0.1 << false;
        QTest::newRow("Light over a dark window") << "Light" << Scheme::Unknown << 1 << 0.1 << false;
        // Following the platform: its scheme first, then the hint, then the window colour.
        QTest::newRow("system, dark scheme") << "system" << Scheme::Dark << 2 << 0.9 << true;
        QTest::newRow("system, light scheme") << "system" << Scheme::Light << 1 << 0.1 << false;
        QTest::newRow("system, dark hint") << "system" << Scheme::Unknown << 1 << 0.9 << true;
        QTest::newRow("system, light hint") << "system" << Scheme::Unknown << 2 << 0.1 << false;
        QTest::newRow("system, dark window") << "system" << Scheme::Unknown << -1 << 0.49 << true;
        QTest::newRow("system, window at the middle") << "system" << Scheme::Unknown << -1 << 0.5 << false;
        QTest::newRow("unknown mode follows the platform") << "purple" << Scheme::Dark << -1 << 0.9 << true;
    }

    void decidesDarkOrLight()
    {
        QFETCH(QString, mode);
        QFETCH(Scheme, scheme);
        QFETCH(int, hint);
        QFETCH(double, lightness);
        QFETCH(bool, dark);
        QCOMPARE(SystemThemeResolver::effectiveDark(mode, scheme, hint, lightness), dark);
    }

    void windowLightnessStandsInForTheScheme()
    {
        QCOMPARE(SystemThemeResolver::schemeFromWindowLightness(0.0), Scheme::Dark);
        QCOMPARE(SystemThemeResolver::schemeFromWindowLightness(0.49), Scheme::Dark);
        QCOMPARE(SystemThemeResolver::schemeFromWindowLightness(0.5), Scheme::Light);
        QCOMPARE(SystemThemeResolver::schemeFromWindowLightness(1.0), Scheme::Light);
    }
};

QTEST_APPLESS_MAIN(tst_SystemThemeResolver)
#include "tst_SystemThemeResolver.moc"
