#include "tests/screenshots/ScreenshotRun.h"

#include "app/SettingsController.h"
#include "testsupport/GalleryScene.h"
#include "testsupport/NamedObjectFinder.h"
#include "update/ChangelogController.h"
#include "update/UpdateController.h"

#include <QCursor>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTest>

namespace quorin::test {

namespace {

// An empty grab: no pixels, or one colour all over (nothing was drawn).
bool isEmpty(const QImage &image)
{
    if (image.isNull() || image.width() == 0 || image.height() == 0)
        return true;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

// Long enough for a frame or two after a theme or language switch.
constexpr int kSettleMs = 150;

constexpr int kWindowWidth = 1024;
constexpr int kWindowHeight = 768;
// Below the width at which the changelog's cards stand in two columns.
constexpr int kNarrowWindowWidth = 720;

} // namespace

ScreenshotRun::ScreenshotRun(QQmlApplicationEngine &engine, Options options)
    : m_engine(engine)
    , m_options(std::move(options))
{
}

QList<ScreenshotRun::Variant> ScreenshotRun::variants()
{
    return {{QStringLiteral("light"), QStringLiteral("en")},
            {QStringLiteral("light"), QStringLiteral("ar")},
            {QStringLiteral("dark"), QStringLiteral("en")},
            {QStringLiteral("dark"), QStringLiteral("ar")}};
}

QList<ScreenshotRun::WindowScene> ScreenshotRun::windowScenes()
{
    const auto nothing = [] {};
    return {
        {QStringLiteral("login"), [] { return true; }, nothing},
        {QStringLiteral("window"), [this] { return signIn(); }, nothing},
        {QStringLiteral("window-dialog"), [this] { return openDialogWithSnackbar(); },
         [this] { closeDialogAndSnackbar(); }},
        {QStringLiteral("changelog"), [this] { return openChangelog(kWindowWidth, 2); },
         [this] { closeChangelog(); }},
        {QStringLiteral("changelog-narrow"), [this] { return openChangelog(kNarrowWindowWidth, 1); },
         [this] { closeChangelog(); }},
    };
}

bool ScreenshotRun::run()
{
    if (!m_options.outputFolder.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("cannot create %1").arg(m_options.outputFolder.path()));
    // Every control changes state at once, so a grab never catches a colour half-way; the
    // splash and the page blur keep their fixed lengths.
    SettingsController::instance()->setAnimationSpeedMultiplier(0);
    if (!waitForSplash() || !waitForReleaseCheck())
        return false;
    const QList<WindowScene> scenes = windowScenes();
    for (const WindowScene &scene : scenes) {
        if (!shootWindowScene(scene))
            return false;
    }
    return shootGalleries();
}

bool ScreenshotRun::waitForSplash()
{
    if (!mainWindow())
        return fail(QStringLiteral("the root document made no window"));
    if (!QTest::qWaitForWindowExposed(mainWindow()))
        return fail(QStringLiteral("the main window was never exposed"));
    auto *splash = qobject_cast<QQuickItem *>(find(QStringLiteral("splash")));
    if (!splash)
        return fail(QStringLiteral("the window has no splash"));
    return waitFor([splash] { return !splash->isVisible(); }, QStringLiteral("the splash to fade"));
}

bool ScreenshotRun::waitForReleaseCheck()
{
    // The start-up asks the release service once; every picture shows what it answered.
    const UpdateController *updates = UpdateController::instance();
    return waitFor(
        [updates] {
            return updates->state() != UpdateController::Idle &&
                   updates->state() != UpdateController::Checking;
        },
        QStringLiteral("the release check to end"));
}

bool ScreenshotRun::signIn()
{
    QObject *page = currentPage();
    if (!page || page->objectName() != QLatin1String("loginPage"))
        return fail(QStringLiteral("the first page is not the sign-in page"));
    QObject *mobile = find(QStringLiteral("loginPhone"));
    QObject *password = find(QStringLiteral("loginPassword"));
    QObject *button = find(QStringLiteral("loginBtn"));
    if (!mobile || !password || !button)
        return fail(QStringLiteral("the sign-in page has no form"));
    mobile->setProperty("text", m_options.mobileNumber);
    password->setProperty("text", m_options.password);
    QMetaObject::invokeMethod(button, "clicked");
    return waitFor(
        [this] {
            QObject *top = currentPage();
            return top && top->objectName() == QLatin1String("homePage") &&
                   !pageStack()->property("busy").toBool();
        },
        QStringLiteral("the home page after signing in"), 30000);
}

bool ScreenshotRun::openDialogWithSnackbar()
{
    QObject *showMessage = find(QStringLiteral("homeShowMessageButton"));
    QObject *openDialog = find(QStringLiteral("homeOpenDialogButton"));
    if (!showMessage || !openDialog)
        return fail(QStringLiteral("the home page has no message or dialog button"));
    QMetaObject::invokeMethod(showMessage, "clicked");
    QMetaObject::invokeMethod(openDialog, "clicked");
    QObject *pageStackRoot = pageStack()->parentItem();
    return waitFor([pageStackRoot] { return pageStackRoot->property("blurValue").toReal() >= 1.0; },
                   QStringLiteral("the pages to blur under the dialog"));
}

void ScreenshotRun::closeDialogAndSnackbar()
{
    if (QObject *dialog = find(QStringLiteral("homeSampleDialog")))
        QMetaObject::invokeMethod(dialog, "close");
    if (QObject *dismiss = find(QStringLiteral("snackbarDismissButton")))
        QMetaObject::invokeMethod(dismiss, "clicked");
}

// Every entry, the first one expanded; the running release's entry is expanded as well, so that
// its four cards show how the grid's columns follow the width.
bool ScreenshotRun::openChangelog(int windowWidth, int columns)
{
    mainWindow()->resize(windowWidth, kWindowHeight);
    ChangelogController::instance()->reopen();
    QObject *dialog = findInWindow(QStringLiteral("changelogDialog"));
    if (!dialog)
        return fail(QStringLiteral("the window has no changelog dialog"));
    if (!waitFor([dialog] { return dialog->property("opened").toBool(); },
                 QStringLiteral("the changelog dialog to open")))
        return false;
    const int lastEntry = int(ChangelogController::instance()->entries().size()) - 1;
    QObject *header = findInWindow(QStringLiteral("changelogEntryHeader-%1").arg(lastEntry));
    QObject *grid = findInWindow(QStringLiteral("changelogCardGrid-%1").arg(lastEntry));
    if (!header || !grid)
        return fail(QStringLiteral("the changelog dialog shows no entry"));
    QMetaObject::invokeMethod(header, "clicked");
    return waitFor([grid, columns] { return grid->property("columns").toInt() == columns; },
                   QStringLiteral("the changelog's cards in %1 columns").arg(columns));
}

void ScreenshotRun::closeChangelog()
{
    ChangelogController::instance()->dismiss();
    mainWindow()->resize(kWindowWidth, kWindowHeight);
}

bool ScreenshotRun::shootWindowScene(const WindowScene &scene)
{
    if (!scene.enter())
        return fail(QStringLiteral("could not bring about the scene %1").arg(scene.name));
    const QList<Variant> all = variants();
    for (const Variant &variant : all) {
        applyVariant(variant);
        if (!grab(mainWindow(), scene.name, variant))
            return false;
    }
    scene.leave();
    return true;
}

bool ScreenshotRun::shootGalleries()
{
    for (const QString &gallery : std::as_const(m_options.galleries)) {
        const QUrl document =
            QUrl::fromLocalFile(QDir(m_options.galleryFolder).filePath(gallery + QStringLiteral(".qml")));
        const QList<Variant> all = variants();
        for (const Variant &variant : all) {
            GalleryScene scene(m_engine);
            if (!showGallery(scene, document, variant, QSize()))
                return fail(QStringLiteral("%1 did not load: %2").arg(gallery, scene.errorString()));
            if (!scene.followsWindowSize()) {
                if (!grab(scene.window(), gallery, variant))
                    return false;
                continue;
            }
            const QList<GalleryScene::WindowSize> sizes = GalleryScene::windowSizes();
            for (const GalleryScene::WindowSize &size : sizes) {
                if (!showGallery(scene, document, variant, size.size))
                    return fail(QStringLiteral("%1 did not load %2: %3")
                                    .arg(gallery, size.name, scene.errorString()));
                if (!grab(scene.window(), gallery, variant, size.name))
                    return false;
            }
        }
    }
    return true;
}

bool ScreenshotRun::showGallery(GalleryScene &scene, const QUrl &document, const Variant &variant, QSize size)
{
    if (!scene.load(document, variant.theme, variant.language, size))
        return false;
    // The virtual display's pointer rests in the middle of the screen, where it would hover
    // whatever control a gallery shows there.
    if (QScreen *screen = scene.window()->screen())
        QCursor::setPos(screen, screen->geometry().bottomRight());
    if (!scene.waitUntilReady())
        return false;
    // Pop-ups open and transitions end.
    QTest::qWait(400);
    return true;
}

void ScreenshotRun::applyVariant(const Variant &variant)
{
    SettingsController *settings = SettingsController::instance();
    settings->setThemeMode(variant.theme);
    settings->setLanguage(variant.language);
    QTest::qWait(kSettleMs);
}

bool ScreenshotRun::grab(QQuickWindow *window, const QString &scene, const Variant &variant,
                         const QString &sizeName)
{
    QString fileName = QStringLiteral("%1-%2-%3").arg(scene, variant.theme, variant.language);
    if (!sizeName.isEmpty())
        fileName += QLatin1Char('-') + sizeName;
    fileName += QStringLiteral(".png");
    const QImage image = window->grabWindow();
    if (isEmpty(image))
        return fail(QStringLiteral("the grab of %1 is empty").arg(fileName));
    const QString path = m_options.outputFolder.filePath(fileName);
    if (!image.save(path))
        return fail(QStringLiteral("cannot write %1").arg(path));
    m_written.append(path);
    return true;
}

QQuickWindow *ScreenshotRun::mainWindow() const
{
    const QList<QObject *> roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

QQuickItem *ScreenshotRun::pageStack() const
{
    return qobject_cast<QQuickItem *>(find(QStringLiteral("stackView")));
}

QQuickItem *ScreenshotRun::currentPage() const
{
    QQuickItem *stack = pageStack();
    return stack ? stack->property("currentItem").value<QQuickItem *>() : nullptr;
}

QObject *ScreenshotRun::find(const QString &objectName) const
{
    QQuickWindow *window = mainWindow();
    return window ? findNamedObject(window->contentItem(), objectName) : nullptr;
}

QObject *ScreenshotRun::findInWindow(const QString &objectName) const
{
    QQuickWindow *window = mainWindow();
    if (!window)
        return nullptr;
    // Pop-ups declared in the window are its objects; what they show sits on the overlay, beside
    // the content item.
    if (QObject *found = findNamedObject(window, objectName))
        return found;
    return findNamedObject(window->contentItem()->parentItem(), objectName);
}

bool ScreenshotRun::waitFor(const std::function<bool()> &condition, const QString &what, int timeoutMs)
{
    if (QTest::qWaitFor(condition, timeoutMs))
        return true;
    return fail(QStringLiteral("timed out waiting for %1").arg(what));
}

bool ScreenshotRun::fail(const QString &error)
{
    m_errors.append(error);
    return false;
}

} // namespace quorin::test
