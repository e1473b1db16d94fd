#include "ui/save_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/settings_store.h"

namespace brisk {

QString saveDialogFolder(const SettingsStore& store) {
  if (const auto stored = store.readOptionalSetting(kSaveFolderSetting)) {
    const QString folder = QString::fromStdString(*stored);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  }
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  if (!downloads.isEmpty() && QFileInfo(downloads).isDir()) return downloads;
  return QDir::homePath();
}

void rememberSaveFolder(const SettingsStore& store, const QString& folder) {
  if (folder.isEmpty()) return;
  const QString cleaned = QDir::cleanPath(folder);
  if (store.readOptionalSetting(kSaveFolderSetting) == cleaned.toStdString()) return;
  store.writeSettingText(kSaveFolderSetting, cleaned.toStdString());
}

}  // namespace brisk
