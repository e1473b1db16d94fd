#include "cli/secure_commands.h"

#include "cli/peer_run.h"
#include "discovery/display_name.h"
#include "secure/private_file.h"

namespace brisk {

namespace {

std::shared_ptr<const Identity> loadIdentity(std::ostream& err) {
  Identity::Loaded loaded = Identity::loadOrCreate(settingsFolder());
  if (!loaded.identity) {
    err << "brisk-peer: " << loaded.error << "\n";
    return nullptr;
  }
  if (loaded.tightened) {
    err << "brisk-peer: " << Identity::fileIn(settingsFolder()).string()
        << " could be read by others; it is now readable by its owner only\n";
  }
  return loaded.identity;
}

}  // namespace

int printIdentity(std::ostream& out, std::ostream& err) {
  const std::shared_ptr<const Identity> identity = loadIdentity(err);
  if (!identity) return kExitLocalDisk;
  out << identity->fingerprint().groupedText() << "\n";
  return 0;
}

int runTrustCommand(const PeerOptions& options, std::ostream& out, std::ostream& err) {
  TrustStore store(TrustStore::fileIn(settingsFolder()));
  if (options.trustAction == "list") {
    const TrustStore::Peers peers = store.list();
    if (!peers.ok()) {
      err << "brisk-peer: " << peers.error << "\n";
      return kExitLocalDisk;
    }
    for (const TrustedPeer& peer : peers.peers) {
      std::string addresses;
      for (const std::string& address : peer.addresses) {
        addresses += (addresses.empty() ? "" : ",") + address;
      }
      out << peer.fingerprint.groupedText() << "\t" << peer.name << "\t" << addresses << "\n";
    }
    return 0;
  }
  const std::optional<Fingerprint> fingerprint = Fingerprint::parse(options.trustFingerprint);
  if (!fingerprint) {
    err << "brisk-peer: not a fingerprint (64 hex digits): " << options.trustFingerprint << "\n";
    return kExitUsage;
  }
  const TrustStore::Change change = store.forget(*fingerprint);
  switch (change.status) {
    case TrustStore::ChangeStatus::Done:
      out << "forgot " << fingerprint->groupedText() << "\n";
      return 0;
    case TrustStore::ChangeStatus::NotFound:
      err << "brisk-peer: no verified peer has the fingerprint " << fingerprint->groupedText()
          << "\n";
      return kExitIncomplete;
    case TrustStore::ChangeStatus::Failed:
      break;
  }
  err << "brisk-peer: " << change.error << "\n";
  return kExitLocalDisk;
}

std::shared_ptr<SecureSetup> secureSetupFor(const PeerOptions& options, bool encryptedOnly,
                                            std::string& error) {
  Identity::Loaded loaded = Identity::loadOrCreate(settingsFolder());
  if (!loaded.identity) {
    error = loaded.error;
    return nullptr;
  }
  auto trust = std::make_shared<TrustStore>(TrustStore::fileIn(settingsFolder()));
  std::shared_ptr<SecureSetup> setup =
      makeSecureSetup(std::move(loaded.identity), std::move(trust),
                      options.name.empty() ? defaultDisplayName() : options.name, error);
  if (!setup) return nullptr;
  setup->plainOnly = options.plain;
  setup->encryptedOnly = encryptedOnly && !options.plain;
  setup->streamedTransfers = !options.noStream;
  // The unattended inbox gives a session only to peers verified before, or verified now
  // by someone at the terminal (or by --trust-first-contact).
  setup->verifiedOnly = options.keep && !options.acceptAnyone;
  return setup;
}

}  // namespace brisk
