#pragma once

#include "link/peer.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk::test {

// A Peer that listens on a free port, and a raw socket connected to it in the connecting
// peer's place that speaks the control protocol byte for byte.
class ListeningPeerFixture : public Sandbox {
 protected:
  explicit ListeningPeerFixture(Timing timing = fastTiming()) : peer(ui, timing) {}

  void SetUp() override {
    Sandbox::SetUp();
    peer.listen(port);
    raw = RawConnection::connectTo(port);
    ASSERT_TRUE(raw.isOpen());
    ASSERT_TRUE(ui.waitForLinkState(LinkState::Connected));
  }

  ScriptedFrontend ui;
  Peer peer;
  int port = freePortRange(100);
  RawConnection raw;
};

}  // namespace brisk::test
