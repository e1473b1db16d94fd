#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include "link/peer.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

bool hasReachableInterface() {
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (const ifaddrs* at = interfaces; at; at = at->ifa_next) {
    if (at->ifa_addr && at->ifa_addr->sa_family == AF_INET && (at->ifa_flags & IFF_UP) &&
        !IpAddress::fromIpv4(
             ntohl(reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr))
             .isLoopback()) {
      found = true;
    }
  }
  ::freeifaddrs(interfaces);
  return found;
}

TEST(LocalAddress, TheStartUpLineNamesAnAddressThePeerCanReach) {
  test::ScriptedFrontend frontend;
  Peer peer(frontend, test::fastTiming());
  peer.logLocalAddress();
  ASSERT_TRUE(frontend.waitFor([&] { return !frontend.log().empty(); }));
  const std::string line = frontend.log().at(0).text;
  ASSERT_TRUE(line.starts_with("本机IP地址：") && line.ends_with("\r\n")) << line;
  const std::string dotted = line.substr(std::string("本机IP地址：").size());
  const auto address = IpAddress::parseDotted(dotted.substr(0, dotted.size() - 2));
  ASSERT_TRUE(address) << line;
  // A host name mapped to 127.0.1.1 must not hide the machine's real address.
  if (hasReachableInterface()) {
    EXPECT_FALSE(address->isLoopback()) << line;
  }
}

TEST(DottedAddress, OnlyFourDecimalPartsUpTo255) {
  EXPECT_EQ(IpAddress::parseDotted("192.168.1.20")->ipv4(), 0xC0A80114u);
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", "对方IP地址"}) {
    EXPECT_FALSE(IpAddress::parseDotted(bad)) << bad;
  }
  EXPECT_EQ(IpAddress::fromIpv4(0x7F000001).text(), "127.0.0.1");
}

}  // namespace
}  // namespace brisk
