#pragma once

#include "app/AppFailure.h"
#include "testsupport/QmlTestSetup.h"

#include <QStringList>
#include <QUrl>

namespace quorin::test {

// The set-up of the Qt Quick tests of the components that reach outside the interface for help:
// the support chat, the clipboard and the diagnostic bundle. Besides the shared set-up (the real
// SettingsController over the test's own folders) it takes the system's "file" and "https" links
// in place of the desktop (QDesktopServices::setUrlHandler), so a test reads back what would have
// opened, and offers what QML cannot do itself: read the clipboard, build an AppFailure, read an
// entry of a ZIP archive with unzip, and put a file where the downloads folder should be.
class SupportActionsTestSetup : public QmlTestSetup
{
    Q_OBJECT

public:
    SupportActionsTestSetup();
    ~SupportActionsTestSetup() override;

    // Every link handed to the desktop since the last clear, oldest first.
    [[nodiscard]] Q_INVOKABLE QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE void clearOpenedUrls() { m_openedUrls.clear(); }

    [[nodiscard]] Q_INVOKABLE QString clipboardText() const;
    Q_INVOKABLE void setClipboardText(const QString &text);

    // A failure as a controller hands it to QML.
    [[nodiscard]] Q_INVOKABLE AppFailure failure(const QString &code, const QString &userMessage,
                                                 const QString &technicalDetails) const;

    [[nodiscard]] Q_INVOKABLE QString downloadsFolder() const;
    // Removes the downloads folder and puts a plain file in its place, so no bundle can be saved.
    [[nodiscard]] Q_INVOKABLE bool blockDownloadsFolder() const;
    // Takes the file away again.
    [[nodiscard]] Q_INVOKABLE bool unblockDownloadsFolder() const;
    [[nodiscard]] Q_INVOKABLE QStringList filesIn(const QString &folder) const;

    // One entry of a ZIP archive as text, read by unzip; empty when unzip fails.
    [[nodiscard]] Q_INVOKABLE QString zipEntryText(const QString &archive, const QString &entry) const;
    // The first 12 lower-case hexadecimal digits of the SHA-256 of the text's UTF-8 bytes.
    [[nodiscard]] Q_INVOKABLE QString sha256Prefix(const QString &text) const;

Q_SIGNALS:
    // Emitted while the desktop is being asked, so a test can order it among its own calls.
    void urlOpened(const QString &url);

public Q_SLOTS:
    void cleanupTestCase();

private Q_SLOTS:
    void openUrl(const QUrl &url);

private:
    QStringList m_openedUrls;
};

} // namespace quorin::test
