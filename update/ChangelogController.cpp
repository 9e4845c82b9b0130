#include "update/ChangelogController.h"

#include "app/BuildVersion.h"
#include "app/PreferencesStore.h"
#include "update/UpdatePolicy.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QSettings>
#include <QStringList>
#include <QVariantMap>
#include <memory>

namespace {

const QString kShippedPath = QStringLiteral(":/qt/qml/Quorin/config/changelog.json");
const QString kGroup = QStringLiteral("changelog");
const QString kSeenKey = QStringLiteral("seenEntryIds");
const QString kLegacyKey = QStringLiteral("lastSeenVersion");
const QString kFallbackLanguage = QStringLiteral("en");
const QString kExpanded = QStringLiteral("expanded");

QVariant applicationProperty(const char *name)
{
    const QCoreApplication *application = QCoreApplication::instance();
    return application ? application->property(name) : QVariant();
}

QString changelogPath()
{
    const QString override = applicationProperty("quorinChangelogPath").toString();
    return override.isEmpty() ? kShippedPath : override;
}

// "ar_EG" gives "ar"; start-up sets the default locale from the interface language first.
QString interfaceLanguage()
{
    return QLocale().name().section(QLatin1Char('_'), 0, 0).toLower();
}

std::unique_ptr<QSettings> openChangelogGroup()
{
    std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
    settings->beginGroup(kGroup);
    return settings;
}

// The id an entry is recorded under; empty when the element is not a usable entry.
QString entryId(const QJsonObject &entry)
{
    return entry.value(QLatin1String("id")).toString();
}

bool isCurrent(const QJsonObject &entry)
{
    return entry.value(QLatin1String("current")) == QJsonValue(true);
}

QString localisedText(const QJsonValue &texts, const QString &language)
{
    const QString text = texts[language].toString();
    return text.isEmpty() ? texts[kFallbackLanguage].toString() : text;
}

QStringList localisedLines(const QJsonValue &lists, const QString &language)
{
    QJsonArray lines = lists[language].toArray();
    if (lines.isEmpty())
        lines = lists[kFallbackLanguage].toArray();
    QStringList texts;
    texts.reserve(lines.size());
    for (const QJsonValue &line : std::as_const(lines))
        texts.append(line.toString());
    return texts;
}

QVariantList cardMaps(const QJsonValue &cards, const QString &language)
{
    QVariantList maps;
    const QJsonArray elements = cards.toArray();
    for (const QJsonValue &element : elements) {
        const QJsonObject card = element.toObject();
        maps.append(QVariantMap{
            {QStringLiteral("category"), card.value(QLatin1String("category")).toString()},
            {QStringLiteral("title"), localisedText(card.value(QLatin1String("title")), language)},
            {QStringLiteral("changes"), localisedLines(card.value(QLatin1String("changes")), language)},
        });
    }
    return maps;
}

void appendUnique(QStringList &ids, const QString &id)
{
    if (!ids.contains(id))
        ids.append(id);
}

// Seen ids from the version an earlier client remembered: every entry of that release or an
// older one, except the entry of the running release, whose notes that client never showed.
QStringList idsSeenBefore(const QJsonArray &entries, const QString &lastSeenVersion)
{
    QStringList seen;
    for (const QJsonValue &element : entries) {
        const QJsonObject entry = element.toObject();
        const QString id = entryId(entry);
        if (id.isEmpty() || isCurrent(entry))
            continue;
        if (UpdatePolicy::compareVersions(entry.value(QLatin1String("version")).toString(),
                                          lastSeenVersion) <= 0)
            appendUnique(seen, id);
    }
    return seen;
}

QVariantList withFirstExpanded(QVariantList entries)
{
    if (!entries.isEmpty()) {
        QVariantMap first = entries.first().toMap();
        first.insert(kExpanded, true);
        entries.first() = first;
    }
    return entries;
}

} // namespace

ChangelogController::ChangelogController(QObject *parent)
    : QObject(parent)
{
    load();
}

ChangelogController *ChangelogController::instance()
{
    static ChangelogController controller(nullptr);
    return &controller;
}

QString ChangelogController::currentVersion() const
{
    return QCoreApplication::applicationVersion();
}

QString ChangelogController::currentBuild() const
{
    return QString::fromLatin1(quorin::BuildVersion::buildNumber);
}

void ChangelogController::load()
{
    QFile file(changelogPath());
    // Without a file nothing is shown and the seen state stays as an earlier run left it.
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray fileEntries =
        QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("entries")).toArray();
    const QString language = interfaceLanguage();

    std::unique_ptr<QSettings> settings = openChangelogGroup();
    QStringList seen = settings->value(kSeenKey).toStringList();
    // contains() tells a never-written key from an empty list: the store keeps "@Invalid()" for it.
    if (!settings->contains(kSeenKey) && settings->contains(kLegacyKey)) {
        seen = idsSeenBefore(fileEntries, settings->value(kLegacyKey).toString());
        settings->setValue(kSeenKey, seen);
        settings->remove(kLegacyKey);
    }

    QVariantList shown;
    QStringList allIds;
    for (const QJsonValue &element : fileEntries) {
        const QJsonObject entry = element.toObject();
        const QString id = entryId(entry);
        if (id.isEmpty())
            continue;
        const bool current = isCurrent(entry);
        const QVariantMap map{
            {QStringLiteral("id"), id},
            {QStringLiteral("version"),
             current ? currentVersion() : entry.value(QLatin1String("version")).toString()},
            {QStringLiteral("build"),
             current ? currentBuild() : entry.value(QLatin1String("build")).toString()},
            {QStringLiteral("title"), localisedText(entry.value(QLatin1String("title")), language)},
            {QStringLiteral("cards"), cardMaps(entry.value(QLatin1String("cards")), language)},
            {kExpanded, false},
        };
        m_allEntries.append(map);
        appendUnique(allIds, id);
        if (!seen.contains(id))
            shown.append(map);
    }

    // A new installation has nothing to catch up on: what ships with it counts as seen.
    if (applicationProperty("quorinFreshInstallation").toBool() && !settings->contains(kSeenKey)) {
        settings->setValue(kSeenKey, allIds);
        shown.clear();
    }
    settings->endGroup();

    m_entries = withFirstExpanded(shown);
    m_shouldShow = !m_entries.isEmpty();
}

void ChangelogController::dismiss()
{
    std::unique_ptr<QSettings> settings = openChangelogGroup();
    QStringList seen = settings->value(kSeenKey).toStringList();
    for (const QVariant &entry : std::as_const(m_entries))
        appendUnique(seen, entry.toMap().value(QStringLiteral("id")).toString());
    settings->setValue(kSeenKey, seen);
    settings->endGroup();

    m_shouldShow = false;
    Q_EMIT entriesChanged();
}

void ChangelogController::reopen()
{
    m_mode = History;
    m_entries = withFirstExpanded(m_allEntries);
    m_shouldShow = !m_entries.isEmpty();
    Q_EMIT entriesChanged();
}
