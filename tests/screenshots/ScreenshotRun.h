#pragma once

#include <QDir>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

namespace quorin::test {

class GalleryScene;

// Takes the screenshots of a running client: the main window in its scenes (the sign-in page,
// the home page after signing in, the home page under a dialog with a snackbar, the "What’s new"
// dialog in a wide and a narrow window), once the start-up's release check has ended, and every
// control gallery, each in the light and dark themes and in English and Arabic, as
// "<scene>-<theme>-<language>.png"; a gallery that follows the window's size is shot in a narrow
// and a wide window, as "<scene>-<theme>-<language>-<narrow|wide>.png". It compares no images; it
// fails when a part it needs cannot be found or loaded, a wait runs out, or a grab comes back
// empty.
//
// New window scenes go into windowScenes(); new galleries into the build's gallery list.
class ScreenshotRun
{
public:
    struct Options
    {
        QDir outputFolder;
        QString galleryFolder;
        QStringList galleries;
        // The sample account the client signs in with.
        QString mobileNumber;
        QString password;
    };

    ScreenshotRun(QQmlApplicationEngine &engine, Options options);

    // Runs every step; false at the first failure, which errors() describes.
    [[nodiscard]] bool run();
    [[nodiscard]] QStringList errors() const { return m_errors; }
    [[nodiscard]] QStringList written() const { return m_written; }

private:
    struct Variant
    {
        QString theme;
        QString language;
    };

    // One state of the main window: enter() brings it about (false when it cannot), leave()
    // undoes it before the next scene.
    struct WindowScene
    {
        QString name;
        std::function<bool()> enter;
        std::function<void()> leave;
    };

    [[nodiscard]] QList<WindowScene> windowScenes();
    [[nodiscard]] static QList<Variant> variants();

    [[nodiscard]] bool waitForSplash();
    [[nodiscard]] bool waitForReleaseCheck();
    [[nodiscard]] bool signIn();
    [[nodiscard]] bool shootWindowScene(const WindowScene &scene);
    [[nodiscard]] bool shootGalleries();
    // Loads the gallery in the variant (and, for one that follows the window, the size) and waits
    // until its scene stands.
    [[nodiscard]] bool showGallery(GalleryScene &scene, const QUrl &document, const Variant &variant,
                                   QSize size);
    [[nodiscard]] bool openDialogWithSnackbar();
    void closeDialogAndSnackbar();
    [[nodiscard]] bool openChangelog(int windowWidth, int columns);
    void closeChangelog();

    void applyVariant(const Variant &variant);
    // Writes "<scene>-<theme>-<language>.png", or "…-<size name>.png" when a size is named.
    [[nodiscard]] bool grab(QQuickWindow *window, const QString &scene, const Variant &variant,
                            const QString &sizeName = QString());

    [[nodiscard]] QQuickWindow *mainWindow() const;
    [[nodiscard]] QQuickItem *pageStack() const;
    [[nodiscard]] QQuickItem *currentPage() const;
    [[nodiscard]] QObject *find(const QString &objectName) const;
    // Also searches the window's pop-ups and the overlay they show on.
    [[nodiscard]] QObject *findInWindow(const QString &objectName) const;
    [[nodiscard]] bool waitFor(const std::function<bool()> &condition, const QString &what,
                               int timeoutMs = 20000);
    bool fail(const QString &error);

    QQmlApplicationEngine &m_engine;
    Options m_options;
    QStringList m_errors;
    QStringList m_written;
};

} // namespace quorin::test
