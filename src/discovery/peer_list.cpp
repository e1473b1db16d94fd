#include "discovery/peer_list.h"

#include <algorithm>
#include <type_traits>

#include "discovery/display_name.h"

namespace brisk {

namespace {

// Lower is better.
int addressRank(const std::string& address) {
  const bool v6 = address.find(':') != std::string::npos;
  if (!v6) {
    if (address.starts_with("127.")) return 4;
    if (address.starts_with("169.254.")) return 2;
    return 0;
  }
  if (address == "::1") return 5;
  if (address.starts_with("fe80:") || address.starts_with("FE80:")) return 3;
  return 1;
}

}  // namespace

std::size_t preferredAddress(const std::vector<std::string>& addresses) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < addresses.size(); ++i) {
    if (addressRank(addresses[i]) < addressRank(addresses[best])) best = i;
  }
  return best;
}

bool PeerList::apply(const DiscoveryEvent& event) {
  return std::visit(
      [this](const auto& e) -> bool {
        using Event = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Event, ServiceFound>) {
          auto known = byName_.find(e.name);
          if (known == byName_.end() && byName_.size() >= kMaxKept) return false;
          byName_[e.name][Route{e.interfaceIndex, e.protocol}] =
              Announcement{e.address, e.port, e.ours};
        } else if constexpr (std::is_same_v<Event, ServiceLost>) {
          auto known = byName_.find(e.name);
          if (known == byName_.end()) return false;
          known->second.erase(Route{e.interfaceIndex, e.protocol});
          if (known->second.empty()) byName_.erase(known);
        } else if constexpr (std::is_same_v<Event, AvailabilityChanged>) {
          available_ = e.available;
          reason_ = e.available ? std::string() : e.reason;
          // Without the daemon nothing found before can be kept up to date.
          if (!e.available) byName_.clear();
        } else {
          return false;  // the name we are announced under changes nothing listed
        }
        return rebuild();
      },
      event);
}

bool PeerList::rebuild() {
  std::vector<DiscoveredPeer> peers;
  for (const auto& [name, routes] : byName_) {
    // Our own announcement comes back to us like any other; we do not connect to ourselves.
    const bool own = std::any_of(routes.begin(), routes.end(),
                                 [](const auto& route) { return route.second.ours; });
    if (routes.empty() || own) continue;
    std::vector<std::string> addresses;
    std::vector<int> ports;
    for (const auto& [route, announcement] : routes) {
      addresses.push_back(announcement.address);
      ports.push_back(announcement.port);
    }
    const std::size_t best = preferredAddress(addresses);
    std::string shownName = sanitizeDisplayName(name);
    if (shownName.empty()) shownName = "?";
    peers.push_back(DiscoveredPeer{std::move(shownName), addresses[best], ports[best]});
  }
  std::sort(peers.begin(), peers.end(), [](const DiscoveredPeer& a, const DiscoveredPeer& b) {
    return std::tie(a.name, a.address, a.port) < std::tie(b.name, b.address, b.port);
  });
  if (peers.size() > kMaxShown) peers.resize(kMaxShown);
  if (peers == shown_) return false;
  shown_ = std::move(peers);
  return true;
}

}  // namespace brisk
