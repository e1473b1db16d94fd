#include "common/discovery_settings.h"

namespace brisk {

namespace {

constexpr const char* kAnnounceName = "announce";
constexpr const char* kShowFoundName = "discover";
constexpr const char* kDisplayNameName = "displayname";
constexpr const char* kEncryptedOnlyName = "encryptedonly";

bool readSwitch(const SettingsStore& store, const char* name, bool defaultValue) {
  const std::optional<std::string> text = store.readOptionalSetting(name);
  if (text == "1") return true;
  if (text == "0") return false;
  return defaultValue;
}

}  // namespace

DiscoverySettings loadDiscoverySettings(const SettingsStore& store) {
  DiscoverySettings settings;
  settings.announce = readSwitch(store, kAnnounceName, settings.announce);
  settings.showFound = readSwitch(store, kShowFoundName, settings.showFound);
  settings.displayName = store.readOptionalSetting(kDisplayNameName).value_or(std::string());
  return settings;
}

void saveDiscoverySettings(const SettingsStore& store, const DiscoverySettings& settings) {
  store.writeSettingNumber(kAnnounceName, settings.announce ? 1 : 0);
  store.writeSettingNumber(kShowFoundName, settings.showFound ? 1 : 0);
  store.writeSettingText(kDisplayNameName, settings.displayName);
}

bool loadEncryptedOnly(const SettingsStore& store) {
  return readSwitch(store, kEncryptedOnlyName, false);
}

void saveEncryptedOnly(const SettingsStore& store, bool on) {
  store.writeSettingNumber(kEncryptedOnlyName, on ? 1 : 0);
}

}  // namespace brisk
