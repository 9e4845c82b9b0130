#pragma once

#include <QString>
#include <QUrl>
#include <memory>

class QQmlEngine;
class QQuickItem;
class QQuickWindow;

namespace quorin::test {

// Shows one control gallery (a 1024 × 768 Item of tests/screenshots/galleries) in a window of its
// own, in the theme and the interface language asked for. Theme and language go through the
// process-wide SettingsController, so the gallery mirrors and translates as the window does.
class GalleryScene
{
public:
    explicit GalleryScene(QQmlEngine &engine);
    ~GalleryScene();
    GalleryScene(const GalleryScene &) = delete;
    GalleryScene &operator=(const GalleryScene &) = delete;

    // Creates the gallery inside the window's content item (so its pop-ups find the window while
    // it completes), shows the window and waits until it is exposed. On failure returns false and
    // leaves the reason in errorString().
    [[nodiscard]] bool load(const QUrl &gallery, const QString &themeMode, const QString &language);

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
