// IPv6 end to end, in a network of its own whose loopback has ::1 and no IPv4 address, so
// nothing can quietly go over IPv4 instead.

#include <algorithm>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "link/peer.h"
#include "platform/socket.h"
#include "support/isolated_network.h"
#include "support/peer_pair.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::ScriptedFrontend;

class Ipv6Link : public test::Sandbox {};

// A name that resolves to ::1 alone, through the namespace's own hosts file.
constexpr const char* kIpv6OnlyName = "peer6.brisk.test";

std::string lookedUp(const std::string& text) {
  const HostLookup lookup = resolveHost(text);
  return text + " -> " + (lookup.address ? lookup.address->text() : lookup.errorText) + "\n";
}

// Two peers, one listening on its default sockets and one connecting by a name that has
// only an IPv6 address: chat and a folder cross over IPv6.
std::string chatAndSendOverIpv6(const fs::path& sources, const fs::path& saveFolder) {
  std::ostringstream seen;
  ScriptedFrontend listenerUi;
  ScriptedFrontend connectorUi;
  Peer listener{listenerUi, test::fastTiming()};
  Peer connector{connectorUi, test::fastTiming()};
  listenerUi.onPrompt = [](PromptHandle& handle, const PromptRequest& request) {
    if (request.kind == PromptKind::OwnOfferWaiting) {
      return ScriptedFrontend::waitUntilClosed(handle);
    }
    return PromptAnswer::Accept;
  };
  connectorUi.onPrompt = listenerUi.onPrompt;
  listenerUi.onChooseFolder = [&] { return std::optional<fs::path>(saveFolder); };
  const int port = test::freePortRange(100);
  if (!test::connectPeers(listener, listenerUi, connector, connectorUi, port, kIpv6OnlyName)) {
    const std::string log = connectorUi.logText();
    return "not connected, the log ends: " +
           log.substr(log.size() - std::min<std::size_t>(log.size(), 60));
  }
  seen << "listener shows " << listenerUi.addressText() << "\n";
  connector.sendChatLine("hello over IPv6");
  seen << "chat " << (listenerUi.waitForLog("hello over IPv6\r\n") ? "arrived" : "lost") << "\n";
  connector.offerFiles({sources});
  const bool ended = test::waitFor(
      [&] { return !connectorUi.transferEnds().empty() && !listenerUi.transferEnds().empty(); });
  seen << "transfer "
       << (ended && listenerUi.transferEnds().back().cause == TransferCause::Complete
               ? "complete"
               : "not complete")
       << "\n";
  for (const char* name : {"a.bin", "inner/b.txt"}) {
    seen << name << " "
         << (test::readFile(saveFolder / "six" / name) == test::readFile(sources / name)
                 ? "same"
                 : "differs")
         << "\n";
  }
  return seen.str();
}

TEST_F(Ipv6Link, NamesAndAddressesOfIpv6PeersAreReachedAndDataFollows) {
  const fs::path sources = folder("out") / "six";
  test::writeFile(sources / "a.bin", test::patternBytes(300000, 6));
  test::writeFile(sources / "inner/b.txt", "six\n");
  const fs::path saveFolder = folder("in");
  const std::optional<std::string> outcome = test::runWithoutNetwork([&] {
    if (!test::keepOnlyIpv6Loopback()) return std::string("loopback not made IPv6-only");
    if (!test::useHostsFile("::1 " + std::string(kIpv6OnlyName) + "\n")) {
      return std::string("no hosts file of its own");
    }
    return lookedUp("::1") + lookedUp("[::1]") + lookedUp(kIpv6OnlyName) + lookedUp("127.0.0.1") +
           chatAndSendOverIpv6(sources, saveFolder);
  });
  if (!outcome) GTEST_SKIP() << "network namespaces need root";
  EXPECT_EQ(*outcome,
            "::1 -> ::1\n"
            "[::1] -> ::1\n"
            "peer6.brisk.test -> ::1\n"
            "127.0.0.1 -> 127.0.0.1\n"
            "listener shows ::1\n"
            "chat arrived\n"
            "transfer complete\n"
            "a.bin same\n"
            "inner/b.txt same\n");
}

}  // namespace
}  // namespace brisk
