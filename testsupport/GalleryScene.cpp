#include "testsupport/GalleryScene.h"

#include "app/SettingsController.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace quorin::test {

namespace {

constexpr int kGalleryWidth = 1024;
constexpr int kGalleryHeight = 768;

// The interface's faces from the module's resources, made the application font as the start-up
// makes them, so a gallery looks as the client does.
void useInterfaceFontsOnce()
{
    static const bool done = [] {
        const QDir fonts(QStringLiteral(":/qt/qml/Quorin/assets/fonts"));
        QString family;
        for (const QString &file : fonts.entryList({QStringLiteral("*.ttf")})) {
            const int id = QFontDatabase::addApplicationFont(fonts.filePath(file));
            if (id >= 0 && family.isEmpty())
                family = QFontDatabase::applicationFontFamilies(id).value(0);
        }
        if (!family.isEmpty())
            QGuiApplication::setFont(QFont(family));
        return true;
    }();
    Q_UNUSED(done);
}

// A window whose whole item tree mirrors while the interface runs right to left, as the main
// window's does: pop-ups and dialogs lie in the window's overlay, outside the gallery's own tree.
std::unique_ptr<QQuickWindow> makeMirroringWindow(QQmlEngine &engine, QString *error)
{
    QQmlComponent component(&engine);
    component.setData("import QtQuick\n"
                      "import Quorin.Controllers\n"
                      "Window {\n"
                      "    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft\n"
                      "    LayoutMirroring.childrenInherit: true\n"
                      "}\n",
                      QUrl());
    std::unique_ptr<QObject> created(component.create());
    auto *window = qobject_cast<QQuickWindow *>(created.get());
    if (!window) {
        *error = component.errorString();
        return {};
    }
    created.release();
    return std::unique_ptr<QQuickWindow>(window);
}

} // namespace

GalleryScene::GalleryScene(QQmlEngine &engine)
    : m_engine(engine)
{
}

GalleryScene::~GalleryScene()
{
    // The gallery's items go before the window they are drawn in.
    m_root.reset();
    m_window.reset();
}

QList<GalleryScene::WindowSize> GalleryScene::windowSizes()
{
    return {{QStringLiteral("narrow"), QSize(640, 720)}, {QStringLiteral("wide"), QSize(1280, 800)}};
}

bool GalleryScene::load(const QUrl &gallery, const QString &themeMode, const QString &language,
                        QSize windowSize)
{
    m_root.reset();
    m_window.reset();
    m_error.clear();
    useInterfaceFontsOnce();

    SettingsController *settings = SettingsController::instance();
    settings->setThemeMode(themeMode);
    settings->setLanguage(language);

    m_window = makeMirroringWindow(m_engine, &m_error);
    if (!m_window)
        return false;
    if (windowSize.isEmpty())
        windowSize = QSize(kGalleryWidth, kGalleryHeight);
    m_window->resize(windowSize);

    QQmlComponent component(&m_engine, gallery, QQmlComponent::PreferSynchronous);
    if (component.isError()) {
        m_error = component.errorString();
        return false;
    }
    QObject *created = component.beginCreate(m_engine.rootContext());
    auto *item = qobject_cast<QQuickItem *>(created);
    if (!item) {
        m_error = created ? QStringLiteral("the gallery is not an Item") : component.errorString();
        delete created;
        return false;
    }
    m_root.reset(item);
    item->setParentItem(m_window->contentItem());
    if (followsWindowSize())
        item->setSize(windowSize);
    component.completeCreate();
    if (component.isError()) {
        m_error = component.errorString();
        return false;
    }

    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) {
        m_error = QStringLiteral("the gallery window was never exposed");
        return false;
    }
    return true;
}

bool GalleryScene::waitUntilReady(int timeoutMs)
{
    if (!m_root || !m_root->property("ready").isValid())
        return true;
    if (QTest::qWaitFor([this] { return m_root->property("ready").toBool(); }, timeoutMs))
        return true;
    m_error = QStringLiteral("the gallery never became ready");
    return false;
}

bool GalleryScene::followsWindowSize() const
{
    return m_root && m_root->property("followsWindowSize").toBool();
}

QQuickWindow *GalleryScene::window() const
{
    return m_window.get();
}

QQuickItem *GalleryScene::root() const
{
    return m_root.get();
}

QString GalleryScene::errorString() const
{
    return m_error;
}

} // namespace quorin::test
