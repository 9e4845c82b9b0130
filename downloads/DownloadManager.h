#pragma once

#include <QObject>

// Downloads lectures and PDFs into the encrypted offline cache. Until the downloads work lands it
// is an empty object.
class DownloadManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "DownloadManager")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static DownloadManager *instance();

private:
    DownloadManager() = default;
};
