#include "ui/secure_start.h"

#include "common/discovery_settings.h"
#include "common/settings_store.h"
#include "discovery/display_name.h"
#include "secure/private_file.h"

namespace brisk {

void startSecureSessions(Peer& peer) {
  const SettingsStore store(peer.notices());
  Identity::Loaded loaded = Identity::loadOrCreate(settingsFolder());
  if (!loaded.identity) {
    peer.notices().showNotice("无法使用加密连接：" + loaded.error + "\r\n只能使用未加密的连接。");
    return;
  }
  const std::string announced = loadDiscoverySettings(store).displayName;
  std::string error;
  std::shared_ptr<SecureSetup> setup =
      makeSecureSetup(std::move(loaded.identity),
                      std::make_shared<TrustStore>(TrustStore::fileIn(settingsFolder())),
                      announced.empty() ? defaultDisplayName() : announced, error);
  if (!setup) {
    peer.notices().showNotice("无法使用加密连接：" + error + "\r\n只能使用未加密的连接。");
    return;
  }
  setup->encryptedOnly = loadEncryptedOnly(store);
  peer.setSecureSetup(std::move(setup));
}

}  // namespace brisk
