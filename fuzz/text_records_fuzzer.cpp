// An announcement's text records as anyone on the network may send them: a run of records,
// each a length byte and that many bytes, as they come in a DNS TXT record. Whatever they
// hold, the hints read from them are well formed, what is announced reads back as it went,
// and a peer counts as verified exactly when it announces a trusted prefix.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/peer_hints.h"
#include "discovery/peer_list.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool wellFormed(const brisk::PeerHints& hints) {
  if (hints.encryptedPort && (*hints.encryptedPort < 1 || *hints.encryptedPort > 65535)) {
    return false;
  }
  if (hints.fingerprintPrefix.empty()) return true;
  if (hints.fingerprintPrefix.size() != brisk::kFingerprintPrefixDigits) return false;
  for (const char c : hints.fingerprintPrefix) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::islower(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisk;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> records;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = static_cast<unsigned char>(bytes[at]);
    records.push_back(bytes.substr(at + 1, length));
    at += 1 + length;
  }
  const PeerHints hints = parseHintRecords(records);
  check(wellFormed(hints));

  const std::vector<std::string> announced = hintRecords(hints);
  check(parseHintRecords(std::vector<std::string_view>(announced.begin(), announced.end())) ==
        hints);

  const std::string trusted = "3F7A91C2";
  PeerList list(verifiedByPrefix([&] { return std::vector<std::string>{trusted}; }));
  list.apply(ServiceFound{"peer", "192.168.1.5", 6000, 2, IpProtocol::V4, false, hints});
  check(list.peers().size() == 1);
  check(list.peers()[0].verified == (hints.fingerprintPrefix == trusted));
  return 0;
}
