#pragma once

#include <memory>

#include "common/prompt_handle.h"
#include "common/transfer_record.h"

namespace brisk {

class Peer;

// Shows an offer to the person who made it until the peer answers (the dispatcher then
// closes the prompt) or the person cancels it, which withdraws the offer: the peer is
// told with a CANCEL message, then the record and the prompt leave their slots. Runs on a
// thread of its own.
void waitingThread(Peer& peer, int index, std::shared_ptr<PromptHandle> prompt,
                   std::shared_ptr<TransferRecord> record);

}  // namespace brisk
