#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "discovery/discovery_backend.h"

namespace brisk {

// One peer as a person sees it: a sanitised name and the one address and port to use.
struct DiscoveredPeer {
  std::string name;
  std::string address;
  int port = 0;

  bool operator==(const DiscoveredPeer&) const = default;
};

// The peers found on the network, built from the backend's events: every announcement of
// one peer (one per interface and protocol) merged into one entry, this program's own
// announcement left out. Plain data; the owner feeds it on one thread.
class PeerList {
 public:
  // The most peers listed: more would not fit a drop-down list, and a flood of fake
  // announcements must not grow without bound.
  static constexpr std::size_t kMaxShown = 32;
  // The most announcements kept while they wait for a place among the shown.
  static constexpr std::size_t kMaxKept = 256;

  // Takes one event in. Returns whether the peers() changed.
  bool apply(const DiscoveryEvent& event);

  // The peers to show, ordered by name then address, at most kMaxShown.
  const std::vector<DiscoveredPeer>& peers() const { return shown_; }

  bool available() const { return available_; }
  // Why discovery does not work, while it does not.
  const std::string& unavailableReason() const { return reason_; }

 private:
  using Route = std::tuple<int, IpProtocol>;  // interface, protocol
  struct Announcement {
    std::string address;
    int port = 0;
    bool ours = false;
  };

  bool rebuild();

  // Raw instance name -> what each interface and protocol saw of it.
  std::map<std::string, std::map<Route, Announcement>> byName_;
  bool available_ = false;
  std::string reason_;
  std::vector<DiscoveredPeer> shown_;
};

// The one address of a peer worth connecting to among those it was seen with: IPv4 before
// IPv6, and a loopback or link-local address only when nothing else is known.
// Returns the index into `addresses`.
std::size_t preferredAddress(const std::vector<std::string>& addresses);

}  // namespace brisk
