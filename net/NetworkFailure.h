#pragma once

#include "app/AppFailure.h"

#include <QString>
#include <QtGlobal>

// The failure half of every REST callback. A default-constructed value (no status, no error, an
// empty failure code) means success.
struct NetworkFailure
{
    qint32 httpStatus = 0;
    // The network layer's QNetworkReply::NetworkError; 0 for none.
    qint32 networkError = 0;
    // Text for the user; normally the failure's userMessage.
    QString message;
    bool retryable = false;
    // The failure is about the sign-in; normally the failure's category is "authentication".
    bool authentication = false;
    AppFailure failure;
};
