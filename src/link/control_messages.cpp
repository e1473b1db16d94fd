#include "link/control_messages.h"

#include <chrono>
#include <optional>

#include "common/data_port.h"
#include "common/diagnostics.h"
#include "common/text_excerpt.h"
#include "link/accept_offer.h"
#include "link/message_builders.h"
#include "link/transfer_start.h"
#include "platform/file_system.h"

namespace brisk {

namespace {

const char kInvalidFileNameNotice[] =
    "对方要发送的文件的名字不能用于保存（含有无效的字节、控制字符、路径分隔符或改变文字方向"
    "的字符，或者为空），已拒绝接收。";

// Ends an offer whose data connection cannot be made, telling the peer with a STOP: after
// an acceptance the peer expects nothing but PORT, STOP or CANCEL, and the STOP ends its
// wait at once instead of after its accept limit.
void endWithStop(LinkContext& link, const OfferKey& key, const std::string& notice) {
  link.offers().end(key, OfferOutcome::Failed,
                    {[&link, &key] { link.sendText(stopMessage(key.index)); },
                     [&link, &notice] { link.notices().showNotice(notice); }});
}

// The person's answer to the peer's offer, and what follows from it. Runs on a thread of
// its own, since the person may take their time.
void askAboutOffer(LinkContext& link, const OfferKey& key, const OfferTerms& terms,
                   const std::shared_ptr<PromptHandle>& prompt);

// What the prompt's handle keeps of an offer: the notices of a CANCEL quote it, and a
// stranger's offer may hold thousands of lines, which no notice can show.
constexpr TextBounds kQuotedOffer{40, 300, 8000};

void handleAsk(LinkContext& link, ControlMessage message) {
  const int index = *message.index;
  OfferSlots& offers = link.offers();
  // A listening receiver names the data port; one nobody can reach is refused at once.
  if (!link.connectingPeer()) {
    const int dataPort = namedDataPort(link.controlPort(), index);
    if (const auto problem = namedPortProblem(dataPort)) {
      link.notices().showNotice(*problem);
      link.sendText(replyInvalidDataPort(dataPort, index));
      offers.endUnclaimed(index, OfferOutcome::Failed);
      return;
    }
  }
  // A single file is saved under its offered name unless the person chooses another: a
  // name that could not be saved as sent is refused before anything of it is shown, so
  // that no two different names are ever saved as one.
  if (message.offer.fileCount == 1 && !isValidReceivedWireName(message.offer.firstNameWire)) {
    link.sendText(replyInvalidFileName(index));
    link.notices().showNotice(kInvalidFileNameNotice);
    offers.endUnclaimed(index, OfferOutcome::Failed);
    return;
  }
  auto prompt = std::make_shared<PromptHandle>(excerptOf(message.offer.body, kQuotedOffer).text);
  // Decided here, on the receive thread, in the order the messages came: an answer to
  // this side's own offer that follows the ASK must not be handled before it.
  const std::optional<OfferKey> key = offers.claimForPeer(index, prompt);
  if (!key && link.stopping()) {
    offers.endUnclaimed(index, OfferOutcome::Cancelled);  // the program is ending
    return;
  }
  if (!key) {
    // Both sides offered at once under the same Index: this side's own offer keeps the
    // slot, and the peer's offer fails at once, as ours will on its side.
    link.sendText(replySlotInUse(index));
    offers.endUnclaimed(index, OfferOutcome::Failed);
    return;
  }
  link.startThread([&link, key = *key, terms = std::move(message.offer), prompt] {
    askAboutOffer(link, key, terms, prompt);
  });
}

// The record of an accepted offer on the receiving side.
std::shared_ptr<TransferRecord> receivingRecord(LinkContext& link, int index,
                                                const OfferTerms& terms,
                                                const SaveLocation& location) {
  auto record = std::make_shared<TransferRecord>();
  record->index = index;
  record->peerAddress = link.controlPeerAddress();
  record->isConnector = link.connectingPeer();
  record->isSender = false;
  record->pathBuffer = location.folder;
  record->saveAsName = location.saveAsName;
  if (terms.fileCount == 1 || terms.fileCount == -1) {
    record->itemName = location.saveAsName.value_or(suggestedName(terms.body));
  }
  record->openMode = location.openMode;
  record->fileCount = terms.fileCount;
  record->totalSize = terms.totalSize;
  record->dataPort = namedDataPort(link.controlPort(), index);
  return record;
}

// Takes an accepted offer from its prompt to its transfer. A side that listens starts the
// transfer and names the port; one that connects answers and waits for the PORT. The
// record is in its slot before the acceptance goes out, so the PORT always finds it.
void acceptOffer(LinkContext& link, const OfferKey& key,
                 const std::shared_ptr<TransferRecord>& record) {
  OfferSlots& offers = link.offers();
  if (!record->isConnector) {
    // A CANCEL or the connection's end may have ended the offer meanwhile: then nothing
    // is answered, since the peer may already use the Index for its next offer.
    if (!offers.move(key, OfferState::Asked, OfferState::Transferring, record)) return;
    startTransfer(link, key, record);
    link.sendText(replyYesWithPort(record->dataPort, key.index));
    return;
  }
  if (!offers.move(key, OfferState::Asked, OfferState::AwaitingPort, record)) return;
  if (link.sendText(replyYes(key.index)) < 0) {
    offers.end(key, OfferOutcome::Failed);
    return;
  }
  // A PORT that never comes (the peer gave up, or its CANCEL crossed the acceptance)
  // must not hold the Index for ever.
  const auto deadline = std::chrono::steady_clock::now() + link.timing().acceptLimit;
  if (!offers.waitWhile(key, OfferState::AwaitingPort, deadline)) {
    offers.end(key, OfferOutcome::Failed);
  }
}

void askAboutOffer(LinkContext& link, const OfferKey& key, const OfferTerms& terms,
                   const std::shared_ptr<PromptHandle>& prompt) {
  const int index = key.index;
  OfferSlots& offers = link.offers();
  const bool singleFile = terms.fileCount == 1;
  std::vector<std::string> captions{"接收", "拒绝"};
  if (singleFile) captions.push_back("续传已有文件");
  const PromptAnswer answer = link.frontend().showPrompt(
      *prompt,
      PromptRequest{"对方要发送文件给你，你要接收吗？", terms.body, captions,
                    singleFile ? PromptKind::PeerSingleFileOffer : PromptKind::PeerItemsOffer,
                    terms.offeredBytes, index});

  if (answer == PromptAnswer::Refuse) {
    offers.end(key, OfferOutcome::Refused, {[&link, index] { link.sendText(replyNo(index)); }, {}});
    return;
  }
  if (answer != PromptAnswer::Accept && answer != PromptAnswer::Resume) {
    // Closed without an answer: by a CANCEL from the peer, the connection's end, or
    // because the program ends.
    offers.end(key, OfferOutcome::Cancelled);
    return;
  }
  const SaveChoice choice =
      chooseSaveLocation(link.frontend(), terms.fileCount, answer, terms.body);
  if (!choice.location) {
    // The peer learns of the failure at once; then the person is told.
    const std::string& dialog = choice.failedDialog;
    offers.end(key, OfferOutcome::Failed,
               {[&link, &dialog, index] { link.sendText(replyChoiceFailed(dialog, index)); },
                [&link, &dialog] { link.notices().showNoticeModal(choiceFailed(dialog)); }});
    return;
  }
  // An offer that cannot fit is refused before anything is written.
  if (const auto shortage = spaceShortage(terms, *choice.location)) {
    offers.end(key, OfferOutcome::Failed,
               {[&link, index] { link.sendText(replyNotEnoughSpace(index)); },
                [&link, &shortage] { link.notices().showNotice(*shortage); }});
    return;
  }
  acceptOffer(link, key, receivingRecord(link, index, terms, *choice.location));
}

void handleReplyYes(LinkContext& link, const ControlMessage& message) {
  const int index = *message.index;
  OfferSlots& offers = link.offers();
  const OfferView offer = offers.find(index);
  if (offer.state != OfferState::Offered) {
    // The prompt of the peer's own offer under this Index is not ours to close.
    link.notices().showNotice(offer.state == OfferState::Asked ? slotEmpty5(index)
                                                               : kNoWaitingWindow);
    return;
  }
  link.offerAnswered(index);
  const std::shared_ptr<TransferRecord>& record = offer.record;
  if (record->isConnector) {
    // The peer listens already and names its port.
    if (const auto problem = portProblem(message.port)) {
      endWithStop(link, offer.key, *problem);
      return;
    }
    record->dataPort = dataPortNumber(message.port.named);
  } else {
    record->dataPort = namedDataPort(link.controlPort(), index);
    if (const auto problem = namedPortProblem(record->dataPort)) {
      endWithStop(link, offer.key, *problem);
      return;
    }
  }
  if (!offers.move(offer.key, OfferState::Offered, OfferState::Transferring)) {
    // The person is cancelling this very offer: it is gone.
    link.notices().showNotice(kNoWaitingWindow);
    return;
  }
  startTransfer(link, offer.key, record);
  if (!record->isConnector) link.sendText(portMessage(record->dataPort, index));
}

void handleReplyRefused(LinkContext& link, const ControlMessage& message) {
  const int index = *message.index;
  const bool refused = message.kind == ControlKind::ReplyNo;
  const OfferView offer = link.offers().find(index);
  const auto notEnded = [&] { link.notices().showNotice(slotEmpty6(index)); };
  if (offer.state != OfferState::Offered) {
    notEnded();
    return;
  }
  link.offerAnswered(index);
  std::string notice = refused ? "对方不同意接收文件。\r\n\r\n" + offer.prompt->text()
                               : std::string("对方接收文件出错。");
  // A Brisk peer says why; other failures are shown in the chat log as they came.
  if (message.reason == kNotEnoughSpace) notice += "\r\n对方保存位置的磁盘空间不足。";
  const bool ended =
      link.offers().end(offer.key, refused ? OfferOutcome::Refused : OfferOutcome::Failed,
                        {{}, [&link, &notice] { link.notices().showNotice(notice); }});
  if (!ended) notEnded();
}

void handlePort(LinkContext& link, const ControlMessage& message) {
  const int index = *message.index;
  const std::optional<std::string> problem = portProblem(message.port);
  if (problem) link.notices().showNotice(*problem);
  const OfferView offer = link.offers().find(index);
  // Only a receiving side that connects waits for a port; anything else is not ours.
  if (offer.state != OfferState::AwaitingPort) {
    if (!problem) link.notices().showNotice(slotEmpty7(index));
    return;
  }
  if (problem) {
    link.offers().end(offer.key, OfferOutcome::Failed,
                      {[&link, index] { link.sendText(stopMessage(index)); }, {}});
    return;
  }
  offer.record->dataPort = dataPortNumber(message.port.named);
  // The peer listens already: connect without a pause.
  if (link.offers().move(offer.key, OfferState::AwaitingPort, OfferState::Transferring)) {
    startTransfer(link, offer.key, offer.record);
  }
}

void handleCancel(LinkContext& link, const ControlMessage& message) {
  const OfferView offer = link.offers().find(*message.index);
  // A CANCEL withdraws the peer's offer; this side's own offer is not the peer's to withdraw.
  if (offer.state == OfferState::Asked) {
    const std::string notice = "对方已取消文件发送。\r\n\r\n" + offer.prompt->text();
    if (link.offers().end(offer.key, OfferOutcome::Cancelled,
                          {{}, [&link, &notice] { link.notices().showNotice(notice); }})) {
      return;
    }
  }
  link.notices().showNotice(kNoWaitingWindow);
  // The CANCEL crossed this side's acceptance: no PORT will come.
  if (offer.state == OfferState::AwaitingPort)
    link.offers().end(offer.key, OfferOutcome::Cancelled);
}

void handleStop(LinkContext& link, const ControlMessage& message) {
  const OfferView offer = link.offers().find(*message.index);
  switch (offer.state) {
    case OfferState::Transferring:
      // A STOP crossing the end of the transfer finds it over either way.
      offer.record->noteCause(TransferCause::StoppedByPeer);
      offer.record->dataSocket.interrupt();
      break;
    case OfferState::AwaitingPort:
      // The offering side gave up before the transfer began.
      link.offers().end(offer.key, OfferOutcome::Failed);
      break;
    default:
      // An offer not yet under way has no transfer to stop.
      break;
  }
}

}  // namespace

void dispatchControlMessage(LinkContext& link, ControlMessage message) {
  if (message.kind == ControlKind::Unknown) return;
  if (!message.problem.empty()) {
    link.notices().showNotice(message.problem);
    return;
  }
  switch (message.kind) {
    case ControlKind::Ask:
      handleAsk(link, std::move(message));
      break;
    case ControlKind::ReplyYes:
      handleReplyYes(link, message);
      break;
    case ControlKind::ReplyNo:
    case ControlKind::ReplyFailed:
      handleReplyRefused(link, message);
      break;
    case ControlKind::Port:
      handlePort(link, message);
      break;
    case ControlKind::Cancel:
      handleCancel(link, message);
      break;
    case ControlKind::Stop:
      handleStop(link, message);
      break;
    case ControlKind::Unknown:
      break;
  }
}

}  // namespace brisk
