#pragma once

#include <QString>

// The per-user entry that starts the program with the desktop session: a file in the XDG autostart
// folder, or a value under the Run key of the registry on Windows. Nothing of it is kept in the
// program: every read looks at the entry itself, so one the user made or removed by hand counts.
class AutostartEntry
{
public:
    // The command-line option the entry passes: started with the session, the program goes straight
    // to the tray.
    static const QString hiddenOption;

    static bool isEnabled();
    // Writes the entry for the running executable, or removes it; false, with the reason, if that failed.
    static bool setEnabled(bool enabled, QString* error);
    // The file, or the registry value, that holds the entry.
    static QString location();
};
