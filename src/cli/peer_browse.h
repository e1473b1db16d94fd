#pragma once

#include <chrono>
#include <memory>
#include <ostream>

#include "discovery/discovery_backend.h"
#include "discovery/peer_list.h"

namespace brisk {

// brisk-peer peers: looks for listening peers through `discovery` for `wait`, then prints
// one line per peer, NAME<TAB>ADDRESS<TAB>PORT<TAB>ENCRYPTED-PORT<TAB>MARK (UTF-8), and
// returns 0. ENCRYPTED-PORT is the one announced, or "-"; MARK is kVerifiedPrefixMark for
// a peer announcing the fingerprint prefix of a peer `verified` knows (a hint: connecting
// still checks the whole key), else "-". Those peers come first. When discovery is
// unavailable it prints the reason as one line on `errors` at once and returns
// kExitLinkFailed. The backend is stopped before it returns.
int browsePeers(std::unique_ptr<DiscoveryBackend> discovery, std::chrono::milliseconds wait,
                std::ostream& out, std::ostream& errors,
                PeerList::VerifiedTestSource verified = {});

inline constexpr const char* kVerifiedPrefixMark = "verified-prefix";

}  // namespace brisk
