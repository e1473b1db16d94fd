#pragma once

class QCoreApplication;

namespace brisk {

// Installs Qt's own Chinese texts (the buttons and labels of its file dialogs and message
// boxes) from the system's Qt translations, so they read like the rest of the interface.
// Returns false, changing nothing, when they are not installed (Debian ships them in
// qt6-translations-l10n).
bool installQtChineseTexts(QCoreApplication& app);

}  // namespace brisk
