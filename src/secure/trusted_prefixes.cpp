#include "secure/trusted_prefixes.h"

#include <sys/stat.h>

namespace brisk {

const std::vector<std::string>& TrustedPrefixes::current() {
  Stamp now;
  struct stat status {};
  if (::stat(store_->file().c_str(), &status) == 0) {
    now = Stamp{
        true, status.st_dev, status.st_ino, status.st_size,
        static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
  }
  if (read_ && now == stamp_) return prefixes_;
  read_ = true;
  stamp_ = now;
  prefixes_.clear();
  for (const TrustedPeer& peer : store_->list().peers) {
    prefixes_.push_back(peer.fingerprint.shortText());
  }
  return prefixes_;
}

}  // namespace brisk
