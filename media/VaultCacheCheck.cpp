#include "media/VaultCacheCheck.h"

#include "app/DiagnosticLogger.h"
#include "media/ResourceCache.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString Category = QStringLiteral("cache");

void logWarning(const QString &event, const QVariantMap &fields = {})
{
    DiagnosticLogger::log(Category, QStringLiteral("warning"), event, fields);
}

} // namespace

QString VaultCacheCheck::checkPath(const ResourceCache &cache)
{
    return cache.root() + QStringLiteral(".keycheck");
}

QByteArray VaultCacheCheck::checkBlock()
{
    static const QByteArray block = QByteArrayLiteral("Quorin offline vault cache check");
    static_assert(sizeof("Quorin offline vault cache check") - 1 == CheckBytes);
    return block;
}

VaultCacheCheck::Outcome VaultCacheCheck::reconcile(ResourceCache &cache, const QByteArray &checkValue,
                                                    bool keyIsNew)
{
    const QString path = checkPath(cache);
    // Without a value from the cipher nothing can be compared, nor recorded.
    if (checkValue.size() != CheckBytes) {
        logWarning(QStringLiteral("key_check_unavailable"));
        return Outcome::Unverified;
    }
    if (keyIsNew)
        return empty(cache, checkValue, QStringLiteral("new_key"));
    QByteArray stored;
    switch (readCheck(path, stored)) {
    case Stored::Absent:
        if (!writeCheck(path, checkValue))
            logWarning(QStringLiteral("key_check_write_failed"));
        return Outcome::Recorded;
    case Stored::Unreadable:
        // The key is the one the keychain held, so the files most likely match it; emptying on a
        // failed read would throw offline lectures away for nothing, and writing would hide a
        // mismatch from the next start.
        logWarning(QStringLiteral("key_check_unreadable"));
        return Outcome::Unverified;
    case Stored::Readable:
        break;
    }
    if (stored == checkValue)
        return Outcome::Kept;
    return empty(cache, checkValue, QStringLiteral("key_mismatch"));
}

VaultCacheCheck::Outcome VaultCacheCheck::empty(ResourceCache &cache, const QByteArray &checkValue,
                                                const QString &reason)
{
    const ResourceCache::Removal removal = cache.removeAll();
    logWarning(QStringLiteral("cache_emptied"), {{QStringLiteral("reason"), reason},
                                                 {QStringLiteral("deleted"), removal.removed},
                                                 {QStringLiteral("failed"), removal.failed}});
    // A file left behind may be one the old key wrote: the check keeps disagreeing until a start
    // removes them all.
    if (removal.failed > 0)
        return Outcome::Unverified;
    if (!writeCheck(checkPath(cache), checkValue))
        logWarning(QStringLiteral("key_check_write_failed"));
    return Outcome::Emptied;
}

VaultCacheCheck::Stored VaultCacheCheck::readCheck(const QString &path, QByteArray &value)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Stored::Absent;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Stored::Unreadable;
    // Anything longer than a check is no check; reading stops there.
    value = file.read(CheckBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return Stored::Unreadable;
    return Stored::Readable;
}

bool VaultCacheCheck::writeCheck(const QString &path, const QByteArray &value)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file.write(value) == value.size() && file.commit();
}
