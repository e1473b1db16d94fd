#include "link/transfer_start.h"

#include <algorithm>

#include "common/diagnostics.h"
#include "link/message_builders.h"
#include "transfer/progress.h"
#include "transfer/transfer_thread.h"

namespace brisk {

namespace {

// Whether this session's transfers are streamed: only when the control connection is an
// encrypted session and both peers named kStreamedCapability in its capability line. A
// plain session has no capabilities, so its transfers keep the plain protocol.
bool streamedTransfersAgreed(LinkContext& link) {
  if (!link.sessionEncrypted()) return false;
  const std::vector<std::string> shared = link.sharedCapabilities();
  return std::find(shared.begin(), shared.end(), kStreamedCapability) != shared.end();
}

}  // namespace

void startTransfer(LinkContext& link, const OfferKey& key,
                   const std::shared_ptr<TransferRecord>& record) {
  const int index = key.index;
  TransferWindowSetup spec;
  spec.index = index;
  spec.isSender = record->isSender;
  spec.fileCount = record->fileCount;
  spec.autoCloseTicked = link.autoClose();
  spec.itemName = record->itemName;
  if (record->pathBuffer) spec.folder = *record->pathBuffer;
  spec.onStop = [&link, index, own = record.get()] { stopTransfer(link, index, own); };
  spec.onAutoCloseToggled = [&link](bool on) { link.setAutoClose(on); };
  // The window exists when this returns; without one the transfer still runs.
  record->window = link.frontend().openTransferWindow(spec);

  TransferContext transfer{link.frontend(), link.notices(), link.timing(),
                           [&link] { return link.stopping(); }};
  transfer.streamed = streamedTransfersAgreed(link);
  transfer.secureData = link.dataSessionFor(index);
  link.startThread([transfer, record] { transferThread(transfer, record); });
  // The caller names the data port to the peer next: the port must be listening by then.
  if (!record->isConnector) record->waitUntilListening(link.timing().acceptLimit);
  const ProgressContext progress{link.frontend(), link.timing(),
                                 [&link] { return link.autoClose(); },
                                 [&link, key] { link.offers().releaseTransfer(key); }};
  link.startThread([progress, record] { progressThread(progress, record); });
}

void stopTransfer(LinkContext& link, int index, const TransferRecord* own) {
  const std::shared_ptr<TransferRecord> record = link.offers().tsf(index);
  if (!record) {
    link.notices().showNotice(slotNull2(index));
    return;
  }
  // The transfer ended and a new one took its Index: that one is not this window's to stop.
  if (record.get() != own) return;
  record->noteCause(TransferCause::StoppedHere);
  record->dataSocket.interrupt();
  link.sendText(stopMessage(index));
}

}  // namespace brisk
