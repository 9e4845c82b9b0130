#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QUrl>
#include <memory>

class QQmlEngine;
class QQuickItem;
class QQuickWindow;

namespace quorin::test {

// Shows one control gallery (an Item of tests/screenshots/galleries) in a window of its own, in
// the theme and the interface language asked for. Theme and language go through the process-wide
// SettingsController, so the gallery mirrors and translates as the window does.
//
// A gallery is a 1024 × 768 item, unless it declares "followsWindowSize: true": it then fills a
// window of the size asked for, and is shown narrow and wide (windowSizes()). A gallery that sets
// its scene up over time declares "ready" and sets it once the scene stands.
class GalleryScene
{
public:
    struct WindowSize
    {
        QString name;
        QSize size;
    };

    explicit GalleryScene(QQmlEngine &engine);
    ~GalleryScene();
    GalleryScene(const GalleryScene &) = delete;
    GalleryScene &operator=(const GalleryScene &) = delete;

    // The sizes a gallery that follows the window is shown in: "narrow" (640 × 720, the window's
    // smallest width) and "wide" (1280 × 800).
    [[nodiscard]] static QList<WindowSize> windowSizes();

    // Creates the gallery inside the window's content item (so its pop-ups find the window while
    // it completes), shows the window and waits until it is exposed. windowSize applies to a
    // gallery that follows the window; an empty one means 1024 × 768. On failure returns false
    // and leaves the reason in errorString().
    [[nodiscard]] bool load(const QUrl &gallery, const QString &themeMode, const QString &language,
                            QSize windowSize = QSize());
    // Waits until a gallery that declares "ready" is ready; true at once for the others.
    [[nodiscard]] bool waitUntilReady(int timeoutMs = 20000);

    [[nodiscard]] bool followsWindowSize() const;
    [[nodiscard]] QQuickWindow *window() const;
    [[nodiscard]] QQuickItem *root() const;
    [[nodiscard]] QString errorString() const;

private:
    QQmlEngine &m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<QQuickItem> m_root;
    QString m_error;
};

} // namespace quorin::test
