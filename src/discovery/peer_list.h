#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "discovery/discovery_backend.h"
#include "discovery/peer_hints.h"

namespace brisk {

// One peer as a person sees it: a sanitised name and the one address and port to use,
// what its announcement hints at, and whether that matches a peer verified before.
struct DiscoveredPeer {
  std::string name;
  std::string address;
  int port = 0;
  PeerHints hints;
  // Its announced fingerprint prefix is a verified peer's: a hint for the list, since
  // anyone can announce any prefix. Connecting still checks the whole key.
  bool verified = false;

  bool operator==(const DiscoveredPeer&) const = default;
};

// The peers found on the network, built from the backend's events: every announcement of
// one peer (one per interface and protocol) merged into one entry, this program's own
// announcement left out. Ordered so that a flood of announcements cannot push a known peer
// out of sight: the peers verified before come first, then those seen most recently. Plain
// data; the owner feeds it on one thread.
class PeerList {
 public:
  // Whether a peer was verified before, from what it announced. A verified peer is listed
  // first and never makes room for another.
  using VerifiedTest = std::function<bool(const DiscoveredPeer&)>;
  // Makes the verified test for one rebuild of the list: a test that reads a file reads it
  // once per rebuild, and sees it change.
  using VerifiedTestSource = std::function<VerifiedTest()>;

  // The most peers listed at once: more would not fit a drop-down list.
  static constexpr std::size_t kMaxShown = 32;
  // The most peers kept, so that a flood of fake announcements cannot grow without bound;
  // a new one takes the place of the one not seen for longest.
  static constexpr std::size_t kMaxKept = 256;

  explicit PeerList(VerifiedTest verified = {});
  explicit PeerList(VerifiedTestSource source);

  // Builds the list again, for when what the verified test reads may have changed.
  // Returns whether the peers() changed.
  bool recheck() { return rebuild(); }

  // Takes one event in. Returns whether the peers() changed.
  bool apply(const DiscoveryEvent& event);

  // Every peer kept, best first: verified before, then the most recently seen.
  const std::vector<DiscoveredPeer>& peers() const { return ordered_; }

  // What a list shows: the first peers matching a filter, and how many more match.
  struct Selection {
    std::vector<DiscoveredPeer> shown;
    std::size_t more = 0;
  };
  // The peers whose name or address contains `filter` (ASCII letters in either case),
  // best first, at most `limit` of them. An empty filter matches every peer.
  Selection select(std::string_view filter, std::size_t limit = kMaxShown) const;

  bool available() const { return available_; }
  // Why discovery does not work, while it does not.
  const std::string& unavailableReason() const { return reason_; }

 private:
  using Route = std::tuple<int, IpProtocol>;  // interface, protocol
  struct Announcement {
    std::string address;
    int port = 0;
    bool ours = false;
    PeerHints hints;
  };
  struct Entry {
    std::map<Route, Announcement> routes;
    std::uint64_t lastSeen = 0;  // the number of the event that last announced it
    bool verified = false;       // as of the last rebuild
  };

  // Makes room for one more name: the peer not seen for longest goes, unless verified.
  bool makeRoom();
  bool rebuild();

  VerifiedTestSource verified_;
  // Raw instance name -> what each interface and protocol saw of it.
  std::map<std::string, Entry> byName_;
  std::uint64_t events_ = 0;
  bool available_ = false;
  std::string reason_;
  std::vector<DiscoveredPeer> ordered_;
};

// The one address of a peer worth connecting to among those it was seen with: IPv4 before
// IPv6, and a loopback or link-local address only when nothing else is known.
// Returns the index into `addresses`.
std::size_t preferredAddress(const std::vector<std::string>& addresses);

// The verified test of peers that announce one of the fingerprint prefixes `prefixes`
// gives (those of the peers verified before), asked once per rebuild.
PeerList::VerifiedTestSource verifiedByPrefix(std::function<std::vector<std::string>()> prefixes);

}  // namespace brisk
