#include "net/SignedOutMark.h"

#include "app/PreferencesStore.h"

#include <QSettings>

namespace quorin {
namespace {

const QString kKey = QStringLiteral("signedOut");

bool write(bool stands)
{
    {
        const auto settings = PreferencesStore::open();
        if (stands)
            settings->setValue(kKey, true);
        else
            settings->remove(kKey);
        settings->sync();
        if (settings->status() != QSettings::NoError)
            return false;
    }
    return SignedOutMark::read() == (stands ? SignedOutMark::State::Stands : SignedOutMark::State::Absent);
}

} // namespace

SignedOutMark::State SignedOutMark::read()
{
    const auto settings = PreferencesStore::open();
    const bool stands = settings->value(kKey).toBool();
    if (settings->status() != QSettings::NoError)
        return State::Unreadable;
    return stands ? State::Stands : State::Absent;
}

bool SignedOutMark::keep()
{
    return write(true);
}

bool SignedOutMark::clear()
{
    if (read() == State::Absent)
        return true;
    return write(false);
}

} // namespace quorin
