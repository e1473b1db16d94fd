// A connect to a port of this machine where nothing listens can meet itself when the
// system picks that very port for the connecting end: Brisk's data connections retry
// refused connects to the peer, and two copies on one machine use such ports.

#include <fstream>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "support/isolated_network.h"

namespace brisk {
namespace {

TEST(SelfConnect, AConnectionThatMetItselfIsRefused) {
  static constexpr int kPort = 40404;
  const std::optional<std::string> outcome = test::runWithoutNetwork([] {
    if (!test::addAddressToLoopback("10.99.0.1")) return std::string("loopback not up");
    // In this namespace only: every connection's own end gets the port connected to.
    std::ofstream("/proc/sys/net/ipv4/ip_local_port_range") << kPort << " " << kPort << std::flush;
    SocketInterrupter interrupter;
    const auto loopback = IpAddress::parseDotted("127.0.0.1");
    const SocketResult connected = connectTcp(*loopback, kPort, interrupter);
    if (connected.ok()) return std::string("connected to itself");
    return std::string(connected.failedCall) + " " + std::to_string(connected.error);
  });
  if (!outcome) GTEST_SKIP() << "network namespaces need root";
  EXPECT_EQ(*outcome, "connect " + std::to_string(ECONNREFUSED));
}

}  // namespace
}  // namespace brisk
