#pragma once

#include <QObject>

// Prepares lecture PDFs for the viewer. Until the PDF work lands there is nothing to release.
class PdfController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "PdfController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static PdfController *instance();

    // Releases every prepared PDF and its temporary file.
    void releaseAll();

private:
    PdfController() = default;
};
