#include "link/waiting_thread.h"

#include "link/message_builders.h"

namespace brisk {

void waitingThread(LinkContext& link, const OfferKey& key, std::shared_ptr<PromptHandle> prompt) {
  const PromptRequest request{"发送文件给对方，等待对方接收...",
                              prompt->text(),
                              {"取消"},
                              PromptKind::OwnOfferWaiting,
                              0,
                              key.index};
  // Anything but the button: the offer was answered or ended elsewhere.
  if (link.frontend().showPrompt(*prompt, request) != PromptAnswer::Cancel) return;
  // The peer's answer may be handled at this very moment; whichever comes first decides.
  link.offers().end(key, OfferOutcome::Cancelled,
                    {[&link, &key] { link.sendText(cancelMessage(key.index)); }, {}});
}

}  // namespace brisk
