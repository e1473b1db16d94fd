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
  for (int index = OfferSlots::kFirstIndex; index <= OfferSlots::kLastIndex; ++index) {
    if (peer.offers().tsf(index) || peer.offers().tsfwnd(index)) return false;
  }
  return true;
}

}  // namespace brisk::test
