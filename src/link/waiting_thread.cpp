#include "link/waiting_thread.h"

#include "link/message_builders.h"
#include "link/peer.h"

namespace brisk {

void waitingThread(Peer& peer, int index, std::shared_ptr<PromptHandle> prompt,
                   std::shared_ptr<TransferRecord> record) {
  const PromptRequest request{
      "发送文件给对方，等待对方接收...", prompt->text(), {"取消"}, PromptKind::OwnOfferWaiting};
  const PromptAnswer answer = peer.frontend().showPrompt(*prompt, request);
  // Anything but the button: the dispatcher closed the prompt and owns what follows.
  if (answer != PromptAnswer::Cancel) return;
  // The peer's answer may be handled at this very moment; whoever decides first wins.
  if (record->answered.exchange(true)) return;
  // The slot stays taken until the peer has been told, so no new offer can reuse its
  // Index before the CANCEL.
  peer.sendText(cancelMessage(index));
  peer.slots().releaseRecord(index, record.get());
  peer.slots().clearPrompt(index, prompt.get());
  peer.frontend().offerEnded(OfferEnd{index, true, OfferOutcome::Cancelled});
}

}  // namespace brisk
