#pragma once

#include <QString>

namespace brisk {

// The entry that starts Brisk in the tray when the person logs in:
// $XDG_CONFIG_HOME/autostart/org.brisk.Brisk.desktop (~/.config by default), which every
// desktop that follows the autostart convention runs.
QString autostartEntryPath();
bool autostartEnabled();

// Writes the entry, starting `program` with --hidden, or removes it. Returns an empty
// text on success, else why it failed (for a notice); a missing entry is already removed.
QString setAutostart(bool on, const QString& program);

// `argument` quoted for a desktop entry's Exec line where it needs to be.
QString desktopExecArgument(const QString& argument);

}  // namespace brisk
