#ifndef KAVELO_SHELL_SETTINGSCHANGE_H
#define KAVELO_SHELL_SETTINGSCHANGE_H

#include "shell/Settings.h"

#include <QStringList>

namespace kavelo::shell {

// How the settings just read differ from those in force, by key.
struct SettingsChange
{
    QStringList applied;       // keys set differently that take effect now
    QStringList restartNeeded; // keys set differently that take effect only at the next start
};

// Compares `next` (KAVELO.ini read again) with `inForce`. The keys that cannot change while KAVELO runs (the
// databases, DATA, the import's folder, UsbPort: a poll, an import or a filing would otherwise work half on the old
// value and half on the new) get their values in force back in `next`, so that nothing is half applied.
SettingsChange compareSettings(const Settings& inForce, Settings& next);

} // namespace kavelo::shell

#endif
