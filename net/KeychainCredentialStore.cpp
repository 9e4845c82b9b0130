#include "net/KeychainCredentialStore.h"

#include <libsecret/secret.h>

namespace quorin::internal {
namespace {

const QString Service = QStringLiteral("quorin-desktop");

// An item is identified by the service and the account; libsecret also stores the schema name
// and matches it on lookup, so items of other programs with the same attributes are never read.
const SecretSchema *credentialSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema made{};
        made.name = "quorin-desktop";
        made.flags = SECRET_SCHEMA_NONE;
        made.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return &schema;
}

class ErrorHolder
{
public:
    ErrorHolder() = default;
    ErrorHolder(const ErrorHolder &) = delete;
    ErrorHolder &operator=(const ErrorHolder &) = delete;
    ~ErrorHolder()
    {
        if (error)
            g_error_free(error);
    }

    GError **out() { return &error; }
    [[nodiscard]] bool isSet() const { return error != nullptr; }
    [[nodiscard]] KeychainResult failure() const
    {
        return KeychainResult::failure(QString::fromUtf8(error->message).trimmed());
    }

private:
    GError *error = nullptr;
};

// The Secret Service (GNOME Keyring, KWallet and the like) through libsecret's synchronous calls.
// Any GError, a D-Bus or daemon failure included, is a Failure and never reads as NotFound.
class NativeKeychainAdapter : public KeychainAdapter
{
public:
    KeychainResult copyItem(const QString &service, const QString &account) override
    {
        ErrorHolder error;
        const QByteArray serviceBytes = service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        gchar *password = secret_password_lookup_sync(credentialSchema(), nullptr, error.out(), "service",
                                                      serviceBytes.constData(), "account",
                                                      accountBytes.constData(), nullptr);
        if (error.isSet())
            return error.failure();
        if (!password)
            return KeychainResult::notFound();
        KeychainResult result = KeychainResult::success(QByteArray(password));
        secret_password_free(password);
        return result;
    }

    KeychainResult updateItem(const QString &service, const QString &account, const QByteArray &data) override
    {
        // The Secret Service replaces an item with the same attributes on store, so an update is a
        // store of an item known to exist.
        const KeychainResult existing = copyItem(service, account);
        if (existing.status != KeychainResult::Success)
            return existing;
        return store(service, account, data);
    }

    KeychainResult addItem(const QString &service, const QString &account, const QByteArray &data) override
    {
        return store(service, account, data);
    }

    KeychainResult deleteItem(const QString &service, const QString &account) override
    {
        ErrorHolder error;
        const QByteArray serviceBytes = service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        const gboolean deleted = secret_password_clear_sync(credentialSchema(), nullptr, error.out(),
                                                            "service", serviceBytes.constData(), "account",
                                                            accountBytes.constData(), nullptr);
        if (error.isSet())
            return error.failure();
        return deleted ? KeychainResult::success() : KeychainResult::notFound();
    }

private:
    static KeychainResult store(const QString &service, const QString &account, const QByteArray &data)
    {
        // The password travels as a C string: a zero byte would silently cut the value short.
        if (data.contains('\0'))
            return KeychainResult::failure(QStringLiteral("The value contains a zero byte"));
        ErrorHolder error;
        const QByteArray serviceBytes = service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        const QByteArray label = (Service + QLatin1Char('/') + account).toUtf8();
        const gboolean stored = secret_password_store_sync(
            credentialSchema(), SECRET_COLLECTION_DEFAULT, label.constData(), data.constData(), nullptr,
            error.out(), "service", serviceBytes.constData(), "account", accountBytes.constData(), nullptr);
        if (error.isSet())
            return error.failure();
        if (!stored)
            return KeychainResult::failure(QStringLiteral("The Secret Service did not store the item"));
        return KeychainResult::success();
    }
};

} // namespace

KeychainCredentialStore::KeychainCredentialStore(std::unique_ptr<KeychainAdapter> adapter)
    : adapter(std::move(adapter))
{
}

KeychainCredentialStore::~KeychainCredentialStore() = default;

QString KeychainCredentialStore::serviceName()
{
    return Service;
}

std::unique_ptr<KeychainAdapter> KeychainCredentialStore::createNativeAdapter()
{
    if (auto adapter = KeychainAdapter::createFromTestFactory())
        return adapter;
    return std::make_unique<NativeKeychainAdapter>();
}

const KeychainResult &KeychainCredentialStore::remember(const KeychainResult &result)
{
    lastError = result.status == KeychainResult::Failure ? result.message : QString();
    return result;
}

QString KeychainCredentialStore::read(const QString &key)
{
    const KeychainResult result = remember(adapter->copyItem(Service, key));
    return result.status == KeychainResult::Success ? QString::fromUtf8(result.data) : QString();
}

bool KeychainCredentialStore::write(const QString &key, const QString &value)
{
    const QByteArray data = value.toUtf8();
    KeychainResult result = adapter->updateItem(Service, key, data);
    if (result.status == KeychainResult::NotFound)
        result = adapter->addItem(Service, key, data);
    return remember(result).status == KeychainResult::Success;
}

bool KeychainCredentialStore::remove(const QString &key)
{
    const int status = remember(adapter->deleteItem(Service, key)).status;
    return status == KeychainResult::Success || status == KeychainResult::NotFound;
}

} // namespace quorin::internal
