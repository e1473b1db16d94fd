#include "link/control_messages.h"

#include "link/peer.h"

namespace brisk {

void dispatchControlMessage(Peer& /*peer*/, const std::string& /*message*/) {
  // The negotiation of offers is not handled yet: the message has been shown in the
  // chat log and nothing more happens.
}

}  // namespace brisk
