#include "discovery/peer_list.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include <net/if.h>

#include "discovery/display_name.h"

namespace brisk {

namespace {

// fe80::/10, as the daemon writes it: the first group in full, lower or upper case.
bool isLinkLocalIpv6(const std::string& address) {
  if (address.size() < 5 || address[4] != ':') return false;
  const std::string group = {static_cast<char>(std::tolower(address[0])),
                             static_cast<char>(std::tolower(address[1])),
                             static_cast<char>(std::tolower(address[2]))};
  return group == "fe8" || group == "fe9" || group == "fea" || group == "feb";
}

// Lower is better.
int addressRank(const std::string& address) {
  const bool v6 = address.find(':') != std::string::npos;
  if (!v6) {
    if (address.starts_with("127.")) return 4;
    if (address.starts_with("169.254.")) return 2;
    return 0;
  }
  if (address == "::1") return 5;
  if (isLinkLocalIpv6(address)) return 3;
  return 1;
}

// A link-local IPv6 address is reachable only through the interface it was seen on, so it
// carries that interface, as "fe80::1%eth0", which connecting to it needs.
std::string withScope(const std::string& address, int interfaceIndex) {
  if (!isLinkLocalIpv6(address) || interfaceIndex <= 0 || address.find('%') != std::string::npos) {
    return address;
  }
  char name[IF_NAMESIZE] = {};
  if (::if_indextoname(static_cast<unsigned>(interfaceIndex), name) == nullptr) {
    return address + '%' + std::to_string(interfaceIndex);
  }
  return address + '%' + name;
}

}  // namespace

std::size_t preferredAddress(const std::vector<std::string>& addresses) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < addresses.size(); ++i) {
    if (addressRank(addresses[i]) < addressRank(addresses[best])) best = i;
  }
  return best;
}

PeerList::VerifiedTestSource verifiedByPrefix(std::function<std::vector<std::string>()> prefixes) {
  return [prefixes = std::move(prefixes)]() -> PeerList::VerifiedTest {
    std::set<std::string> known;
    for (std::string& prefix : prefixes()) {
      if (!prefix.empty()) known.insert(std::move(prefix));
    }
    return [known = std::move(known)](const DiscoveredPeer& peer) {
      return known.contains(peer.hints.fingerprintPrefix);
    };
  };
}

PeerList::PeerList(VerifiedTest verified) {
  if (verified) verified_ = [verified = std::move(verified)] { return verified; };
}

PeerList::PeerList(VerifiedTestSource source) : verified_(std::move(source)) {}

bool PeerList::apply(const DiscoveryEvent& event) {
  return std::visit(
      [this](const auto& e) -> bool {
        using Event = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Event, ServiceFound>) {
          if (!byName_.contains(e.name) && byName_.size() >= kMaxKept && !makeRoom()) {
            return false;
          }
          Entry& entry = byName_[e.name];
          entry.routes[Route{e.interfaceIndex, e.protocol}] =
              Announcement{e.address, e.port, e.ours, e.hints};
          entry.lastSeen = ++events_;
        } else if constexpr (std::is_same_v<Event, ServiceLost>) {
          auto known = byName_.find(e.name);
          if (known == byName_.end()) return false;
          known->second.routes.erase(Route{e.interfaceIndex, e.protocol});
          if (known->second.routes.empty()) byName_.erase(known);
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

bool PeerList::makeRoom() {
  auto oldest = byName_.end();
  for (auto it = byName_.begin(); it != byName_.end(); ++it) {
    if (it->second.verified) continue;
    if (oldest == byName_.end() || it->second.lastSeen < oldest->second.lastSeen) oldest = it;
  }
  if (oldest == byName_.end()) return false;
  byName_.erase(oldest);
  return true;
}

bool PeerList::rebuild() {
  struct Ranked {
    DiscoveredPeer peer;
    bool verified = false;
    std::uint64_t lastSeen = 0;
  };
  const VerifiedTest verified = verified_ && !byName_.empty() ? verified_() : VerifiedTest();
  std::vector<Ranked> ranked;
  for (auto& [name, entry] : byName_) {
    const auto& routes = entry.routes;
    // Our own announcement comes back to us like any other; we do not connect to ourselves.
    const bool own = std::any_of(routes.begin(), routes.end(),
                                 [](const auto& route) { return route.second.ours; });
    if (routes.empty() || own) continue;
    std::vector<std::string> addresses;
    std::vector<const Announcement*> announcements;
    std::vector<int> interfaces;
    for (const auto& [route, announcement] : routes) {
      addresses.push_back(announcement.address);
      announcements.push_back(&announcement);
      interfaces.push_back(std::get<0>(route));
    }
    // The hints come with the address chosen: the same announcement told both.
    const std::size_t best = preferredAddress(addresses);
    std::string shownName = sanitizeDisplayName(name);
    if (shownName.empty()) shownName = "?";
    DiscoveredPeer peer{std::move(shownName), withScope(addresses[best], interfaces[best]),
                        announcements[best]->port, announcements[best]->hints};
    entry.verified = verified && verified(peer);
    peer.verified = entry.verified;
    ranked.push_back(Ranked{std::move(peer), entry.verified, entry.lastSeen});
  }
  std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    return std::tie(b.verified, b.lastSeen) < std::tie(a.verified, a.lastSeen);
  });
  std::vector<DiscoveredPeer> peers;
  peers.reserve(ranked.size());
  for (Ranked& entry : ranked) peers.push_back(std::move(entry.peer));
  if (peers == ordered_) return false;
  ordered_ = std::move(peers);
  return true;
}

PeerList::Selection PeerList::select(std::string_view filter, std::size_t limit) const {
  const auto lower = [](std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
  };
  const std::string wanted = lower(filter);
  Selection selection;
  for (const DiscoveredPeer& peer : ordered_) {
    if (!wanted.empty() && lower(peer.name).find(wanted) == std::string::npos &&
        lower(peer.address).find(wanted) == std::string::npos) {
      continue;
    }
    if (selection.shown.size() < limit) {
      selection.shown.push_back(peer);
    } else {
      ++selection.more;
    }
  }
  return selection;
}

}  // namespace brisk
