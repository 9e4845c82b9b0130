#include "net/PdfTransfer.h"

#include "net/MediaFetch.h"

PdfTransfer::PdfTransfer(QObject *parent)
    : QObject(parent)
{
}

void PdfTransfer::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    if (quorin::MediaFetch *request = m_request.data())
        request->abort();
}
