#include "discovery/peer_hints.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace brisk {

namespace {

constexpr std::string_view kEncryptedPortKey = "sport";
constexpr std::string_view kFingerprintKey = "fp";

bool sameKey(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// 1 to 65535 in plain decimal digits; nothing else.
std::optional<int> portValue(std::string_view text) {
  if (text.empty() || text.size() > 5 || text.front() == '0') return std::nullopt;
  int port = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

// Exactly kFingerprintPrefixDigits hex digits of either case, returned upper case.
std::string prefixValue(std::string_view text) {
  if (text.size() != kFingerprintPrefixDigits) return {};
  std::string prefix;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    prefix += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return prefix;
}

}  // namespace

std::vector<std::string> hintRecords(const PeerHints& hints) {
  std::vector<std::string> records{"v=1"};
  if (hints.encryptedPort) {
    records.push_back(std::string(kEncryptedPortKey) + '=' + std::to_string(*hints.encryptedPort));
  }
  if (!hints.fingerprintPrefix.empty()) {
    records.push_back(std::string(kFingerprintKey) + '=' + hints.fingerprintPrefix);
  }
  return records;
}

PeerHints parseHintRecords(const std::vector<std::string_view>& records) {
  PeerHints hints;
  bool portSeen = false;
  bool prefixSeen = false;
  const std::size_t count = std::min(records.size(), kMaxHintRecords);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view record = records[i];
    if (record.size() > kMaxHintRecordBytes) continue;
    const std::size_t equals = record.find('=');
    // A key without '=' is a flag; none is used.
    if (equals == std::string_view::npos) continue;
    const std::string_view key = record.substr(0, equals);
    const std::string_view value = record.substr(equals + 1);
    if (sameKey(key, kEncryptedPortKey) && !std::exchange(portSeen, true)) {
      hints.encryptedPort = portValue(value);
    } else if (sameKey(key, kFingerprintKey) && !std::exchange(prefixSeen, true)) {
      hints.fingerprintPrefix = prefixValue(value);
    }
  }
  return hints;
}

}  // namespace brisk
