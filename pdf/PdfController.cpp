#include "pdf/PdfController.h"

PdfController *PdfController::instance()
{
    static PdfController controller;
    return &controller;
}

void PdfController::releaseAll() {}
