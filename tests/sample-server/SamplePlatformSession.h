#pragma once

#include "sample-server/SampleServer.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <memory>

namespace quorin::test {

// What the tests of the sample platform's routes share: the platform on a free port over the
// sample data and the media fixtures, trusted by every client of the process.
class SamplePlatformSession
{
public:
    static inline const QString kNumber = QStringLiteral("+201012345678");
    static inline const QString kPassword = QStringLiteral("quorin-demo");

    // Trusts the test authority and starts the platform; false (with the reason in errorString())
    // when it cannot start.
    [[nodiscard]] bool start() { return start(defaultOptions()); }
    [[nodiscard]] bool start(const SampleServer::Options &options);
    // A free port, the sample data and the media fixtures.
    [[nodiscard]] static SampleServer::Options defaultOptions();
    [[nodiscard]] QString errorString() const { return m_platform ? m_platform->errorString() : QString(); }
    // The REST root, ending in "/api/v1/".
    [[nodiscard]] QUrl apiBase() const;
    // Points the process-wide client at the platform; before anything calls NetworkManager::instance().
    void useForProcessWideClient() const;

    // Signs the process-wide client in, with the sample number unless another is given; true on
    // loginSuccess, false on loginFailed or no answer.
    [[nodiscard]] static bool signIn(const QString &password, const QString &number = kNumber);

    // The "id" of each institution or year record, in order.
    [[nodiscard]] static QStringList idsOf(const QVariantList &records);

private:
    std::unique_ptr<SampleServer> m_platform;
};

} // namespace quorin::test
