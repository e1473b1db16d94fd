#pragma once

#include "link/control_message.h"
#include "link/link_context.h"

namespace brisk {

// Acts on one control message, read where the framer handed it over: asks the offer
// owner for one change of state and says or sends what follows from it. A message that
// does not fit the state of its Index is reported and changes nothing, or ends the offer.
// An offer (ASK) is taken here and then waits for the person on a thread of its own;
// everything else runs on the control receive thread, which reads nothing more until it
// returns.
void dispatchControlMessage(LinkContext& link, ControlMessage message);

}  // namespace brisk
