#include "ui/autostart.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace brisk {

QString autostartEntryPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/autostart/org.brisk.Brisk.desktop");
}

bool autostartEnabled() {
  return QFileInfo::exists(autostartEntryPath());
}

QString desktopExecArgument(const QString& argument) {
  // "%" starts a field code wherever it stands.
  QString text = argument;
  text.replace(QLatin1Char('%'), QStringLiteral("%%"));
  static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  const bool plain = !text.isEmpty() && std::none_of(text.cbegin(), text.cend(),
                                                     [](QChar c) { return kReserved.contains(c); });
  if (plain) return text;
  QString quoted;
  for (const QChar c : std::as_const(text)) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
        c == QLatin1Char('\\')) {
      quoted += QLatin1Char('\\');
    }
    quoted += c;
  }
  // The entry's string value unescapes backslashes once more before the line is split.
  quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString setAutostart(bool on, const QString& program) {
  const QString path = autostartEntryPath();
  if (!on) {
    QFile entry(path);
    if (!entry.exists() || entry.remove()) return {};
    return entry.errorString();
  }
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    return QStringLiteral("无法创建文件夹 %1").arg(QFileInfo(path).absolutePath());
  }
  QSaveFile entry(path);
  if (!entry.open(QIODevice::WriteOnly)) return entry.errorString();
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Brisk\n"
                           "Comment=Start Brisk in the tray at login\n"
                           "Comment[zh_CN]=登录时在托盘中启动 Brisk\n"
                           "Exec=%1 --hidden\n"
                           "Icon=org.brisk.Brisk\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(desktopExecArgument(program));
  entry.write(text.toUtf8());
  if (!entry.commit()) return entry.errorString();
  return {};
}

}  // namespace brisk
