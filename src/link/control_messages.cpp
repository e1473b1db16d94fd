#include "link/control_messages.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "common/data_port.h"
#include "link/accept_offer.h"
#include "link/message_builders.h"
#include "link/message_fields.h"
#include "link/peer.h"
#include "link/transfer_start.h"
#include "link/wire_keys.h"
#include "platform/text_codec.h"

namespace brisk {

namespace {

constexpr const char* kNoIndexKeyword = "找不到关键字“Index:”";
constexpr const char* kNoPortKeyword = "找不到关键字“PORT:”";

std::string slotName(int index) {
  return "tsf[" + std::to_string(index) + "]";
}

// Tells the front end that an offer ended without a transfer (or that its transfer is
// about to start).
void offerEnded(Peer& peer, int index, bool ownOffer, OfferOutcome outcome) {
  peer.frontend().offerEnded(OfferEnd{index, ownOffer, outcome});
}

// The Index of a message. A missing key is reported with `missingNotice`; an Index that
// is no slot (outside 1 to 99, or too long a number) is reported and never used.
std::optional<int> messageIndex(Peer& peer, std::string_view message, const char* missingNotice) {
  const MessageNumber index = numberAfter(message, kIndexKey);
  if (!index.found) {
    peer.notices().showNotice(missingNotice);
    return std::nullopt;
  }
  if (index.overflow || !SlotTables::isValidIndex(index.value)) {
    const std::size_t at = message.find(kIndexKey) + kIndexKey.size();
    const std::string_view digits = message.substr(at, message.find_first_of("\r\n", at) - at);
    peer.notices().showNotice("Index out of range: " + fromWire(digits.substr(0, 20)));
    return std::nullopt;
  }
  return static_cast<int>(index.value);
}

// A data port no peer can find (see dataPortNumber) is refused with a notice.
bool isUsableDataPort(Peer& peer, std::int64_t named) {
  if (dataPortNumber(named) != 0) return true;
  peer.notices().showNotice("Invalid data port: " + std::to_string(named) + " (port 0)");
  return false;
}

// The receiving side's answer when the transfer cannot have a data port.
void refuseDataPort(Peer& peer, int index, std::int64_t named) {
  peer.sendText(replyInvalidDataPort(named, index));
}

// The data port of a PORT message or of the acceptance that carries one, by its low 16
// bits; 0 when they are 0 (after the notice).
std::optional<int> messagePort(Peer& peer, std::string_view message) {
  const MessageNumber port = numberAfter(message, kPortKey);
  if (!port.found) {
    peer.notices().showNotice(kNoPortKeyword);
    return std::nullopt;
  }
  if (port.overflow) {
    peer.notices().showNotice("PORT out of range");
    return std::nullopt;
  }
  return isUsableDataPort(peer, port.value) ? dataPortNumber(port.value) : 0;
}

// What the receiving side reads of an offer.
struct OfferTerms {
  int index = 0;
  int fileCount = 1;
  std::uint64_t totalSize = 0;  // 0: the offer names no total (one file)
  std::string body;             // UTF-8, without a single item's totals
};

std::optional<OfferTerms> readOffer(Peer& peer, std::string message) {
  OfferTerms terms;
  const std::optional<int> index = messageIndex(peer, message, "Can not find Index");
  if (!index) return std::nullopt;
  terms.index = *index;
  const std::size_t headerEnd = message.find("\r\n");
  if (headerEnd == std::string::npos) {
    // Nothing to show and no name to save under: not an offer this program can take.
    peer.notices().showNotice("Can not find \\r\\n after Index");
    return std::nullopt;
  }
  const std::size_t totals = message.find(kTotalsMarker);
  if (totals != std::string::npos) {
    const std::size_t countKey = message.find(kFileCountKey, totals);
    if (countKey == std::string::npos) {
      peer.notices().showNotice("Can not find 文件个数");
      return std::nullopt;
    }
    const MessageNumber count =
        numberAfter(std::string_view(message).substr(countKey), kFileCountKey);
    const MessageNumber total = unsignedAfter(message, kFileSizeKey, countKey);
    if (count.overflow || count.value < -1 || count.value > 0x7FFFFFFF) {
      peer.notices().showNotice("文件个数 out of range");
      return std::nullopt;
    }
    terms.fileCount = static_cast<int>(count.value);
    if (terms.fileCount == 1 || terms.fileCount == -1) message.resize(totals);
    if (!total.found) {
      peer.notices().showNotice("Can not find 文件大小");
      return std::nullopt;
    }
    if (total.overflow) {
      peer.notices().showNotice("文件大小 out of range");
      return std::nullopt;
    }
    terms.totalSize = static_cast<std::uint64_t>(total.value);
  }
  // An offer may carry no item line, its totals starting with the header's own line
  // break; cutting the totals off then leaves no body at all.
  const std::size_t bodyStart = std::min(headerEnd + 2, message.size());
  terms.body = fromWire(std::string_view(message).substr(bodyStart));
  return terms;
}

// Whether `record` is this side's own offer, still waiting for the peer's answer: the
// only kind of slot an answer to an offer may act on.
bool isWaitingOffer(const TransferRecord* record) {
  return record != nullptr && record->isSender && !record->started;
}

// A receiving side that connects has accepted and waits for the PORT message that starts
// its transfer. Should the link end first, or the port not come within the accept limit
// (a CANCEL crossed the acceptance), the record goes, so that its slot does not refuse
// every later offer.
void awaitPort(Peer& peer, const std::shared_ptr<TransferRecord>& record) {
  constexpr auto kPoll = std::chrono::milliseconds(10);
  const auto deadline = std::chrono::steady_clock::now() + peer.timing().acceptLimit;
  while (!record->started && peer.connected() && !peer.stopping() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPoll);
  }
  // Taking `started` keeps a PORT handled at this very moment from starting it.
  if (record->started.exchange(true)) return;
  peer.slots().releaseRecord(record->index, record.get());
  offerEnded(peer, record->index, false, OfferOutcome::Failed);
}

// The person's answer to an offer whose prompt holds its slot, and what follows from it.
// Runs on a thread of its own, since the person may take their time.
void askAboutOffer(Peer& peer, const OfferTerms& terms, std::shared_ptr<PromptHandle> prompt,
                   const Peer::BusyHold& busy);

void handleAsk(Peer& peer, const std::string& message) {
  std::optional<OfferTerms> terms = readOffer(peer, message);
  if (!terms) return;
  const int index = terms->index;
  // A listening receiver names the data port; one nobody can reach is refused at once.
  const int dataPort = namedDataPort(peer.controlPort(), index);
  if (!peer.connectingPeer() && !isUsableDataPort(peer, dataPort)) {
    refuseDataPort(peer, index, dataPort);
    offerEnded(peer, index, false, OfferOutcome::Failed);
    return;
  }

  auto prompt = std::make_shared<PromptHandle>(terms->body);
  // Decided here, on the receive thread, in the order the messages came: an answer to
  // this side's own offer that follows the ASK must not be handled before it.
  if (!peer.slots().claimPrompt(index, prompt)) {
    // Both sides offered at once under the same Index: this side's own offer keeps the
    // slot, and the peer's offer fails at once, as ours will on its side.
    peer.sendText(replySlotInUse(index));
    offerEnded(peer, index, false, OfferOutcome::Failed);
    return;
  }
  if (peer.stopping()) prompt->close();
  // Held from here until the answer has gone out: the prompt leaves its slot before that.
  peer.startThread([&peer, offer = std::move(*terms), prompt, busy = peer.holdBusy()] {
    askAboutOffer(peer, offer, prompt, busy);
  });
}

// The record of an accepted offer on the receiving side, before it takes its slot.
std::shared_ptr<TransferRecord> receivingRecord(Peer& peer, const OfferTerms& terms,
                                                const SaveLocation& location) {
  auto record = std::make_shared<TransferRecord>();
  record->index = terms.index;
  record->peerAddress = peer.controlPeerAddress();
  record->isConnector = peer.connectingPeer();
  record->isSender = false;
  record->pathBuffer = location.folder;
  record->saveAsName = location.saveAsName;
  record->openMode = location.openMode;
  record->fileCount = terms.fileCount;
  record->totalSize = terms.totalSize;
  record->dataPort = namedDataPort(peer.controlPort(), terms.index);
  return record;
}

// Puts the record of an accepted offer in the slot its prompt held and tells the peer.
// A side that listens starts the transfer at once; one that connects waits for PORT.
void acceptOffer(Peer& peer, const std::shared_ptr<TransferRecord>& record,
                 const PromptHandle& prompt) {
  const int index = record->index;
  const char* taken = record->isConnector ? "]!=NULL4" : "]!=NULL3";
  // The record is in its slot before the acceptance goes out, so the PORT message that
  // answers it always finds the record. The prompt keeps the slot until then, so that no
  // offer of this side can take it in between.
  const bool stored = peer.slots().storeRecord(index, record);
  peer.slots().clearPrompt(index, &prompt);
  if (!stored) {
    peer.notices().showNotice("tsf[" + std::to_string(index) + taken);
    // Tell the offering side, which would otherwise start a transfer nobody joins.
    peer.sendText(replySlotInUse(index));
    offerEnded(peer, index, false, OfferOutcome::Failed);
    return;
  }
  if (record->isConnector) {
    if (peer.sendText(replyYes(index)) < 0) {
      peer.slots().releaseRecord(index, record.get());
      offerEnded(peer, index, false, OfferOutcome::Failed);
      return;
    }
    awaitPort(peer, record);
    return;
  }
  startTransfer(peer, record);
  peer.sendText(replyYesWithPort(record->dataPort, index));
  std::this_thread::sleep_for(peer.timing().messagePause);
}

void askAboutOffer(Peer& peer, const OfferTerms& terms, std::shared_ptr<PromptHandle> prompt,
                   const Peer::BusyHold& /*busy*/) {
  const int index = terms.index;
  const bool singleFile = terms.fileCount == 1;
  std::vector<std::string> captions{"接收", "拒绝"};
  if (singleFile) captions.push_back("续传已有文件");
  const PromptAnswer answer = peer.frontend().showPrompt(
      *prompt,
      PromptRequest{"对方要发送文件给你，你要接收吗？", terms.body, captions,
                    singleFile ? PromptKind::PeerSingleFileOffer : PromptKind::PeerItemsOffer});

  if (answer == PromptAnswer::Refuse) {
    peer.slots().clearPrompt(index, prompt.get());
    peer.sendText(replyNo(index));
    offerEnded(peer, index, false, OfferOutcome::Refused);
    return;
  }
  if (answer != PromptAnswer::Accept && answer != PromptAnswer::Resume) {
    // Closed without an answer: by a CANCEL from the peer, or because the program ends.
    peer.slots().clearPrompt(index, prompt.get());
    offerEnded(peer, index, false, OfferOutcome::Cancelled);
    return;
  }
  const std::optional<SaveLocation> location =
      chooseSaveLocation(peer, terms.fileCount, answer, terms.body, index);
  if (!location) {
    peer.slots().clearPrompt(index, prompt.get());
    offerEnded(peer, index, false, OfferOutcome::Failed);
    return;
  }
  acceptOffer(peer, receivingRecord(peer, terms, *location), *prompt);
}

void handleReplyYes(Peer& peer, const std::string& message, int index) {
  const std::shared_ptr<PromptHandle> prompt = peer.slots().tsfwnd(index);
  const std::shared_ptr<TransferRecord> record = peer.slots().tsf(index);
  if (!prompt) {
    peer.notices().showNotice("tsfwnd[index]==NULL");
    return;
  }
  // The prompt of the peer's own offer under this Index is not ours to close.
  if (!isWaitingOffer(record.get())) {
    peer.notices().showNotice(slotName(index) + "为空5");
    return;
  }
  // The person is cancelling this very offer: it is gone.
  if (record->answered.exchange(true)) {
    peer.notices().showNotice("tsfwnd[index]==NULL");
    return;
  }
  prompt->close();
  peer.slots().clearPrompt(index, prompt.get());
  if (record->isConnector) {
    const std::optional<int> port = messagePort(peer, message);
    if (!port) return;
    if (*port == 0) {
      peer.slots().releaseRecord(index, record.get());
      // The peer listens already, on a port no one can reach: the STOP ends its wait
      // instead of its accept limit.
      peer.sendText(stopMessage(index));
      offerEnded(peer, index, true, OfferOutcome::Failed);
      return;
    }
    record->dataPort = *port;
  } else {
    record->dataPort = namedDataPort(peer.controlPort(), index);
    if (!isUsableDataPort(peer, record->dataPort)) {
      peer.slots().releaseRecord(index, record.get());
      offerEnded(peer, index, true, OfferOutcome::Failed);
      return;
    }
  }
  startTransfer(peer, record);
  // A side that connects reads on at once: the peer listens already and gives up after
  // its accept limit, which pauses here, one per acceptance of many sent together, would
  // add up to.
  if (record->isConnector) return;
  peer.sendText(portMessage(record->dataPort, index));
  std::this_thread::sleep_for(peer.timing().messagePause);
}

void handleReplyRefused(Peer& peer, const std::string& message, int index, bool refused) {
  const std::shared_ptr<TransferRecord> record = peer.slots().tsf(index);
  if (!isWaitingOffer(record.get()) || record->answered.exchange(true)) {
    peer.notices().showNotice(slotName(index) + "为空6");
    return;
  }
  peer.slots().releaseRecord(index, record.get());
  const std::shared_ptr<PromptHandle> prompt = peer.slots().tsfwnd(index);
  if (!prompt) {
    peer.notices().showNotice("tsfwnd[" + std::to_string(index) + "]为空");
    return;
  }
  (void)message;
  const std::string notice =
      refused ? "对方不同意接收文件。\r\n\r\n" + prompt->text() : std::string("对方接收文件出错。");
  prompt->close();
  peer.slots().clearPrompt(index, prompt.get());
  peer.notices().showNotice(notice);
  offerEnded(peer, index, true, refused ? OfferOutcome::Refused : OfferOutcome::Failed);
}

void handleReply(Peer& peer, const std::string& message, ControlKind kind) {
  const std::optional<int> index = messageIndex(peer, message, kNoIndexKeyword);
  if (!index) return;
  if (kind == ControlKind::ReplyYes) {
    handleReplyYes(peer, message, *index);
  } else {
    handleReplyRefused(peer, message, *index, kind == ControlKind::ReplyNo);
  }
}

void handlePort(Peer& peer, const std::string& message) {
  const std::optional<int> index = messageIndex(peer, message, kNoIndexKeyword);
  if (!index) return;
  const std::optional<int> port = messagePort(peer, message);
  if (!port) return;
  const std::shared_ptr<TransferRecord> record = peer.slots().tsf(*index);
  // Only a receiving side that connects waits for a port; anything else is not ours.
  if (!record || record->isSender || !record->isConnector || record->started) {
    peer.notices().showNotice(slotName(*index) + "为空7");
    return;
  }
  if (*port == 0) {
    peer.slots().releaseRecord(*index, record.get());
    refuseDataPort(peer, *index, numberAfter(message, kPortKey).value);
    offerEnded(peer, *index, false, OfferOutcome::Failed);
    return;
  }
  record->dataPort = *port;
  // The peer listens already: connect without a pause (see handleReplyYes).
  startTransfer(peer, record);
}

void handleCancel(Peer& peer, const std::string& message) {
  const std::optional<int> index = messageIndex(peer, message, "Can not find Index");
  if (!index) return;
  // A CANCEL withdraws the peer's offer; this side's own waiting offer is not the peer's
  // to withdraw.
  const std::shared_ptr<PromptHandle> prompt =
      isWaitingOffer(peer.slots().tsf(*index).get()) ? nullptr : peer.slots().takePrompt(*index);
  if (!prompt) {
    peer.notices().showNotice("tsfwnd[index]==NULL");
    return;
  }
  const std::string notice = "对方已取消文件发送。\r\n\r\n" + prompt->text();
  prompt->close();
  peer.notices().showNotice(notice);
}

void handleStop(Peer& peer, const std::string& message) {
  const std::optional<int> index = messageIndex(peer, message, "Can not find Index:");
  if (!index) return;
  const std::shared_ptr<TransferRecord> record = peer.slots().tsf(*index);
  // A STOP crossing the end of the transfer finds its record gone: the transfer is over
  // either way, so there is nothing to tell. An offer not yet under way has no transfer
  // to stop.
  if (!record || !record->started) return;
  record->dataSocket.interrupt();
}

}  // namespace

void dispatchControlMessage(Peer& peer, const std::string& message) {
  switch (const ControlKind kind = controlKindOf(message)) {
    case ControlKind::Ask:
      handleAsk(peer, message);
      break;
    case ControlKind::ReplyYes:
    case ControlKind::ReplyNo:
    case ControlKind::ReplyFailed:
      handleReply(peer, message, kind);
      break;
    case ControlKind::Port:
      handlePort(peer, message);
      break;
    case ControlKind::Cancel:
      handleCancel(peer, message);
      break;
    case ControlKind::Stop:
      handleStop(peer, message);
      break;
    case ControlKind::Unknown:
      break;
  }
}

}  // namespace brisk
