#pragma once

#include "transfer/transfer_session.h"

namespace brisk {

// The receiving side: answers every record of the sending side, creates folders and
// files below the save folder only (received names are checked, no symbolic link is
// followed), asks about existing files, resumes or overwrites them, and gives what it
// wrote the sender's times and read-only state once the data is in. Returns when the
// transfer is over, whatever the outcome; failures have been shown. A file cut short
// stays on disk as it is, so that it can be resumed.
void runReceiver(const TransferSession& session);

}  // namespace brisk
