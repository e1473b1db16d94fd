#pragma once

#include "transfer/transfer_session.h"

namespace brisk {

// The receiving side of a streamed transfer (both peers offered it): takes the manifest,
// settles every question about existing files before the first data byte and sends the
// plan, then takes every file's data, checks it against the sending side's digest and
// confirms in batches. Sets record.protocolFinished when every offered file arrived whole,
// checked, written and closed.
void runStreamReceiver(const TransferSession& session);

}  // namespace brisk
