#include "learning/CourseSectionNormalizer.h"

#include <QVariantList>

namespace quorin {
namespace {

const QString kContent = QStringLiteral("content");
const QString kChildren = QStringLiteral("children");
const QString kIsCompleted = QStringLiteral("isCompleted");

// Converted JSON keeps its types, so a value of any other type is not a list or map here.
QVariantList asList(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList();
}

QVariantMap asMap(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

// Only a JSON true counts: "true", 1 and null do not switch a playback rule on.
bool isTrue(const QVariant &value)
{
    return value.typeId() == QMetaType::Bool && value.toBool();
}

} // namespace

QVariantMap CourseSectionNormalizer::normalize(const QVariantMap &section)
{
    QVariantMap normalized = section;

    QVariantList content = asList(section.value(kContent));
    for (QVariant &item : content)
        item = normalizeContentItem(asMap(item));
    normalized.insert(kContent, content);

    QVariantList children = asList(section.value(kChildren));
    for (QVariant &child : children)
        child = normalize(asMap(child));
    normalized.insert(kChildren, children);

    return normalized;
}

QVariantMap CourseSectionNormalizer::normalizeContentItem(const QVariantMap &item)
{
    QVariantMap normalized = item;
    normalized.insert(QStringLiteral("requireHeadphones"),
                      isTrue(item.value(QStringLiteral("requireHeadphones"))));
    normalized.insert(QStringLiteral("isShareable"), isTrue(item.value(QStringLiteral("isShareable"))));

    // The server has sent the progress under both spellings; the capitalised one wins unless empty.
    QVariantList progress = asList(item.value(QStringLiteral("ContentProgress")));
    if (progress.isEmpty())
        progress = asList(item.value(QStringLiteral("contentProgress")));
    if (!progress.isEmpty()) {
        const QVariantMap first = asMap(progress.first());
        if (first.contains(kIsCompleted))
            normalized.insert(kIsCompleted, first.value(kIsCompleted));
    }
    return normalized;
}

} // namespace quorin
