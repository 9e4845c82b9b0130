#pragma once

#include "learning/LearningProgressController.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QDateTime>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <memory>

class QTimer;

namespace quorin::test {

// What the learning progress tests share: a fresh backend client over the fixture server and an
// empty settings store for every test, controllers built over them with a clock the test moves,
// and the store read back through a fresh settings object, as a restart would read it.
class LearningProgressHarness
{
public:
    struct ControllerOptions
    {
        int saveIntervalMs = 10000;
        int retryIntervalMs = 30000;
    };

    void initTestCase() { m_network.initTestCase(); }
    // Before every test: a new fixture server, keychain, store, backend client and clock.
    void init();
    void cleanup();

    [[nodiscard]] NetworkManagerHarness &network() { return m_network; }
    [[nodiscard]] NetworkManager &manager() { return *m_manager; }
    // Replaces the backend client, for tests that need one signed in.
    void setManager(std::unique_ptr<NetworkManager> manager) { m_manager = std::move(manager); }

    [[nodiscard]] std::unique_ptr<LearningProgressController>
    makeController(const ControllerOptions &options);
    [[nodiscard]] std::unique_ptr<LearningProgressController> makeController()
    {
        return makeController(ControllerOptions());
    }
    // A controller already switched to the user, as start-up leaves it for a returning user.
    [[nodiscard]] std::unique_ptr<LearningProgressController>
    makeSignedInController(const QString &userId, const ControllerOptions &options);
    [[nodiscard]] std::unique_ptr<LearningProgressController> makeSignedInController(const QString &userId)
    {
        return makeSignedInController(userId, ControllerOptions());
    }

    // The time the controllers' clock reads; it moves only when a test moves it.
    [[nodiscard]] QDateTime now() const { return m_now; }
    void advanceSeconds(qint64 seconds) { m_now = m_now.addSecs(seconds); }
    [[nodiscard]] QString nowStamp() const { return m_now.toString(Qt::ISODate); }

    [[nodiscard]] static QTimer *saveTimer(LearningProgressController &controller);
    [[nodiscard]] static QTimer *retryTimer(LearningProgressController &controller);

    // The settings store as a new process would read it.
    [[nodiscard]] static QVariant stored(const QString &key);
    [[nodiscard]] static bool isStored(const QString &key);
    [[nodiscard]] static QVariantList storedRecords(const QString &userId);
    // The stored record of a resource, or an empty map.
    [[nodiscard]] static QVariantMap storedRecord(const QString &userId, const QString &resourceId);
    [[nodiscard]] static QVariant storedField(const QString &userId, const QString &resourceId,
                                              const QString &key);
    [[nodiscard]] static QStringList ids(const QVariantList &records);
    static void seed(const QString &key, const QVariant &value);
    [[nodiscard]] static QString storeFileName();
    [[nodiscard]] static QByteArray storeBytes();

    // A record as an opening writes it, with the eighteen keys.
    [[nodiscard]] static QVariantMap openedRecord(const QString &resourceId, const QString &type,
                                                  const QString &url, const QString &timestamp);
    // A record as a completion of a never-opened resource writes it, with nine keys.
    [[nodiscard]] static QVariantMap completionRecord(const QString &resourceId, const QString &timestamp);

    // Opens a resource with the full form and distinctive descriptive values.
    static void open(LearningProgressController &controller, const QString &resourceId,
                     const QString &type = QStringLiteral("VIDEO"),
                     const QString &url = QStringLiteral("https://media.example/lecture.m3u8"),
                     bool initiallyCompleted = false);

    // Appends the name of each change signal to events as it comes.
    static void recordSignals(LearningProgressController &controller, QStringList &events);

private:
    NetworkManagerHarness m_network;
    std::unique_ptr<NetworkManager> m_manager;
    QDateTime m_now;
};

} // namespace quorin::test
