#include "ui/main_window_settings.h"

#include "common/settings_store.h"

namespace brisk {

namespace {

constexpr int kSmallestWidth = 160;
constexpr int kSmallestHeight = 100;
constexpr const char* kCloseToTrayName = "CloseToTray";

}  // namespace

WindowPlacement readWindowPlacement(const SettingsStore& store) {
  WindowPlacement placement;
  placement.zoomed = store.readSettingNumber("zoomed", 0) == 1;
  int width = store.readSettingNumber("width", kDefaultWidth);
  int height = store.readSettingNumber("height", kDefaultHeight);
  if (width <= kSmallestWidth) width = kDefaultWidth;
  if (height <= kSmallestHeight) height = kDefaultHeight;
  placement.outerSize = QSize(width, height);
  return placement;
}

bool readStayOnTop(const SettingsStore& store) {
  return store.readSettingNumber("StayOnTop", 0) == 1;
}

void saveWindowPlacement(const SettingsStore& store, bool maximised, QSize outerSize) {
  if (maximised) {
    store.writeSettingNumber("zoomed", 1);
    return;
  }
  store.writeSettingNumber("zoomed", 0);
  store.writeSettingNumber("width", outerSize.width());
  store.writeSettingNumber("height", outerSize.height());
}

void saveStayOnTop(const SettingsStore& store, bool stayOnTop) {
  store.writeSettingNumber("StayOnTop", stayOnTop ? 1 : 0);
}

bool readCloseToTray(const SettingsStore& store) {
  return store.readOptionalSetting(kCloseToTrayName) == "1";
}

void saveCloseToTray(const SettingsStore& store, bool on) {
  store.writeSettingNumber(kCloseToTrayName, on ? 1 : 0);
}

}  // namespace brisk
