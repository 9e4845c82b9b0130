#pragma once

#include <QString>

class QObject;

namespace quorin::test {

// Finds an object of a running interface by its object name: depth-first over the item tree
// and the object tree, so that pages parented only as items and pop-ups parented only as
// objects are both found. Null when none has the name.
[[nodiscard]] QObject *findNamedObject(QObject *root, const QString &objectName);

} // namespace quorin::test
