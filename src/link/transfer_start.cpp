#include "link/transfer_start.h"

#include <chrono>
#include <thread>

#include "link/message_builders.h"
#include "link/peer.h"
#include "transfer/progress.h"
#include "transfer/transfer_thread.h"

namespace brisk {

namespace {

// How often the start looks whether the transfer's data port listens yet.
constexpr auto kListeningPoll = std::chrono::milliseconds(1);

}  // namespace

void startTransfer(Peer& peer, const std::shared_ptr<TransferRecord>& record) {
  if (record->started.exchange(true)) return;
  const int index = record->index;
  TransferWindowSetup spec;
  spec.index = index;
  spec.isSender = record->isSender;
  spec.fileCount = record->fileCount;
  spec.autoCloseTicked = peer.autoClose();
  spec.onStop = [&peer, index, own = record.get()] { stopTransfer(peer, index, own); };
  spec.onAutoCloseToggled = [&peer](bool on) { peer.setAutoClose(on); };
  // The window exists when this returns; without one the transfer still runs.
  record->window = peer.frontend().openTransferWindow(spec);
  peer.frontend().offerEnded(OfferEnd{index, record->isSender, OfferOutcome::Accepted});

  const TransferContext transfer{peer.frontend(), peer.notices(), peer.timing(),
                                 [&peer] { return peer.stopping(); }};
  peer.startThread([transfer, record] { transferThread(transfer, record); });
  if (!record->isConnector) {
    // The caller names the data port to the peer next: the port must be listening by then.
    const auto deadline = std::chrono::steady_clock::now() + peer.timing().acceptLimit;
    while (!record->listening && !record->transferEnded &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kListeningPoll);
    }
  }
  const ProgressContext progress{
      peer.frontend(), peer.timing(), [&peer] { return peer.autoClose(); },
      [&peer, index, raw = record.get()] { peer.slots().releaseRecord(index, raw); }};
  peer.startThread([progress, record] { progressThread(progress, record); });
}

void stopTransfer(Peer& peer, int index, const TransferRecord* own) {
  const std::shared_ptr<TransferRecord> record = peer.slots().tsf(index);
  if (!record) {
    peer.notices().showNotice("tsf[" + std::to_string(index) + "]=NULL2");
    return;
  }
  // The transfer ended and a new one took its Index: that one is not this window's to stop.
  if (record.get() != own) return;
  record->dataSocket.interrupt();
  peer.sendText(stopMessage(index));
}

}  // namespace brisk
