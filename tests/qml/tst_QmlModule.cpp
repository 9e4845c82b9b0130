#include "testsupport/QmlTestSetup.h"

#include <QFile>
#include <QHash>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSet>
#include <QTest>
#include <memory>
#include <optional>

namespace {

const QString kModuleRoot = QStringLiteral(":/qt/qml/Quorin/");

struct ModuleType
{
    QString folder;
    bool singleton = false;
};

// Every type the module may hold, with the folder it belongs in. Types arrive with the screens
// and controls that define them; one that is not there yet is absent, never elsewhere.
const QHash<QString, ModuleType> &moduleTypes()
{
    static const QHash<QString, ModuleType> types = [] {
        QHash<QString, ModuleType> table;
        const auto add = [&table](const QString &folder, const QStringList &names) {
            for (const QString &name : names)
                table.insert(name, {folder, false});
        };
        add(QStringLiteral("ui/components/"), {QStringLiteral("QuorinButton"),
                                               QStringLiteral("QuorinBackIconButton"),
                                               QStringLiteral("QuorinCheckBox"),
                                               QStringLiteral("QuorinElidedLabel"),
                                               QStringLiteral("HomeWelcomeBanner"),
                                               QStringLiteral("QuorinIcon"),
                                               QStringLiteral("QuorinTextField"),
                                               QStringLiteral("QuorinSpinner"),
                                               QStringLiteral("QuorinSlider"),
                                               QStringLiteral("QuorinSwitch"),
                                               QStringLiteral("QuorinProgressBar"),
                                               QStringLiteral("QuorinComboBox"),
                                               QStringLiteral("QuorinChevron"),
                                               QStringLiteral("QuorinDropdownPopup"),
                                               QStringLiteral("SearchableComboBox"),
                                               QStringLiteral("QuorinOTPInput"),
                                               QStringLiteral("QuorinVideoPlayer"),
                                               QStringLiteral("VideoPlaybackSession"),
                                               QStringLiteral("VideoPictureInPicture"),
                                               QStringLiteral("VideoPictureInPictureControls"),
                                               QStringLiteral("FullscreenSession"),
                                               QStringLiteral("PdfAnnotationLayer"),
                                               QStringLiteral("QuorinNotice"),
                                               QStringLiteral("QuorinFailureState"),
                                               QStringLiteral("PhoneNumberField"),
                                               QStringLiteral("EducationSelector"),
                                               QStringLiteral("FloatingSupportAction"),
                                               QStringLiteral("ResponsiveGrid"),
                                               QStringLiteral("QuorinScrollBar"),
                                               QStringLiteral("QuorinDialog"),
                                               QStringLiteral("TechnicalErrorDialog"),
                                               QStringLiteral("AnnouncementDetailsDialog"),
                                               QStringLiteral("NotificationsDropdown"),
                                               QStringLiteral("RecentlyViewedCard"),
                                               QStringLiteral("DownloadActionControl"),
                                               QStringLiteral("DownloadQualityPopup"),
                                               QStringLiteral("ResourceListTile"),
                                               QStringLiteral("CourseResourceGroup"),
                                               QStringLiteral("CourseTreeChevron"),
                                               QStringLiteral("CourseTreeGuide"),
                                               QStringLiteral("QuorinPdfViewer"),
                                               QStringLiteral("PdfSaveDialog"),
                                               QStringLiteral("QuorinWatermark"),
                                               QStringLiteral("ProtectedContentShell"),
                                               QStringLiteral("QuorinPopup"),
                                               QStringLiteral("QuorinToolTip"),
                                               QStringLiteral("QuorinShortcutsOverlay"),
                                               QStringLiteral("NavigationSelectionHighlight"),
                                               QStringLiteral("HelpCircleButton"),
                                               QStringLiteral("ActionFeedbackOverlay"),
                                               QStringLiteral("PlayerSettingsMenu"),
                                               QStringLiteral("UpdateBanner"),
                                               QStringLiteral("RequiredUpdateDialog"),
                                               QStringLiteral("ChangelogDialog"),
                                               QStringLiteral("Snackbar"),
                                               QStringLiteral("SnackbarHost")});
        // What the pages show until their screens are built.
        add(QStringLiteral("ui/components/"), {QStringLiteral("PlaceholderPage")});
        add(QStringLiteral("ui/screens/"),
            {QStringLiteral("Quiz"), QStringLiteral("AppWrapper"), QStringLiteral("Main"),
             QStringLiteral("Login"), QStringLiteral("Home"), QStringLiteral("Course"),
             QStringLiteral("OfflineVault"), QStringLiteral("ProfileSettings")});
        add(QStringLiteral("ui/features/course/"), {QStringLiteral("CourseCard")});
        add(QStringLiteral("ui/screens/settings/"),
            {QStringLiteral("ProfilePane"), QStringLiteral("SecurityPane"), QStringLiteral("AppearancePane"),
             QStringLiteral("IntegrationsPane"), QStringLiteral("AboutPane")});
        add(QStringLiteral("ui/"),
            {QStringLiteral("CourseOutline"), QStringLiteral("ResourceTypePresentation"),
             QStringLiteral("DisplayFormat")});
        add(QString(), {QStringLiteral("Theme")});
        for (const char *name : {"Theme", "DisplayFormat", "Snackbar", "VideoPlaybackSession",
                                 "CourseOutline", "ResourceTypePresentation"})
            table[QLatin1String(name)].singleton = true;
        return table;
    }();
    return types;
}

QStringList qmldirLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    const QStringList raw = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : raw) {
        if (!line.trimmed().isEmpty())
            lines.append(line);
    }
    return lines;
}

struct TypeLine
{
    bool singleton = false;
    QString name;
    QString version;
    QString path;
};

// A type line: "[singleton ]<Name> <version> <path>", single blanks between the words.
std::optional<TypeLine> parseTypeLine(const QString &line)
{
    QStringList words = line.split(QLatin1Char(' '));
    TypeLine type;
    if (words.first() == QLatin1String("singleton")) {
        type.singleton = true;
        words.removeFirst();
    }
    if (words.size() != 3 || !words.at(2).endsWith(QLatin1String(".qml")))
        return std::nullopt;
    type.name = words.at(0);
    type.version = words.at(1);
    type.path = words.at(2);
    return type;
}

} // namespace

class tst_QmlModule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_setup.applicationAvailable();
        m_setup.qmlEngineAvailable(&m_engine);
    }

    void moduleFileHasTheModuleLines()
    {
        const QStringList lines = qmldirLines(kModuleRoot + QStringLiteral("qmldir"));
        QVERIFY2(!lines.isEmpty(), "the module file is missing");
        QSet<QString> directives;
        for (const QString &line : lines) {
            if (!parseTypeLine(line))
                directives.insert(line);
        }
        const QSet<QString> expected{QStringLiteral("module Quorin"),
                                     QStringLiteral("linktarget quorin_uiplugin"),
                                     QStringLiteral("optional plugin quorin_uiplugin"),
                                     QStringLiteral("classname QuorinPlugin"),
                                     QStringLiteral("typeinfo quorin_ui.qmltypes"),
                                     QStringLiteral("prefer :/qt/qml/Quorin/"),
                                     QStringLiteral("depends QtQuick")};
        QCOMPARE(directives, expected);
    }

    void typeLinesNameKnownTypesInTheirFolders()
    {
        const QStringList lines = qmldirLines(kModuleRoot + QStringLiteral("qmldir"));
        QSet<QString> present;
        for (const QString &line : lines) {
            const std::optional<TypeLine> type = parseTypeLine(line);
            if (!type)
                continue;
            QVERIFY2(moduleTypes().contains(type->name), qPrintable(QStringLiteral("unknown type: ") + line));
            const ModuleType expected = moduleTypes().value(type->name);
            QCOMPARE(type->version, QStringLiteral("1.0"));
            QCOMPARE(type->path, expected.folder + type->name + QStringLiteral(".qml"));
            QVERIFY2(type->singleton == expected.singleton, qPrintable(line));
            QVERIFY2(QFile::exists(kModuleRoot + type->path), qPrintable(type->path));
            QVERIFY2(!present.contains(type->name), qPrintable(QStringLiteral("listed twice: ") + line));
            present.insert(type->name);
        }
        for (const char *name : {"Theme", "DisplayFormat", "Main", "ProfileSettings", "ProfilePane",
                                 "SecurityPane", "AppearancePane", "IntegrationsPane", "AboutPane"})
            QVERIFY2(present.contains(QLatin1String(name)), name);
    }

    void subfolderModuleFilesPreferTheModule_data()
    {
        QTest::addColumn<QString>("folder");
        for (const char *folder :
             {"ui/", "ui/components/", "ui/screens/", "ui/screens/settings/", "ui/features/course/"})
            QTest::newRow(folder) << QString::fromLatin1(folder);
    }

    void subfolderModuleFilesPreferTheModule()
    {
        QFETCH(QString, folder);
        QFile file(kModuleRoot + folder + QStringLiteral("qmldir"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QString content = QString::fromUtf8(file.readAll());
        if (content.endsWith(QLatin1Char('\n')))
            content.chop(1);
        QCOMPARE(content, QStringLiteral("prefer :/qt/qml/Quorin/"));
    }

    // A document placed in any folder of the module, as the page stack loads pages by URL, sees
    // the module's singletons through "import Quorin".
    void documentsInEveryFolderSeeTheModule_data() { subfolderModuleFilesPreferTheModule_data(); }

    void documentsInEveryFolderSeeTheModule()
    {
        QFETCH(QString, folder);
        QQmlComponent component(&m_engine);
        component.setData("import QtQuick\nimport Quorin\n"
                          "QtObject {\n"
                          "    readonly property string family: Theme.fontFamily\n"
                          "    readonly property string size: DisplayFormat.bytes(1073741824)\n"
                          "}\n",
                          QUrl(QStringLiteral("qrc:/qt/qml/Quorin/") + folder + QStringLiteral("Probe.qml")));
        const std::unique_ptr<QObject> probe(component.create());
        QVERIFY2(probe, qPrintable(component.errorString()));
        QCOMPARE(probe->property("family").toString(), QStringLiteral("IBM Plex Sans Arabic"));
        QCOMPARE(probe->property("size").toString(), QStringLiteral("1.0 GB"));
    }

private:
    quorin::test::QmlTestSetup m_setup;
    QQmlEngine m_engine;
};

QTEST_MAIN(tst_QmlModule)
#include "tst_QmlModule.moc"
