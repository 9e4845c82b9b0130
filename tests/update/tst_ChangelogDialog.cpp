#include "app/PreferencesStore.h"
#include "testsupport/ShellTestSetup.h"
#include "update/ChangelogController.h"

#include <QCoreApplication>
#include <QPointer>
#include <QQmlEngine>
#include <QSettings>
#include <QtQuickTest>
#include <memory>

namespace {

std::unique_ptr<QSettings> changelogStore()
{
    std::unique_ptr<QSettings> store = quorin::PreferencesStore::open();
    store->beginGroup(QStringLiteral("changelog"));
    return store;
}

} // namespace

// What the dialog's tests choose and read around the real controller: the changelog file of the
// controller still to be made, and the seen ids in the store. Each test file has an engine of its
// own and with it a controller of its own, made when the file first reads it, over a store that
// holds nothing yet.
class ChangelogFixture : public QObject
{
    Q_OBJECT

public:
    // "shipped" for the file the client ships, "layout" for the test's own file.
    // False once this file's controller exists: it has read its file already.
    Q_INVOKABLE bool use(const QString &file)
    {
        if (m_controller)
            return false;
        const QString path =
            file == QLatin1String("layout") ? QStringLiteral(QUORIN_LAYOUT_CHANGELOG) : QString();
        qApp->setProperty("quorinChangelogPath", path);
        return true;
    }

    // Records ids as seen by an earlier run. False once this file's controller exists.
    Q_INVOKABLE bool markSeen(const QStringList &ids)
    {
        if (m_controller)
            return false;
        changelogStore()->setValue(QStringLiteral("seenEntryIds"), ids);
        return true;
    }

    // The stored seen ids, sorted; undefined in QML when the store has no list at all.
    Q_INVOKABLE QVariant seenIds() const
    {
        const std::unique_ptr<QSettings> store = changelogStore();
        if (!store->contains(QStringLiteral("seenEntryIds")))
            return {};
        QStringList ids = store->value(QStringLiteral("seenEntryIds")).toStringList();
        ids.sort();
        return ids;
    }

    Q_INVOKABLE void forgetSeenIds() { changelogStore()->remove(QString()); }

    // A new engine: nothing seen yet, the shipped file, and no controller until the file asks.
    void startEngine()
    {
        forgetSeenIds();
        m_controller.clear();
        (void)use(QStringLiteral("shipped"));
    }

    // A controller for the engine that asks, which that engine owns.
    ChangelogController *makeController()
    {
        m_controller = new ChangelogController(nullptr);
        return m_controller;
    }

private:
    QPointer<ChangelogController> m_controller;
};

// The shell's set-up (its update controller double among the rest), with the real changelog
// controller in place of the double.
class Setup : public quorin::test::ShellTestSetup
{
    Q_OBJECT

public Q_SLOTS:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        ShellTestSetup::qmlEngineAvailable(engine);
        m_fixture.startEngine();
    }

protected:
    void registerChangelogController() override
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        qmlRegisterSingletonInstance("Quorin.Testing", 1, 0, "ChangelogFixture", &m_fixture);
        qmlRegisterSingletonType<ChangelogController>(
            "Quorin.Controllers", 1, 0, "ChangelogController",
            [this](QQmlEngine *, QJSEngine *) -> QObject * { return m_fixture.makeController(); });
    }

private:
    ChangelogFixture m_fixture;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_ChangelogDialog, Setup)
#include "tst_ChangelogDialog.moc"
