#pragma once

#include <chrono>
#include <memory>
#include <ostream>

#include "discovery/discovery_backend.h"

namespace brisk {

// brisk-peer peers: looks for listening peers through `discovery` for `wait`, then prints
// one line per peer, NAME<TAB>ADDRESS<TAB>PORT (UTF-8), and returns 0. When discovery is
// unavailable it prints the reason as one line on `errors` at once and returns
// kExitLinkFailed. The backend is stopped before it returns.
int browsePeers(std::unique_ptr<DiscoveryBackend> discovery, std::chrono::milliseconds wait,
                std::ostream& out, std::ostream& errors);

}  // namespace brisk
