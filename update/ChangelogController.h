#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

// Decides which "What’s new" entries of the changelog that ships with the client the user is
// shown, and remembers the ids of those already seen. The file's texts come in the interface
// language chosen when the controller was made; it stays fixed for the run. GUI thread only.
class ChangelogController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ChangelogController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QVariantList entries READ entries NOTIFY entriesChanged)
    Q_PROPERTY(bool shouldShow READ shouldShow NOTIFY entriesChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(QString currentBuild READ currentBuild CONSTANT)
    Q_PROPERTY(Mode mode READ mode NOTIFY entriesChanged)

public:
    enum Mode {
        // The entries not seen yet, chosen at start.
        Automatic = 0,
        // Every entry, after reopen().
        History = 1,
    };
    Q_ENUM(Mode)

    // Reads the file and the seen state at once; tests make one per case.
    explicit ChangelogController(QObject *parent);

    // The process-wide controller, made on first use with no parent; lives until the process exits.
    [[nodiscard]] static ChangelogController *instance();

    [[nodiscard]] QVariantList entries() const { return m_entries; }
    [[nodiscard]] bool shouldShow() const { return m_shouldShow; }
    [[nodiscard]] QString currentVersion() const;
    [[nodiscard]] QString currentBuild() const;
    [[nodiscard]] Mode mode() const { return m_mode; }

    // Records every listed entry as seen and hides the dialog.
    Q_INVOKABLE void dismiss();
    // Lists every entry of the file again, the first one expanded.
    Q_INVOKABLE void reopen();

Q_SIGNALS:
    void entriesChanged();

private:
    void load();

    // Every usable entry of the file, in file order, none expanded; set once by load().
    QVariantList m_allEntries;
    QVariantList m_entries;
    bool m_shouldShow = false;
    Mode m_mode = Automatic;
};
