#include "discovery/peer_list.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brisk {
namespace {

ServiceFound found(std::string name, std::string address, int port = 6000, int interface = 2,
                   IpProtocol protocol = IpProtocol::V4) {
  return ServiceFound{std::move(name), std::move(address), port, interface, protocol, false};
}

TEST(PeerList, MergesOnePeerSeenOnSeveralInterfacesAndProtocols) {
  struct Case {
    const char* what;
    std::vector<ServiceFound> seen;
    std::string address;
  };
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
  EXPECT_EQ(list.peers()[0], (DiscoveredPeer{"Alice", "10.8.0.2", 6000}));
  EXPECT_TRUE(list.apply(ServiceLost{"Alice", 5, IpProtocol::V4}));
  EXPECT_TRUE(list.peers().empty());
}

TEST(PeerList, AChangedPortOrAddressReplacesTheOldOne) {
  PeerList list;
  list.apply(found("Alice", "192.168.1.5", 6000));
  EXPECT_TRUE(list.apply(found("Alice", "192.168.1.9", 6001)));
  ASSERT_EQ(list.peers().size(), 1u);
  EXPECT_EQ(list.peers()[0], (DiscoveredPeer{"Alice", "192.168.1.9", 6001}));
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
  EXPECT_EQ(list.peers()[0], (DiscoveredPeer{"?", "192.168.1.8", 6000}));
  EXPECT_EQ(list.peers()[1], (DiscoveredPeer{"Bob", "192.168.1.6", 6000}));
  EXPECT_EQ(list.peers()[2], (DiscoveredPeer{"Bob", "192.168.1.7", 6000}));
}

TEST(PeerList, ShowsAtMost32AndKeepsTheRestBounded) {
  PeerList list;
  for (int i = 0; i < 400; ++i) {
    list.apply(found("peer " + std::to_string(1000 + i), "10.0.0.1", 6000 + i));
  }
  ASSERT_EQ(list.peers().size(), PeerList::kMaxShown);
  EXPECT_EQ(list.peers().front().name, "peer 1000");
  // One shown peer leaves: the next kept one takes its place; those past the bound were
  // never kept.
  list.apply(ServiceLost{"peer 1000", 2, IpProtocol::V4});
  EXPECT_EQ(list.peers().size(), PeerList::kMaxShown);
  EXPECT_EQ(list.peers().back().name, "peer 1032");
  for (int i = 0; i < 256; ++i) {
    list.apply(ServiceLost{"peer " + std::to_string(1000 + i), 2, IpProtocol::V4});
  }
  EXPECT_TRUE(list.peers().empty());
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
