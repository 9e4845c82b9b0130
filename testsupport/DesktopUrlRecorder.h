#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace quorin::test {

// Stands in for the desktop's handlers of some URL schemes: what the code under test hands to
// QDesktopServices::openUrl with one of them is recorded here instead of reaching a browser, a file
// manager or an installer. The handlers go with the recorder.
class DesktopUrlRecorder : public QObject
{
    Q_OBJECT

public:
    explicit DesktopUrlRecorder(const QStringList &schemes);
    ~DesktopUrlRecorder() override;

    [[nodiscard]] QList<QUrl> opened() const { return m_opened; }
    void clear() { m_opened.clear(); }
    // Hands the scheme back to the platform, as on a desktop without a handler for it, until
    // handle() takes it again.
    void release(const QString &scheme);
    void handle(const QString &scheme);

public Q_SLOTS:
    void open(const QUrl &url) { m_opened.append(url); }

private:
    QStringList m_schemes;
    QList<QUrl> m_opened;
};

} // namespace quorin::test
