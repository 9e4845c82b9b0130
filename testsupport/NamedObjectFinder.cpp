#include "testsupport/NamedObjectFinder.h"

#include <QQuickItem>

namespace quorin::test {

QObject *findNamedObject(QObject *root, const QString &objectName)
{
    if (!root)
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    if (auto *item = qobject_cast<QQuickItem *>(root)) {
        for (QQuickItem *child : item->childItems()) {
            if (QObject *found = findNamedObject(child, objectName))
                return found;
        }
    }
    for (QObject *child : root->children()) {
        if (QObject *found = findNamedObject(child, objectName))
            return found;
    }
    return nullptr;
}

} // namespace quorin::test
