#pragma once

#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "secure/trust_store.h"

namespace brisk {

// The short fingerprints (Fingerprint::shortText) of the peers in a trust store, for
// marking the computers on the network that may be ones verified before. The store's file
// is read again only when it changed (another process may change it at any time), so
// asking often costs one stat. A store that cannot be read gives none: the marks are a
// hint and never worth an error. One thread at a time.
class TrustedPrefixes {
 public:
  explicit TrustedPrefixes(std::shared_ptr<const TrustStore> store) : store_(std::move(store)) {}

  const std::vector<std::string>& current();

 private:
  // What tells one version of the file from another: it is always replaced whole.
  struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0;
    bool operator==(const Stamp&) const = default;
  };

  std::shared_ptr<const TrustStore> store_;
  bool read_ = false;
  Stamp stamp_;
  std::vector<std::string> prefixes_;
};

}  // namespace brisk
