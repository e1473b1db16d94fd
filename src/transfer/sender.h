#pragma once

#include "transfer/transfer_session.h"

namespace brisk {

// The sending side: sends the record's queued items in order (folders walked depth
// first), honours every answer of the receiving side, keeps fileSize, fileDone and
// totalDone current, and ends with the end record when everything went through. Returns
// when the transfer is over, whatever the outcome; failures have been shown.
void runSender(const TransferSession& session);

}  // namespace brisk
