#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "secure/fingerprint.h"

namespace brisk {

// A peer whose fingerprint both people confirmed at first contact.
struct TrustedPeer {
  Fingerprint fingerprint;
  std::string name;                    // the name it gave, or the one the person chose
  std::vector<std::string> addresses;  // where it was last seen, the latest first
  std::chrono::sys_seconds verifiedAt{};

  friend bool operator==(const TrustedPeer&, const TrustedPeer&) = default;
};

// The peers this installation has verified, kept in a file beside the settings that only
// the owner may read. Every operation reads the file afresh and every change writes it
// whole (atomically, under a lock that other Brisk processes of the user take too), so
// the window and brisk-peer running at once never lose each other's changes. No file is
// an empty store (installations from before encrypted sessions have none); a file that
// cannot be read is an error, never taken as empty: that would forget every peer and let
// a changed key through as a first contact. Any thread.
class TrustStore {
 public:
  explicit TrustStore(std::filesystem::path file) : file_(std::move(file)) {}
  // The store's file in `folder` (normally settingsFolder()).
  static std::filesystem::path fileIn(const std::filesystem::path& folder);
  const std::filesystem::path& file() const { return file_; }

  struct Peers {
    std::vector<TrustedPeer> peers;
    std::string error;  // for the person; the list is empty then
    bool ok() const { return error.empty(); }
  };
  struct Lookup {
    std::optional<TrustedPeer> peer;
    std::string error;
    bool ok() const { return error.empty(); }
  };

  // Every peer, in the order they were first verified.
  Peers list() const;
  Lookup find(const Fingerprint& fingerprint) const;
  // The peers known under `name` or last seen at `address` (an empty one matches nothing):
  // a known name or address that now presents another fingerprint is one of these.
  Peers findByNameOrAddress(std::string_view name, std::string_view address) const;

  enum class ChangeStatus { Done, NotFound, Failed };
  struct Change {
    ChangeStatus status = ChangeStatus::Failed;
    std::string error;  // for the person, when Failed
  };
  // After both people confirmed: keeps the peer (or renews it) with its name, the address
  // it came from and the time.
  Change remember(const Fingerprint& fingerprint, std::string_view name, std::string_view address,
                  std::chrono::sys_seconds now);
  // A known peer connected again from `address`.
  Change noteSeen(const Fingerprint& fingerprint, std::string_view address);
  Change rename(const Fingerprint& fingerprint, std::string_view name);
  Change forget(const Fingerprint& fingerprint);

  // Limits that keep the file small whatever peers send as their names.
  static constexpr std::size_t kMaxNameBytes = 256;
  static constexpr std::size_t kMaxAddressBytes = 256;
  static constexpr std::size_t kMaxAddresses = 4;

 private:
  Peers load() const;
  // Reads, lets `edit` change the list (false: NotFound), writes. Under both locks.
  template <typename Edit>
  Change change(Edit edit);

  std::filesystem::path file_;
  mutable std::mutex mutex_;
};

// The file's text for a list of peers, and back (nothing, with `error` set, when it is
// not such a text). Exposed for the tests and the fuzzer.
std::string trustStoreText(const std::vector<TrustedPeer>& peers);
std::optional<std::vector<TrustedPeer>> parseTrustStoreText(std::string_view text,
                                                            std::string& error);

}  // namespace brisk
