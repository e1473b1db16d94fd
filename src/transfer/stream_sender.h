#pragma once

#include "transfer/transfer_session.h"

namespace brisk {

// The sending side of a streamed transfer (both peers offered it): the manifest of every
// offered item, the receiving side's plan, then every file's data back to back, each
// followed by its digest, and the receiving side's confirmations. Sets
// record.protocolFinished when every file arrived whole and checked.
void runStreamSender(const TransferSession& session);

}  // namespace brisk
