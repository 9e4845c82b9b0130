#include "testsupport/SignalLog.h"

#include "testsupport/FixtureServer.h"

#include <QMetaMethod>
#include <QMetaProperty>

namespace quorin::test {

void SignalLog::watch(QObject *object, const QString &prefix)
{
    const QMetaObject *meta = object->metaObject();
    const QMetaMethod slot = staticMetaObject.method(staticMetaObject.indexOfSlot("record()"));
    for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
        if (meta->method(index).methodType() == QMetaMethod::Signal)
            connect(object, meta->method(index), this, slot);
    }
    m_prefixes.insert(object, prefix);
}

void SignalLog::watchServer(FixtureServer &server, const QString &pathPrefix)
{
    connect(&server, &FixtureServer::requestReceived, this,
            [this, pathPrefix](const FixtureServer::Request &request) {
                QString target = QString::fromUtf8(request.target);
                if (target.startsWith(pathPrefix))
                    target.remove(0, pathPrefix.size());
                m_events.append(
                    QStringLiteral("request:%1 %2").arg(QString::fromUtf8(request.method), target));
            });
}

void SignalLog::record()
{
    const QObject *object = sender();
    const int signalIndex = senderSignalIndex();
    QString event =
        m_prefixes.value(object) + QString::fromLatin1(object->metaObject()->method(signalIndex).name());
    const QString value = announcedValue(object, signalIndex);
    if (!value.isNull())
        event += QLatin1Char(':') + value;
    m_events.append(event);
}

// The value of the bool or text property this signal announces; null for any other signal.
QString SignalLog::announcedValue(const QObject *object, int signalIndex)
{
    const QMetaObject *meta = object->metaObject();
    for (int index = 0; index < meta->propertyCount(); ++index) {
        const QMetaProperty property = meta->property(index);
        if (property.notifySignalIndex() != signalIndex)
            continue;
        const QVariant value = property.read(object);
        if (value.typeId() == QMetaType::Bool)
            return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        if (value.typeId() == QMetaType::QString)
            return value.toString().isNull() ? QStringLiteral("") : value.toString();
    }
    return {};
}

} // namespace quorin::test
