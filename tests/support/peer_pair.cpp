#include "support/peer_pair.h"

#include "support/test_support.h"

namespace brisk::test {

bool connectPeers(Peer& listener, ScriptedFrontend& listenerUi, Peer& connector,
                  ScriptedFrontend& connectorUi, int port) {
  const std::string portText = std::to_string(port);
  listener.onListen(portText);
  const bool connected = waitFor([&] {
    connector.onConnect("127.0.0.1", portText);
    connectorUi.waitFor([&] { return connectorUi.linkState() != LinkState::Connecting; });
    return connector.connected();
  });
  return connected && listenerUi.waitForLinkState(LinkState::Connected);
}

}  // namespace brisk::test
