#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <openssl/types.h>

#include "secure/fingerprint.h"

namespace brisk {

// Who this installation is to its peers: an Ed25519 key and a self-signed certificate for
// it, kept in one file that only the owner may read. Peers recognise the installation by
// the fingerprint of the public key; the certificate only carries the key through TLS, so
// nothing in it but the key is ever looked at. Immutable once made; any thread.
class Identity {
 public:
  // The file in `folder`; by default the settings folder.
  static std::filesystem::path fileIn(const std::filesystem::path& folder);

  struct Loaded;
  // Loads the identity of `folder`, making it first when there is none. An identity that
  // cannot be read is an error and is never replaced: a new key would make every peer
  // that verified this installation see a stranger. The folder is created if missing.
  static Loaded loadOrCreate(const std::filesystem::path& folder);
  // Makes a new identity in memory only (for tests and tools).
  static std::shared_ptr<const Identity> generate();

  const Fingerprint& fingerprint() const { return fingerprint_; }
  EVP_PKEY* key() const { return key_.get(); }
  X509* certificate() const { return certificate_.get(); }

 private:
  struct KeyFree {
    void operator()(EVP_PKEY* key) const;
  };
  struct CertificateFree {
    void operator()(X509* certificate) const;
  };

  Identity(EVP_PKEY* key, X509* certificate);
  static Loaded parse(const std::string& pem);

  std::unique_ptr<EVP_PKEY, KeyFree> key_;
  std::unique_ptr<X509, CertificateFree> certificate_;
  Fingerprint fingerprint_;
};

struct Identity::Loaded {
  std::shared_ptr<const Identity> identity;  // empty on failure
  bool created = false;                      // made just now: a first start
  bool tightened = false;  // the file was readable by others and is now the owner's alone
  std::string error;       // for the person, when there is no identity
};

// The fingerprint of a certificate's public key; nothing when it carries none.
std::optional<Fingerprint> fingerprintOf(X509* certificate);

}  // namespace brisk
