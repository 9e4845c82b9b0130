#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QNetworkReply>

namespace quorin {

// Ends a reply nobody will read, for good. On Qt 6.4 a reply has calls queued to itself that
// abort() leaves in place: the start of an upload, which still sends the request to the server,
// and the end of a transfer that has already reported its failure. Either one, run after the
// abort, reports a second failure, which Qt answers with a warning. A reply that has failed is
// over already, so it is not aborted again; the queued calls go with the abort.
inline void abandonReply(QNetworkReply *reply)
{
    if (reply->error() == QNetworkReply::NoError)
        reply->abort();
    QCoreApplication::removePostedEvents(reply, QEvent::MetaCall);
}

} // namespace quorin
