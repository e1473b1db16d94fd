#pragma once

#include <QString>

namespace brisk {

class SettingsStore;

// The settings value that keeps the folder the person last saved into.
inline constexpr const char* kSaveFolderSetting = "SaveFolder";

// Where the save dialogs open: the folder the person last saved into while it exists,
// else their Downloads folder (from the XDG user dirs), else the home folder.
QString saveDialogFolder(const SettingsStore& store);

// Remembers the folder a chosen file lies in (or a chosen folder) for the next dialog.
void rememberSaveFolder(const SettingsStore& store, const QString& folder);

}  // namespace brisk
