#pragma once

#include <memory>

#include "common/transfer_record.h"

namespace brisk {

class Peer;

// Starts an accepted transfer whose record is in its slot, in this order: its window, its
// transfer thread, its progress thread. Starts nothing twice for the same record. On the
// listening side it returns once the data port listens, so the port can be named next.
void startTransfer(Peer& peer, const std::shared_ptr<TransferRecord>& record);

// The Stop button of the transfer window of `own`: breaks its data connection and tells
// the peer.
void stopTransfer(Peer& peer, int index, const TransferRecord* own);

}  // namespace brisk
