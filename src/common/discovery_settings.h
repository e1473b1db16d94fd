#pragma once

#include <string>

#include "common/settings_store.h"

namespace brisk {

// The choices about finding peers on the local network. Settings files older than these
// choices do not hold them; they load silently with these defaults.
struct DiscoverySettings {
  bool announce = true;     // announce this computer while it listens
  bool showFound = true;    // list the computers found in the address box
  std::string displayName;  // the name announced; empty means the default name
};

DiscoverySettings loadDiscoverySettings(const SettingsStore& store);
void saveDiscoverySettings(const SettingsStore& store, const DiscoverySettings& settings);

// The choice about unencrypted sessions (只使用加密连接): when on, Connect never falls
// back to the plain port and a listening side turns plain connections away. Off in
// settings files older than it.
bool loadEncryptedOnly(const SettingsStore& store);
void saveEncryptedOnly(const SettingsStore& store, bool on);

}  // namespace brisk
