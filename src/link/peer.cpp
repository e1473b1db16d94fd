#include "link/peer.h"

#include <cerrno>
#include <future>

#include <poll.h>

#include "common/detached_call.h"
#include "common/settings_store.h"
#include "link/chat.h"
#include "link/control_framer.h"
#include "link/control_messages.h"
#include "platform/text_codec.h"

namespace brisk {

namespace {

// One read of the control connection takes at most this many bytes.
constexpr std::size_t kControlReadSize = 61440;
// The person's messages that may wait to go out; beyond them a peer that stopped reading
// is reported instead of holding ever more text.
constexpr std::size_t kMaxWaitingMessages = 128;
// Only one peer is ever accepted on the control port; a few more may queue meanwhile and
// are closed with the listening socket.
constexpr int kControlBacklog = 5;
// Control messages handed to the writer and not yet sent. The engine sends a few per
// transfer; this many waiting means the peer has stopped reading the connection.
constexpr std::size_t kMaxUnsentControlMessages = 256;

constexpr const char* kNotConnected = "未连接或者连接已断开！";
constexpr const char* kTooMuchWaiting = "发送的消息太多，请稍后再试。";
constexpr const char* kInvalidPort = "端口无效：请填写 1 到 65535 之间的端口号。";

}  // namespace

struct Peer::LinkAttempt {
  Role role = Role::Listen;
  std::string addressText;
  int port = 0;
  // Breaks the attempt's blocking call: the accept, the connect, then the receive loop.
  SocketInterrupter interrupter;
  // Gives up waiting for the host name lookup, which cannot be interrupted.
  std::stop_source stop;
};

Peer::Peer(Frontend& frontend, Timing timing)
    : frontend_(frontend),
      timing_(timing),
      notices_(frontend_, timing_),
      personMessages_(
          [this](const OutgoingQueue::Message& message) { return sendPersonMessage(message); },
          timing_.offerPause, kMaxWaitingMessages) {}

Peer::~Peer() {
  shutdown();
}

Peer::BusyHold Peer::holdBusy() {
  ++*busyHolds_;
  // The count is shared, so a hold released after the Peer is gone still has its counter.
  return BusyHold(nullptr, [count = busyHolds_](void*) { --*count; });
}

void Peer::noteControlTraffic() {
  lastControlTraffic_ = std::chrono::steady_clock::now().time_since_epoch().count();
}

bool Peer::idle() const {
  if (*busyHolds_ != 0 || personMessagesPending() || slots_.anyInUse()) return false;
  // A refusal handed to the writer has not reached the peer until the writer is done.
  return controlDrained();
}

bool Peer::controlDrained() const {
  std::lock_guard lock(writerMutex_);
  return !writer_ || writer_->drained();
}

void Peer::onListen(const std::string& portBoxText) {
  startLink(Role::Listen, {}, portBoxText);
}

void Peer::onConnect(const std::string& addressBoxText, const std::string& portBoxText) {
  startLink(Role::Connect, firstCharacters(addressBoxText, kMaxAddressCharacters), portBoxText);
}

void Peer::startLink(Role role, std::string addressText, const std::string& portBoxText) {
  if (connected_ || stopping_) return;
  const std::optional<int> port = controlPortFromText(portBoxText);
  if (!port) {
    notices_.showNotice(kInvalidPort);
    return;
  }
  auto attempt = std::make_shared<LinkAttempt>();
  {
    std::lock_guard lock(linkMutex_);
    if (link_) return;  // an attempt is under way; its buttons are hidden meanwhile
    link_ = attempt;
  }
  attempt->role = role;
  attempt->addressText = std::move(addressText);
  attempt->port = *port;
  controlPort_ = attempt->port;
  connectingPeer_ = role == Role::Connect;
  frontend_.showLinkState(role == Role::Listen ? LinkState::Listening : LinkState::Connecting);
  startThread([this, attempt] { runLink(attempt); });
}

void Peer::onDisconnect() {
  std::shared_ptr<LinkAttempt> attempt;
  {
    std::lock_guard lock(linkMutex_);
    attempt = link_;
  }
  if (attempt) {
    attempt->stop.request_stop();
    attempt->interrupter.interrupt();
  }
  frontend_.showLinkState(LinkState::Idle);
}

Ipv4Address Peer::controlPeerAddress() const {
  std::lock_guard lock(linkMutex_);
  return controlPeerAddress_;
}

// The link thread: listens or connects and then, on success, runs the receive loop of the
// connection. One thread does both, so the main window always shows the states in order.
void Peer::runLink(const std::shared_ptr<LinkAttempt>& attempt) {
  std::optional<Socket> socket =
      attempt->role == Role::Listen ? listenForPeer(*attempt) : connectToPeer(*attempt);
  const bool linked = socket.has_value();
  const int endError = linked ? controlReceiveLoop(*attempt, std::move(*socket)) : 0;
  {
    // Gone before the window offers Listen and Connect again, so that a press at once
    // starts the next attempt instead of finding this one still under way.
    std::lock_guard lock(linkMutex_);
    link_.reset();
  }
  if (linked) {
    reportLinkEnd(endError);
  } else {
    frontend_.showLinkState(LinkState::Idle);
  }
}

std::optional<Socket> Peer::listenForPeer(LinkAttempt& attempt) {
  SocketResult listening = listenTcp(static_cast<std::uint16_t>(attempt.port), kControlBacklog);
  if (!listening.ok()) {
    notices_.showErrorNotice(std::string(listening.failedCall) + " failed.", listening.error);
    return std::nullopt;
  }
  frontend_.showPortListening();
  SocketResult accepted;
  if (attempt.interrupter.arm(listening.socket.fd())) {
    accepted = acceptTcp(listening.socket, attempt.interrupter);
    attempt.interrupter.disarm();
  } else {
    accepted.failedCall = "accept";
    accepted.error = ECONNABORTED;
  }
  // No second peer is accepted: the listening socket goes as soon as one peer came.
  listening.socket.close();
  if (!accepted.ok()) {
    std::string text = "accept failed.";
    appendErrorText(accepted.error, text);
    frontend_.appendLog(text, kRed);
    return std::nullopt;
  }
  if (const auto address = peerAddressOf(accepted.socket)) {
    frontend_.setAddressText(address->dotted());
  }
  return std::move(accepted.socket);
}

std::optional<Socket> Peer::connectToPeer(LinkAttempt& attempt) {
  const std::optional<HostLookup> found = callDetached<HostLookup>(
      [text = attempt.addressText] { return resolveHost(text); }, attempt.stop.get_token());
  if (!found) {
    // Disconnect came while the resolver was still busy: reported as a broken connect.
    std::string text = "连接失败！";
    appendErrorText(ECONNABORTED, text);
    frontend_.appendLog(text, kRed);
    return std::nullopt;
  }
  const HostLookup& lookup = *found;
  if (!lookup.address) {
    // Neither a host name nor a dotted address: the resolver says why.
    frontend_.appendLog("连接失败！\r\nError code: " + std::to_string(lookup.errorCode) + "\r\n" +
                            lookup.errorText + "\r\n",
                        kRed);
    return std::nullopt;
  }
  SocketResult connected =
      connectTcp(*lookup.address, static_cast<std::uint16_t>(attempt.port), attempt.interrupter);
  if (!connected.ok()) {
    if (connected.failedCall == std::string_view("socket")) {
      notices_.showErrorNotice("socket failed.", connected.error);
    } else {
      std::string text = "连接失败！";
      appendErrorText(connected.error, text);
      frontend_.appendLog(text, kRed);
    }
    return std::nullopt;
  }
  return std::move(connected.socket);
}

int Peer::controlReceiveLoop(LinkAttempt& attempt, Socket socket) {
  {
    std::lock_guard lock(linkMutex_);
    if (const auto address = peerAddressOf(socket)) controlPeerAddress_ = *address;
  }
  int endError = ECONNABORTED;
  if (attempt.interrupter.arm(socket.fd())) {
    {
      auto writer = std::make_shared<ControlWriter>(
          socket.fd(), kMaxUnsentControlMessages,
          [this](const ControlWriter::Message& message) {
            noteControlTraffic();
            frontend_.appendLog(message.logText, kBlue);
          },
          [this] {
            // On a thread of its own, so that the writer never waits for the person.
            startThread([this] { notices_.showNoticeModal("send failed."); });
          });
      std::lock_guard lock(writerMutex_);
      writer_ = std::move(writer);
    }
    // A new connection counts as traffic: the peer gets its moment to say something
    // before a side with nothing of its own to do takes the link as quiet.
    noteControlTraffic();
    connected_ = true;
    frontend_.appendLog("连接成功！\r\n", kGreen);
    frontend_.bringToFront();
    frontend_.showLinkState(LinkState::Connected);

    endError = readControlStream(socket);
    // Fail any send still blocked on the socket, then end the writer before the socket goes.
    attempt.interrupter.interrupt();
    std::shared_ptr<ControlWriter> writer;
    {
      std::lock_guard lock(writerMutex_);
      writer = std::move(writer_);
    }
    writer->stop();
    // The chat typed for this connection goes with it, instead of a notice for every
    // line that can no longer be sent.
    personMessages_.dropWaiting();
    attempt.interrupter.disarm();
  }
  socket.close();
  connected_ = false;
  endWaitingOffers();
  return endError;
}

void Peer::endWaitingOffers() {
  // No answer can come over a connection that has ended, and an offer left waiting would
  // hold its Index against every offer of the next connection.
  for (const SlotTables::OpenPrompt& open : slots_.openPrompts()) {
    // Beside the prompt of the peer's offer the slot may still hold the record of a
    // transfer that has just ended; only a record that waits for the answer is ours.
    const bool ownOffer = open.record && open.record->isSender && !open.record->started;
    if (!ownOffer) {
      // The peer's offer: its prompt's thread sees the prompt closed without an answer
      // and frees the slot.
      open.prompt->close();
      continue;
    }
    // Unless the peer's answer or the person's cancel came first.
    if (open.record->answered.exchange(true)) continue;
    slots_.releaseRecord(open.index, open.record.get());
    slots_.clearPrompt(open.index, open.prompt.get());
    open.prompt->close();
    frontend_.offerEnded(OfferEnd{open.index, true, OfferOutcome::Failed});
  }
}

void Peer::reportLinkEnd(int error) {
  std::string text = "\r\n连接中断\r\n";
  appendErrorText(error, text);
  frontend_.appendLog(text, kRed);
  frontend_.showLinkState(LinkState::Idle);
}

int Peer::readControlStream(const Socket& socket) {
  std::string buffer(kControlReadSize, '\0');
  ControlFramer framer;
  ChatReader chat(frontend_);
  const auto handle = [&](std::vector<ControlFramer::Piece> pieces) {
    for (auto& piece : pieces) handlePiece(std::move(piece.bytes), piece.isControl, chat);
  };
  int endError = 0;
  for (;;) {
    if (framer.holdsPartialMessage() && !restArrives(socket)) {
      // A message cut by the network whose rest did not come: take it as it is.
      handle(framer.flush());
      continue;
    }
    const ssize_t n = socket.receive(buffer.data(), buffer.size());
    if (n <= 0) {
      endError = n < 0 ? errno : 0;
      break;
    }
    handle(framer.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n))));
  }
  handle(framer.flush());
  return endError;
}

bool Peer::restArrives(const Socket& socket) const {
  pollfd pfd{socket.fd(), POLLIN, 0};
  return ::poll(&pfd, 1, static_cast<int>(timing_.controlRestWait.count())) != 0;
}

void Peer::handlePiece(std::string bytes, bool isControl, ChatReader& chat) {
  noteControlTraffic();
  chat.show(bytes);
  // An offer waits for the person on a thread of its own, which the dispatcher starts.
  if (isControl) dispatchControlMessage(*this, bytes);
}

int Peer::sendText(const std::string& text) {
  if (!connected_) {
    notices_.showNoticeModal(kNotConnected);
    return -1;
  }
  return sendWire(toWire(text), text);
}

int Peer::sendChatLine(const std::string& inputBoxText) {
  if (!connected_) {
    notices_.showNoticeModal(kNotConnected);
    return -1;
  }
  if (inputBoxText.empty()) return 0;
  ChatLine line = composeChatLine(inputBoxText);
  const auto size = static_cast<int>(line.wire.size());
  if (!queuePersonMessage({std::move(line.wire), std::move(line.shown), false, {}})) return -1;
  return size;
}

bool Peer::queueOffer(const std::string& text, std::function<void(bool sent)> done) {
  if (!connected_) {
    notices_.showNoticeModal(kNotConnected);
    return false;
  }
  return queuePersonMessage({toWire(text), text, true, std::move(done)});
}

std::uint64_t Peer::reserveOfferPlace() {
  if (!connected_) {
    notices_.showNoticeModal(kNotConnected);
    return 0;
  }
  const std::uint64_t place = personMessages_.reserve();
  if (place == 0) notices_.showNotice(kTooMuchWaiting);
  return place;
}

bool Peer::queueOffer(std::uint64_t place, const std::string& text,
                      std::function<void(bool sent)> done) {
  return personMessages_.fill(place, {toWire(text), text, true, std::move(done)});
}

bool Peer::queuePersonMessage(OutgoingQueue::Message message) {
  if (personMessages_.push(std::move(message))) return true;
  notices_.showNotice(kTooMuchWaiting);
  return false;
}

int Peer::sendWire(const std::string& wire, const std::string& logText,
                   std::function<void(bool sent)> done) {
  std::shared_ptr<ControlWriter> writer;
  {
    std::lock_guard lock(writerMutex_);
    writer = writer_;
  }
  const ControlWriter::PushResult pushed =
      writer ? writer->push({wire, logText, std::move(done)}) : ControlWriter::PushResult::Closed;
  switch (pushed) {
    case ControlWriter::PushResult::Queued:
      return static_cast<int>(wire.size());
    case ControlWriter::PushResult::Full:
      notices_.showNotice(kTooMuchWaiting);
      return -1;
    case ControlWriter::PushResult::Closed:
      break;
  }
  notices_.showNoticeModal(kNotConnected);
  return -1;
}

// The person's message queue waits here until its message has gone out, so that the
// pause after an offer starts when the peer could see it. Only the queue's worker waits;
// a stuck peer fills the queue, and Disconnect or the end of the link ends the wait.
bool Peer::sendPersonMessage(const OutgoingQueue::Message& message) {
  auto outcome = std::make_shared<std::promise<bool>>();
  std::future<bool> sent = outcome->get_future();
  if (sendWire(message.wire, message.logText,
               [outcome](bool wentOut) { outcome->set_value(wentOut); }) < 0) {
    return false;
  }
  return sent.get();
}

void Peer::logLocalAddress() {
  // The lookup may wait for a resolver that does not answer: never on the caller's thread,
  // and a closing window does not wait for it either.
  startThread([this] {
    const std::optional<LocalAddressResult> found =
        callDetached<LocalAddressResult>(localHostAddress, stopLookups_.get_token());
    if (!found) return;
    const LocalAddressResult& local = *found;
    if (!local.address) {
      notices_.showNoticeModal(std::string(local.failedCall) + " failed.\r\n");
      return;
    }
    frontend_.appendLog("本机IP地址：" + local.address->dotted() + "\r\n", kBlack);
  });
}

void Peer::shutdown() {
  stopping_ = true;
  stopLookups_.request_stop();
  {
    std::lock_guard lock(linkMutex_);
    if (link_) {
      link_->stop.request_stop();
      link_->interrupter.interrupt();
    }
  }
  // What the person sent last may still wait; it goes with the connection.
  personMessages_.stop();
  for (const auto& prompt : slots_.takeAllPrompts()) prompt->close();
  for (int index = SlotTables::kFirstIndex; index <= SlotTables::kLastIndex; ++index) {
    if (const auto record = slots_.tsf(index)) record->dataSocket.interrupt();
  }
  threads_.joinAll();
  slots_.takeAllRecords();
}

}  // namespace brisk
