#include "cli/peer_browse.h"

#include <sstream>

#include <gtest/gtest.h>

#include "cli/peer_run.h"
#include "discovery/fake_discovery.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;

struct BrowseCase {
  const char* what;
  std::vector<DiscoveryEvent> events;
  int status;
  std::string out;
  std::string errors;
};

TEST(PeerBrowse, PrintsWhatWasFoundOrWhyNothingCanBe) {
  const PeerHints aliceHints{6101, "3F7A91C2"};
  const ServiceFound alice{"Alice", "192.168.1.5", 6000, 2, IpProtocol::V4, false, aliceHints};
  const ServiceFound aliceV6{"Alice", "fe80::5", 6000, 2, IpProtocol::V6, false, aliceHints};
  // Announces the trusted prefix's neighbour and an encrypted port only.
  const ServiceFound bob{"小明\t", "192.168.1.6",     6001, 2, IpProtocol::V4,
                         false,    {6102, "3F7A91C3"}};
  const ServiceFound carol{"Carol", "192.168.1.7", 6002, 2, IpProtocol::V4, false, {}};
  const BrowseCase cases[] = {
      {"the peer with a verified prefix first and marked, one seen twice",
       {AvailabilityChanged{true, {}}, aliceV6, alice, bob, carol},
       0,
       "Alice\t192.168.1.5\t6000\t6101\tverified-prefix\n"
       "Carol\t192.168.1.7\t6002\t-\t-\n"
       "小明\t192.168.1.6\t6001\t6102\t-\n",
       ""},
      {"nobody there", {AvailabilityChanged{true, {}}}, 0, "", ""},
      {"a peer that left",
       {AvailabilityChanged{true, {}}, alice, ServiceLost{"Alice", 2, IpProtocol::V4}},
       0,
       "",
       ""},
      {"no daemon",
       {AvailabilityChanged{false, "avahi-daemon is not running"}},
       kExitLinkFailed,
       "",
       "brisk-peer: local network discovery is unavailable: avahi-daemon is not running\n"},
      {"no answer at all",
       {},
       kExitLinkFailed,
       "",
       "brisk-peer: local network discovery is unavailable: avahi-daemon did not answer\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    std::ostringstream errors;
    // Waits the whole time for answers, except when the answer is that there are none; that
    // answer is looked for with a long time, which only a wait for it all would use up.
    const bool answersAtOnce = c.status != 0 && !c.events.empty();
    const auto browseTime = answersAtOnce ? std::chrono::milliseconds(60s) : 200ms;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(browsePeers(std::make_unique<test::FakeDiscovery>(c.events), browseTime, out, errors,
                          verifiedByPrefix([] { return std::vector<std::string>{"3F7A91C2"}; })),
              c.status)
        << c.what;
    EXPECT_EQ(out.str(), c.out) << c.what;
    EXPECT_EQ(errors.str(), c.errors) << c.what;
    const auto took = std::chrono::steady_clock::now() - started;
    if (c.status == 0) {
      EXPECT_GE(took, browseTime) << c.what;
    } else if (answersAtOnce) {
      EXPECT_LT(took, browseTime) << c.what;
    }
  }
}

}  // namespace
}  // namespace brisk
