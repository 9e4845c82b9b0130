#pragma once

#include "net/NetworkFailure.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

namespace quorin {
class MediaFetch;
}

// One document download, from NetworkManager::fetchPdfData to the caller that asked for it: the
// manager fills it, the caller connects to its signals after the call and may cancel or delete it
// at any time. finished is emitted at most once, always on a later turn of the event loop than the
// call that started the download, and never after cancel().
class PdfTransfer : public QObject
{
    Q_OBJECT

public:
    explicit PdfTransfer(QObject *parent);

    [[nodiscard]] bool isCancelled() const { return m_cancelled; }
    // Marks the transfer cancelled and aborts its request when one is running. Emits nothing; does
    // nothing when already cancelled.
    void cancel();

Q_SIGNALS:
    // totalBytes is -1 while unknown.
    void progress(qint64 receivedBytes, qint64 totalBytes);
    // The document, or a failure (and then whatever body the failed answer had).
    void finished(const QByteArray &data, const NetworkFailure &failure);

private:
    friend class NetworkManager;

    bool m_cancelled = false;
    // The request running for this transfer, if any; a child of the transfer.
    QPointer<quorin::MediaFetch> m_request;
};
