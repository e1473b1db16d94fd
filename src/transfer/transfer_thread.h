#pragma once

#include <memory>

#include "common/transfer_record.h"
#include "transfer/transfer_context.h"

namespace brisk {

// The transfer thread of one accepted offer; runs on the calling thread until the
// transfer is over. Opens the data connection (connects to the control connection's
// peer, trying again while it refuses, or listens on `dataPort` and accepts that peer
// only; either within timing.acceptLimit),
// checks the transfer's folder, runs the sending or the receiving side, then closes the
// connection, empties fileQueue, pathBuffer and saveAsName and beeps. Another thread
// stops it at any moment by interrupting `record->dataSocket`.
//
// Returns 0 after the protocol ran (whatever its outcome) and -1 when the connection
// could not be set up (no beep then). Sets `record->transferEnded` as its very last step.
int transferThread(const TransferContext& context, std::shared_ptr<TransferRecord> record);

}  // namespace brisk
