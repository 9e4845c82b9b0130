#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

namespace quorin::internal {

// The outcome of one keychain call. NotFound means only "no such item": a keychain that cannot
// be reached is a Failure, because callers create new secrets when an item is absent.
struct KeychainResult
{
    enum Status { Success = 0, NotFound = 1, Failure = 2 };

    int status = Success;
    QByteArray data; // the item's bytes, filled only by a successful copy
    QString message; // filled only for Failure

    [[nodiscard]] static KeychainResult success(QByteArray data = {})
    {
        return {Success, std::move(data), {}};
    }
    [[nodiscard]] static KeychainResult notFound() { return {NotFound, {}, {}}; }
    [[nodiscard]] static KeychainResult failure(QString message) { return {Failure, {}, std::move(message)}; }
};

} // namespace quorin::internal
