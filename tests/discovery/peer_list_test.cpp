#include "discovery/peer_list.h"

#include <map>
#include <string>
#include <vector>

#include <net/if.h>

#include <gtest/gtest.h>

namespace brisk {
namespace {

ServiceFound found(std::string name, std::string address, int port = 6000, int interface = 2,
                   IpProtocol protocol = IpProtocol::V4) {
  return ServiceFound{std::move(name), std::move(address), port, interface, protocol, false, {}};
}

DiscoveredPeer listed(std::string name, std::string address, int port) {
  return DiscoveredPeer{std::move(name), std::move(address), port, {}, false};
}

TEST(PeerList, MergesOnePeerSeenOnSeveralInterfacesAndProtocols) {
  struct Case {
    const char* what;
    std::vector<ServiceFound> seen;
    std::string address;
  };
  const int lo = static_cast<int>(::if_nametoindex("lo"));
  const Case cases[] = {
      {"IPv6 first, IPv4 later",
       {found("Alice", "fe80::1", 6000, 2, IpProtocol::V6), found("Alice", "192.168.1.5")},
       "192.168.1.5"},
      {"global IPv6 before link-local IPv4",
       {found("Alice", "169.254.3.3", 6000, 3),
        found("Alice", "2001:db8::5", 6000, 2, IpProtocol::V6)},
       "2001:db8::5"},
      {"loopback only when nothing else",
       {found("Alice", "127.0.0.1", 6000, 1), found("Alice", "10.0.0.7", 6000, 2)},
       "10.0.0.7"},
      {"loopback alone", {found("Alice", "127.0.0.1", 6000, 1)}, "127.0.0.1"},
      {"IPv6 loopback last",
       {found("Alice", "::1", 6000, 1, IpProtocol::V6), found("Alice", "127.0.0.1", 6000, 1)},
       "127.0.0.1"},
      // A peer without IPv4: a link-local address is of use only with its interface.
      {"IPv6 alone",
       {found("Alice", "fe80::1", 6000, lo, IpProtocol::V6),
        found("Alice", "2001:db8::5", 6000, lo + 1, IpProtocol::V6)},
       "2001:db8::5"},
      {"link-local IPv6 alone",
       {found("Alice", "FE80::1", 6000, lo, IpProtocol::V6)},
       "FE80::1%lo"},
      {"not link-local", {found("Alice", "fec0::1", 6000, lo, IpProtocol::V6)}, "fec0::1"},
  };
  for (const auto& c : cases) {
    PeerList list;
    for (const auto& event : c.seen) list.apply(event);
    ASSERT_EQ(list.peers().size(), 1u) << c.what;
    EXPECT_EQ(list.peers()[0].address, c.address) << c.what;
  }
}

TEST(PeerList, APeerGoesOnlyWhenEveryRouteHasGone) {
  PeerList list;
  EXPECT_TRUE(list.apply(found("Alice", "192.168.1.5", 6000, 2)));
  // Seen through a VPN as well: still one entry, unchanged.
  EXPECT_FALSE(list.apply(found("Alice", "10.8.0.2", 6000, 5)));
  EXPECT_FALSE(list.apply(ServiceLost{"Bob", 2, IpProtocol::V4}));    // never seen
  EXPECT_FALSE(list.apply(ServiceLost{"Alice", 2, IpProtocol::V6}));  // not that route
  ASSERT_EQ(list.peers().size(), 1u);
  EXPECT_TRUE(list.apply(ServiceLost{"Alice", 2, IpProtocol::V4}));
  ASSERT_EQ(list.peers().size(), 1u);
  EXPECT_EQ(list.peers()[0], listed("Alice", "10.8.0.2", 6000));
  EXPECT_TRUE(list.apply(ServiceLost{"Alice", 5, IpProtocol::V4}));
  EXPECT_TRUE(list.peers().empty());
}

TEST(PeerList, AChangedPortOrAddressReplacesTheOldOne) {
  PeerList list;
  list.apply(found("Alice", "192.168.1.5", 6000));
  EXPECT_TRUE(list.apply(found("Alice", "192.168.1.9", 6001)));
  ASSERT_EQ(list.peers().size(), 1u);
  EXPECT_EQ(list.peers()[0], listed("Alice", "192.168.1.9", 6001));
}

TEST(PeerList, HidesOurOwnAnnouncementButNotAnotherOnThisHost) {
  PeerList list;
  ServiceFound own = found("Alice (laptop)", "127.0.0.1", 6000, 1);
  own.ours = true;
  EXPECT_FALSE(list.apply(own));
  // A second copy of Brisk on this computer, renamed by the daemon after the clash.
  list.apply(found("Alice (laptop) #2", "127.0.0.1", 6001, 1));
  ASSERT_EQ(list.peers().size(), 1u);
  EXPECT_EQ(list.peers()[0].name, "Alice (laptop) #2");
  EXPECT_FALSE(list.apply(AnnouncedAs{"Alice (laptop)"}));
}

TEST(PeerList, ShowsSanitisedNamesAndTellsEqualNamesApartByAddress) {
  PeerList list;
  list.apply(found("Bob\xE2\x80\xAE", "192.168.1.7"));
  list.apply(found("Bob", "192.168.1.6"));
  list.apply(found("\n", "192.168.1.8"));
  ASSERT_EQ(list.peers().size(), 3u);
  EXPECT_EQ(list.peers()[0], listed("?", "192.168.1.8", 6000));
  EXPECT_EQ(list.peers()[1], listed("Bob", "192.168.1.6", 6000));
  EXPECT_EQ(list.peers()[2], listed("Bob", "192.168.1.7", 6000));
}

std::vector<std::string> namesOf(const std::vector<DiscoveredPeer>& peers) {
  std::vector<std::string> names;
  for (const DiscoveredPeer& peer : peers) names.push_back(peer.name);
  return names;
}

// 32 announcements named to sort first, made after a real peer's.
void floodAfter(PeerList& list, const std::string& real) {
  list.apply(found(real, "192.168.1.66"));
  for (int i = 1; i <= 32; ++i) {
    list.apply(found("AAA-fake-" + std::to_string(i), "10.0.0." + std::to_string(i)));
  }
}

TEST(PeerList, ListsTheMostRecentlySeenFirstAndTellsHowManyMore) {
  PeerList list;
  floodAfter(list, "Mallory-Real");
  const PeerList::Selection all = list.select("");
  ASSERT_EQ(all.shown.size(), PeerList::kMaxShown);
  EXPECT_EQ(all.shown.front().name, "AAA-fake-32");
  EXPECT_EQ(all.more, 1u);
  // Seen again: back at the top.
  list.apply(found("Mallory-Real", "192.168.1.66", 6000, 3));
  EXPECT_EQ(list.select("").shown.front().name, "Mallory-Real");
  EXPECT_EQ(list.select("").shown.back().name, "AAA-fake-2");
}

TEST(PeerList, AFilterFindsPeersByNameOrAddress) {
  PeerList list;
  floodAfter(list, "Mallory-Real");
  struct Row {
    const char* filter;
    std::vector<std::string> shown;
    std::size_t more;
  };
  const Row rows[] = {
      {"mallory", {"Mallory-Real"}, 0},
      {"REAL", {"Mallory-Real"}, 0},
      {"192.168.1.6", {"Mallory-Real"}, 0},
      {"fake-3", {"AAA-fake-32", "AAA-fake-31", "AAA-fake-30", "AAA-fake-3"}, 0},
      {"nobody", {}, 0},
  };
  for (const Row& row : rows) {
    const PeerList::Selection selection = list.select(row.filter);
    EXPECT_EQ(namesOf(selection.shown), row.shown) << row.filter;
    EXPECT_EQ(selection.more, row.more) << row.filter;
  }
  const PeerList::Selection fakes = list.select("AAA", 5);
  EXPECT_EQ(fakes.shown.size(), 5u);
  EXPECT_EQ(fakes.more, 27u);
}

TEST(PeerList, PeersVerifiedBeforeComeFirstAndAreNeverPushedOut) {
  PeerList list([](const DiscoveredPeer& peer) { return peer.name == "Mallory-Real"; });
  floodAfter(list, "Mallory-Real");
  EXPECT_EQ(list.select("").shown.front().name, "Mallory-Real");
  // A flood far past what is kept: the new ones push out those not seen for longest,
  // never the verified peer.
  for (int i = 0; i < 1000; ++i) list.apply(found("flood " + std::to_string(i), "10.1.0.1"));
  EXPECT_EQ(list.peers().size(), PeerList::kMaxKept);
  EXPECT_EQ(list.peers().front().name, "Mallory-Real");
  EXPECT_EQ(list.peers()[1].name, "flood 999");
  EXPECT_EQ(list.peers().back().name, "flood " + std::to_string(1000 - PeerList::kMaxKept + 1));
}

TEST(PeerList, APeerAnnouncingATrustedPrefixIsVerified) {
  std::vector<std::string> trusted{"3F7A91C2", ""};
  int reads = 0;
  PeerList list(verifiedByPrefix([&] {
    ++reads;
    return trusted;
  }));
  struct Row {
    const char* name;
    std::string prefix;
    bool verified;
  };
  const Row rows[] = {
      {"Trusted", "3F7A91C2", true},
      {"Neighbour", "3F7A91C3", false},
      {"Silent", "", false},  // an empty prefix matches no stored empty one
  };
  for (const Row& row : rows) {
    ServiceFound seen = found(row.name, "192.168.1.5");
    seen.hints.fingerprintPrefix = row.prefix;
    list.apply(seen);
  }
  EXPECT_EQ(reads, 3);  // once per rebuild, not once per peer
  ASSERT_EQ(list.peers().size(), 3u);
  EXPECT_EQ(list.peers()[0].name, "Trusted");
  std::map<std::string, bool> verified;
  for (const DiscoveredPeer& peer : list.peers()) verified[peer.name] = peer.verified;
  for (const Row& row : rows) EXPECT_EQ(verified[row.name], row.verified) << row.name;
  // The store changed: looked at again, the peer loses its place and its mark.
  trusted.clear();
  EXPECT_TRUE(list.recheck());
  EXPECT_EQ(list.peers()[0].name, "Silent");
  EXPECT_FALSE(list.recheck());
  for (const DiscoveredPeer& peer : list.peers()) EXPECT_FALSE(peer.verified) << peer.name;
}

TEST(PeerList, TheHintsComeFromTheAnnouncementWhoseAddressIsUsed) {
  PeerList list;
  ServiceFound v6 = found("Alice", "fe80::1", 6000, 2, IpProtocol::V6);
  v6.hints = {7000, "AAAAAAAA"};
  ServiceFound v4 = found("Alice", "192.168.1.5");
  v4.hints = {6101, "3F7A91C2"};
  list.apply(v6);
  list.apply(v4);
  ASSERT_EQ(list.peers().size(), 1u);
  EXPECT_EQ(list.peers()[0].hints, (PeerHints{6101, "3F7A91C2"}));
}

TEST(PeerList, KeepsABoundedNumberAndAPeerThatComesLaterIsListedFirst) {
  PeerList list;
  for (int i = 0; i < 400; ++i) {
    list.apply(found("peer " + std::to_string(1000 + i), "10.0.0.1", 6000 + i));
  }
  ASSERT_EQ(list.peers().size(), PeerList::kMaxKept);
  EXPECT_EQ(list.peers().front().name, "peer 1399");
  list.apply(found("Bob", "192.168.1.6"));
  EXPECT_EQ(list.peers().size(), PeerList::kMaxKept);
  EXPECT_EQ(list.select("").shown.front().name, "Bob");
  for (int i = 0; i < 400; ++i) {
    list.apply(ServiceLost{"peer " + std::to_string(1000 + i), 2, IpProtocol::V4});
  }
  EXPECT_EQ(namesOf(list.peers()), std::vector<std::string>{"Bob"});
}

TEST(PeerList, ForgetsEverythingWhenDiscoveryStopsWorking) {
  PeerList list;
  EXPECT_FALSE(list.available());
  list.apply(AvailabilityChanged{true, {}});
  list.apply(found("Alice", "192.168.1.5"));
  EXPECT_TRUE(list.available());
  EXPECT_TRUE(list.apply(AvailabilityChanged{false, "avahi-daemon is not running"}));
  EXPECT_TRUE(list.peers().empty());
  EXPECT_FALSE(list.available());
  EXPECT_EQ(list.unavailableReason(), "avahi-daemon is not running");
}

}  // namespace
}  // namespace brisk
