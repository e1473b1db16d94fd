#include "support/peer_pair.h"

#include "support/test_support.h"

namespace brisk::test {

bool connectPeers(Peer& listener, ScriptedFrontend& listenerUi, Peer& connector,
                  ScriptedFrontend& connectorUi, int port, const std::string& host) {
  listener.listen(port);
  const bool connected = waitFor([&] {
    connector.connect(host, port);
    connectorUi.waitFor([&] { return connectorUi.linkState() != LinkState::Connecting; });
    return connector.connected();
  });
  return connected && listenerUi.waitForLinkState(LinkState::Connected);
}

bool slotsEmpty(Peer& peer) {
  // Every state but free holds its Index, also one with neither transfer nor prompt yet
  // (an offer reserved, or asked and not yet shown).
  return !peer.offers().anyInUse();
}

}  // namespace brisk::test
