#pragma once

#include <QObject>

// Prepares lecture PDFs for the viewer. Until the PDF work lands there is nothing to release.
class PdfController : public QObject
{
    Q_OBJECT

public:
    [[nodiscard]] static PdfController *instance();

    // Releases every prepared PDF and its temporary file.
    void releaseAll();

private:
    PdfController() = default;
};
