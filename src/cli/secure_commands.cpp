#include "cli/secure_commands.h"

#include <cctype>
#include <string_view>
#include <vector>

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

// The verified peers that `given` names: the start of their fingerprint, at least 8 hex
// digits of it (grouped or not, either case), or the name they were remembered under.
std::vector<TrustedPeer> peersNamedBy(const std::vector<TrustedPeer>& peers,
                                      std::string_view given) {
  std::string digits;
  bool hex = true;
  for (const char c : given) {
    if (c == ' ') continue;
    hex = hex && std::isxdigit(static_cast<unsigned char>(c)) != 0;
    digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const bool prefix = hex && digits.size() >= 8;
  std::vector<TrustedPeer> found;
  for (const TrustedPeer& peer : peers) {
    if ((prefix && peer.fingerprint.hexText().starts_with(digits)) || peer.name == given) {
      found.push_back(peer);
    }
  }
  return found;
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
  const TrustStore::Peers peers = store.list();
  if (!peers.ok()) {
    err << "brisk-peer: " << peers.error << "\n";
    return kExitLocalDisk;
  }
  const std::string& given = options.trustTarget;
  const std::vector<TrustedPeer> named = peersNamedBy(peers.peers, given);
  if (named.size() != 1) {
    err << "brisk-peer: "
        << (named.empty() ? "no verified peer has a fingerprint beginning with, or the name, "
                          : "more than one verified peer matches ")
        << given << "\n";
    for (const TrustedPeer& peer : named) {
      err << "  " << peer.fingerprint.groupedText() << "\t" << peer.name << "\n";
    }
    if (!named.empty()) err << "Give more of the fingerprint.\n";
    return kExitIncomplete;
  }
  const Fingerprint& fingerprint = named.front().fingerprint;
  const TrustStore::Change change = store.forget(fingerprint);
  switch (change.status) {
    case TrustStore::ChangeStatus::Done:
    case TrustStore::ChangeStatus::NotFound:  // another program forgot it a moment ago
      out << "forgot " << fingerprint.groupedText() << "\t" << named.front().name << "\n";
      return 0;
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
