#pragma once

#include <memory>

#include "common/prompt_handle.h"
#include "link/link_context.h"

namespace brisk {

// Shows an offer to the person who made it until the peer answers (the offer's owner then
// closes the prompt) or the person cancels it, which withdraws the offer: the peer is told
// with a CANCEL message before the Index is free again. Runs on a thread of its own.
void waitingThread(LinkContext& link, const OfferKey& key, std::shared_ptr<PromptHandle> prompt);

}  // namespace brisk
