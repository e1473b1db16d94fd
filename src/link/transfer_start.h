#pragma once

#include <memory>

#include "common/transfer_record.h"
#include "link/link_context.h"

namespace brisk {

// Starts the transfer of an offer that has just moved to Transferring, in this order: its
// window, its transfer thread, its progress thread. On the listening side it returns once
// the data port listens, so the port can be named next. The progress thread gives the
// Index back once the verdict is shown.
void startTransfer(LinkContext& link, const OfferKey& key,
                   const std::shared_ptr<TransferRecord>& record);

// The Stop button of the transfer window of `own`: breaks its data connection and tells
// the peer.
void stopTransfer(LinkContext& link, int index, const TransferRecord* own);

}  // namespace brisk
