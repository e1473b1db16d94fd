#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisk {

// What an announcement tells besides its name and port, in its text records: the port of
// encrypted sessions and the first digits of the announcing installation's fingerprint.
// Anyone on the network can announce anything, so these only help a person pick a
// computer from a list; trust is never taken from them.
struct PeerHints {
  std::optional<int> encryptedPort;
  // kFingerprintPrefixDigits upper-case hex digits, as Fingerprint::shortText() writes
  // them, or empty.
  std::string fingerprintPrefix;

  bool operator==(const PeerHints&) const = default;
};

inline constexpr std::size_t kFingerprintPrefixDigits = 8;

// The text records that announce `hints`: the protocol's version first, then only the
// hints there are.
std::vector<std::string> hintRecords(const PeerHints& hints);

// What a received announcement's text records hint at. They are any bytes from anyone:
// records past the first kMaxHintRecords or longer than a record can be are skipped,
// unknown keys and malformed values are ignored, and of a key given twice only the first
// counts (a later one cannot override it).
PeerHints parseHintRecords(const std::vector<std::string_view>& records);

inline constexpr std::size_t kMaxHintRecords = 64;
inline constexpr std::size_t kMaxHintRecordBytes = 255;

}  // namespace brisk
