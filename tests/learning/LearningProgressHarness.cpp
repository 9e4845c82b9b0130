#include "tests/learning/LearningProgressHarness.h"

#include <QFile>
#include <QTimer>

namespace quorin::test {

void LearningProgressHarness::init()
{
    m_network.init();
    m_manager = m_network.makeManager();
    m_now = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
}

void LearningProgressHarness::cleanup()
{
    m_manager.reset();
    m_network.cleanup();
}

std::unique_ptr<LearningProgressController>
LearningProgressHarness::makeController(const ControllerOptions &options)
{
    LearningProgressController::Configuration configuration;
    configuration.networkManager = m_manager.get();
    configuration.saveIntervalMs = options.saveIntervalMs;
    configuration.retryIntervalMs = options.retryIntervalMs;
    configuration.currentUtc = [this] { return m_now; };
    return std::make_unique<LearningProgressController>(std::move(configuration));
}

std::unique_ptr<LearningProgressController>
LearningProgressHarness::makeSignedInController(const QString &userId, const ControllerOptions &options)
{
    auto controller = makeController(options);
    controller->setUserId(userId);
    return controller;
}

QTimer *LearningProgressHarness::saveTimer(LearningProgressController &controller)
{
    return controller.findChild<QTimer *>(QStringLiteral("saveTimer"));
}

QTimer *LearningProgressHarness::retryTimer(LearningProgressController &controller)
{
    return controller.findChild<QTimer *>(QStringLiteral("retryTimer"));
}

QVariant LearningProgressHarness::stored(const QString &key)
{
    return QSettings(QStringLiteral("quorin"), QStringLiteral("desktop")).value(key);
}

bool LearningProgressHarness::isStored(const QString &key)
{
    return QSettings(QStringLiteral("quorin"), QStringLiteral("desktop")).contains(key);
}

QVariantList LearningProgressHarness::storedRecords(const QString &userId)
{
    return stored(QStringLiteral("learningActivity/") + userId).toList();
}

QVariantMap LearningProgressHarness::storedRecord(const QString &userId, const QString &resourceId)
{
    for (const QVariant &record : storedRecords(userId)) {
        if (record.toMap().value(QStringLiteral("r_id")).toString() == resourceId)
            return record.toMap();
    }
    return {};
}

QVariant LearningProgressHarness::storedField(const QString &userId, const QString &resourceId,
                                              const QString &key)
{
    return storedRecord(userId, resourceId).value(key);
}

QStringList LearningProgressHarness::ids(const QVariantList &records)
{
    QStringList ids;
    for (const QVariant &record : records)
        ids.append(record.toMap().value(QStringLiteral("r_id")).toString());
    return ids;
}

void LearningProgressHarness::seed(const QString &key, const QVariant &value)
{
    QSettings(QStringLiteral("quorin"), QStringLiteral("desktop")).setValue(key, value);
}

QString LearningProgressHarness::storeFileName()
{
    return QSettings(QStringLiteral("quorin"), QStringLiteral("desktop")).fileName();
}

QByteArray LearningProgressHarness::storeBytes()
{
    QFile file(storeFileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariantMap LearningProgressHarness::openedRecord(const QString &resourceId, const QString &type,
                                                  const QString &url, const QString &timestamp)
{
    return {
        {QStringLiteral("r_id"), resourceId},
        {QStringLiteral("c_id"), QStringLiteral("c1")},
        {QStringLiteral("sectionId"), QStringLiteral("s1")},
        {QStringLiteral("title"), QStringLiteral("Title of ") + resourceId},
        {QStringLiteral("course"), QStringLiteral("Course one")},
        {QStringLiteral("r_type"), type},
        {QStringLiteral("img"), QStringLiteral("https://media.example/c1.png")},
        {QStringLiteral("url"), url},
        {QStringLiteral("positionMs"), qint64(0)},
        {QStringLiteral("durationMs"), qint64(0)},
        {QStringLiteral("pageIndex"), -1},
        {QStringLiteral("pageCount"), 0},
        {QStringLiteral("prog"), 0.0},
        {QStringLiteral("completed"), false},
        {QStringLiteral("watermarkEnabled"), true},
        {QStringLiteral("isShareable"), false},
        {QStringLiteral("hiddenFromRecent"), false},
        {QStringLiteral("timestamp"), timestamp},
    };
}

QVariantMap LearningProgressHarness::completionRecord(const QString &resourceId, const QString &timestamp)
{
    return {
        {QStringLiteral("r_id"), resourceId},      {QStringLiteral("c_id"), QStringLiteral("c1")},
        {QStringLiteral("completed"), true},       {QStringLiteral("positionMs"), qint64(0)},
        {QStringLiteral("durationMs"), qint64(0)}, {QStringLiteral("pageIndex"), -1},
        {QStringLiteral("pageCount"), 0},          {QStringLiteral("prog"), 0.0},
        {QStringLiteral("timestamp"), timestamp},
    };
}

void LearningProgressHarness::open(LearningProgressController &controller, const QString &resourceId,
                                   const QString &type, const QString &url, bool initiallyCompleted)
{
    controller.recordOpened(resourceId, QStringLiteral("c1"), QStringLiteral("s1"),
                            QStringLiteral("Title of ") + resourceId, QStringLiteral("Course one"), type,
                            QStringLiteral("https://media.example/c1.png"), url, initiallyCompleted, true,
                            false);
}

void LearningProgressHarness::recordSignals(LearningProgressController &controller, QStringList &events)
{
    const auto note = [&events](const char *name) {
        return [&events, name] { events.append(QLatin1String(name)); };
    };
    QObject::connect(&controller, &LearningProgressController::userChanged, &controller, note("userChanged"));
    QObject::connect(&controller, &LearningProgressController::recentItemsChanged, &controller,
                     note("recentItemsChanged"));
    QObject::connect(&controller, &LearningProgressController::revisionChanged, &controller,
                     note("revisionChanged"));
}

} // namespace quorin::test
