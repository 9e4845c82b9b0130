#pragma once

#include "net/NetworkFailure.h"

// The outcome of one token refresh, handed to every caller that waited for it.
struct AuthRefreshResult
{
    // New tokens were stored.
    bool success = false;
    // The refresh was refused or there was no refresh token: the tokens have been cleared.
    bool sessionExpired = false;
    // Empty on success.
    NetworkFailure failure;
};
