#include "link/peer.h"

#include <cerrno>
#include <future>

#include "common/detached_call.h"
#include "common/diagnostics.h"
#include "common/settings_store.h"
#include "link/chat.h"
#include "link/control_framer.h"
#include "link/control_message.h"
#include "link/control_messages.h"
#include "link/link_boxes.h"
#include "link/offer_composition.h"
#include "platform/text_codec.h"
#include "secure/session_lines.h"

namespace brisk {

namespace {

// One read of the control connection takes at most this many bytes.
constexpr std::size_t kControlReadSize = 61440;
// The person's messages that may wait to go out; beyond them a peer that stopped reading
// is reported instead of holding ever more text.
constexpr std::size_t kMaxWaitingMessages = 128;
// Control messages handed to the writer and not yet sent. The engine sends a few per
// transfer; this many waiting means the peer has stopped reading the connection.
constexpr std::size_t kMaxUnsentControlMessages = 256;

constexpr const char* kNotConnected = "未连接或者连接已断开！";
constexpr const char* kTooMuchWaiting = "发送的消息太多，请稍后再试。";
constexpr const char* kLooksLikeControl =
    "没有发送：以“TRANSFILE:”开头的一行会被对方当作控制命令。请修改后再发送。";
constexpr const char* kSilentPeerLetGo = "对方连接后一直没有发送任何内容，已断开。\r\n";

}  // namespace

Peer::Peer(Frontend& frontend, Timing timing)
    : frontend_(frontend),
      timing_(timing),
      notices_(frontend_, timing_),
      offers_(frontend_),
      personMessages_(
          [this](const OutgoingQueue::Message& message) { return sendPersonMessage(message); },
          kMaxWaitingMessages, [this] { activityChanged(); }) {
  offers_.setChangeListener([this] { activityChanged(); });
}

Peer::~Peer() {
  shutdown();
}

void Peer::noteControlTraffic() {
  lastControlTraffic_ = std::chrono::steady_clock::now().time_since_epoch().count();
}

bool Peer::idle() const {
  if (personMessagesPending() || offers_.anyInUse()) return false;
  // A refusal handed to the writer has not reached the peer until the writer is done.
  return controlDrained();
}

bool Peer::waitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(idleMutex_);
  return idleChanged_.wait_for(lock, limit, [this] { return idle(); });
}

void Peer::activityChanged() {
  {
    // Taken so that a waiter between its check and its wait does not miss the change.
    std::lock_guard lock(idleMutex_);
  }
  idleChanged_.notify_all();
  if (idle()) frontend_.engineIdle();
}

bool Peer::controlDrained() const {
  std::lock_guard lock(writerMutex_);
  return !writer_ || writer_->drained();
}

void Peer::listen(int port) {
  startLink(Role::Listen, {}, port);
}

void Peer::connect(const std::string& host, int port) {
  startLink(Role::Connect, host, port);
}

void Peer::startLink(Role role, std::string host, int port) {
  if (connected_ || stopping_) return;
  if (port < 1 || port > 65535) {
    notices_.showNotice(kInvalidPortNotice);
    return;
  }
  auto attempt = std::make_shared<LinkAttempt>();
  {
    std::lock_guard lock(linkMutex_);
    if (link_) return;  // an attempt is under way; its buttons are hidden meanwhile
    link_ = attempt;
  }
  attempt->role = role;
  attempt->host = std::move(host);
  attempt->port = port;
  attempt->encryptedOnly = encryptedOnly_;
  controlPort_ = attempt->port;
  connectingPeer_ = role == Role::Connect;
  frontend_.showLinkState(role == Role::Listen ? LinkState::Listening : LinkState::Connecting);
  startThread([this, attempt] { runLink(attempt); });
}

void Peer::disconnect() {
  std::shared_ptr<LinkAttempt> attempt;
  std::shared_ptr<TlsStream> session;
  {
    std::lock_guard lock(linkMutex_);
    attempt = link_;
    session = session_;
  }
  if (attempt) {
    attempt->stop.request_stop();
    endSessionInOrder(session.get());
    attempt->interrupter.interrupt();
  }
  frontend_.showLinkState(LinkState::Idle);
}

// An encrypted session that this side leaves ends with its close_notify, so that the peer
// sees the person leave rather than a connection cut on the way. Briefly: a peer that
// reads nothing does not hold up the window; it then sees the cut it caused.
void Peer::endSessionInOrder(TlsStream* session) {
  constexpr auto kSessionEndWait = std::chrono::milliseconds(200);
  if (session) (void)session->finishSendingWithin(kSessionEndWait);
}

IpAddress Peer::controlPeerAddress() const {
  std::lock_guard lock(linkMutex_);
  return controlPeerAddress_;
}

// The link thread: listens or connects and then, on success, runs the receive loop of the
// connection. One thread does both, so the main window always shows the states in order.
void Peer::runLink(const std::shared_ptr<LinkAttempt>& attempt) {
  const NoNoticePauseHere readsOn;
  std::optional<ControlLink> control =
      attempt->role == Role::Listen ? listenForPeer(*attempt) : connectToPeer(*attempt);
  const bool linked = control.has_value();
  const LinkEnd end = linked ? controlReceiveLoop(*attempt, std::move(*control)) : LinkEnd{};
  {
    // Gone before the window offers Listen and Connect again, so that a press at once
    // starts the next attempt instead of finding this one still under way.
    std::lock_guard lock(linkMutex_);
    link_.reset();
  }
  if (linked) {
    reportLinkEnd(end);
  } else {
    frontend_.showLinkState(LinkState::Idle);
  }
}

Peer::LinkEnd Peer::controlReceiveLoop(LinkAttempt& attempt, ControlLink link) {
  ByteStream& stream = *link.stream;
  {
    std::lock_guard lock(linkMutex_);
    if (link.address) controlPeerAddress_ = *link.address;
    if (link.verified) {
      session_ = link.verified->stream;
      sharedCapabilities_ =
          agreedCapabilities(link.verified->ownCapabilities, link.verified->peerCapabilities);
    }
  }
  LinkEnd end{ECONNABORTED, {}};
  if (attempt.interrupter.arm(stream.fd())) {
    {
      auto writer = std::make_shared<ControlWriter>(
          stream, kMaxUnsentControlMessages, timing_.offerPause,
          [this](const ControlWriter::Message& message) {
            noteControlTraffic();
            frontend_.appendLog(message.logText, kBlue);
          },
          [this] {
            // On a thread of its own, so that the writer never waits for the person.
            startThread([this] { notices_.showNoticeModal(kSendFailed); });
          },
          [this] { activityChanged(); });
      std::lock_guard lock(writerMutex_);
      writer_ = std::move(writer);
    }
    // A new connection counts as traffic: the peer gets its moment to say something
    // before a side with nothing of its own to do takes the link as quiet.
    noteControlTraffic();
    connected_ = true;
    frontend_.appendLog("连接成功！\r\n", kGreen);
    reportSession(link);
    frontend_.bringToFront();
    frontend_.showLinkState(LinkState::Connected);

    end.error = readControlStream(stream);
    // An encrypted session says why it failed in words of its own (a record changed on
    // the way, a cut without the session's end); a plain socket's error number says it all.
    // When this side ended the link itself, the cut is its own doing, not a failure (the
    // peer's close_notify may simply not have been read before the socket was shut): it
    // ends as a plain socket that this side shut down does.
    if (link.verified && end.error != 0) {
      if (attempt.stop.stop_requested()) {
        end.error = 0;
      } else {
        end.why = stream.failureText();
      }
    }
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
  {
    std::lock_guard lock(linkMutex_);
    session_.reset();
    sharedCapabilities_.clear();
  }
  link = {};
  connected_ = false;
  // No answer, prompt or port can come over a connection that has ended, and an offer
  // left waiting would hold its Index against every offer of the next connection.
  offers_.endWaitingOffers();
  activityChanged();
  return end;
}

void Peer::reportLinkEnd(const LinkEnd& end) {
  std::string text = "\r\n连接中断\r\n";
  if (end.why.empty()) {
    appendErrorText(end.error, text);
  } else {
    text += end.why + "\r\n";
    notices_.showNotice("加密连接出错，连接已断开：\r\n" + end.why);
  }
  frontend_.appendLog(text, kRed);
  frontend_.showLinkState(LinkState::Idle);
}

int Peer::readControlStream(ByteStream& stream) {
  std::string buffer(kControlReadSize, '\0');
  ControlFramer framer;
  ChatReader chat(frontend_);
  const auto handle = [&](std::vector<ControlFramer::Piece> pieces) {
    for (auto& piece : pieces) handlePiece(std::move(piece.bytes), piece.isControl, chat);
  };
  int endError = 0;
  bool heard = false;
  for (;;) {
    if (!heard && closeSilentPeers_ && !bytesArrive(stream, timing_.silentPeerLimit)) {
      frontend_.appendLog(kSilentPeerLetGo, kRed);
      endError = ETIMEDOUT;
      break;
    }
    if (framer.holdsPartialMessage() && !bytesArrive(stream, timing_.controlRestWait)) {
      // A message cut by the network whose rest did not come: take it as it is.
      handle(framer.flush());
      continue;
    }
    const ssize_t n = stream.receive(buffer.data(), buffer.size());
    if (n <= 0) {
      endError = n < 0 ? errno : 0;
      break;
    }
    heard = true;
    handle(framer.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n))));
  }
  handle(framer.flush());
  return endError;
}

bool Peer::bytesArrive(ByteStream& stream, std::chrono::milliseconds limit) {
  return stream.waitReadable(limit);
}

void Peer::handlePiece(std::string bytes, bool isControl, ChatReader& chat) {
  noteControlTraffic();
  chat.show(bytes);
  // Read once, here; an offer then waits for the person on a thread of its own.
  if (isControl) dispatchControlMessage(*this, parseControlMessage(bytes));
}

int Peer::sendText(const std::string& text) {
  if (!connected_) {
    notices_.showNoticeModal(kNotConnected);
    return -1;
  }
  return sendWire({toWire(text), text, 0, {}});
}

int Peer::sendChatLine(const std::string& inputBoxText) {
  if (!connected_) {
    notices_.showNoticeModal(kNotConnected);
    return -1;
  }
  if (inputBoxText.empty()) return 0;
  if (readAsControlMessage(inputBoxText)) {
    notices_.showNotice(kLooksLikeControl);
    return -1;
  }
  ChatLine line = composeChatLine(inputBoxText);
  const auto size = static_cast<int>(line.wire.size());
  if (!queuePersonMessage({std::move(line.wire), std::move(line.shown), 0, {}})) return -1;
  return size;
}

void Peer::offerFiles(const std::vector<std::filesystem::path>& items) {
  offerDropped(*this, items);
}

void Peer::offerFromDialog() {
  brisk::offerFromDialog(*this, OfferPicker::Files);
}

void Peer::offerFoldersFromDialog() {
  brisk::offerFromDialog(*this, OfferPicker::Folders);
}

void Peer::offerReserved(const OfferKey& key, const std::vector<std::filesystem::path>& items) {
  offerItems(*this, key, items);
}

void Peer::offerAnswered(int index) {
  std::lock_guard lock(writerMutex_);
  if (writer_) writer_->offerAnswered(index);
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

bool Peer::queueOffer(std::uint64_t place, int index, const std::string& text,
                      std::function<void(bool sent)> done) {
  return personMessages_.fill(place, {toWire(text), text, index, std::move(done)});
}

bool Peer::queuePersonMessage(OutgoingQueue::Message message) {
  if (personMessages_.push(std::move(message))) return true;
  notices_.showNotice(kTooMuchWaiting);
  return false;
}

int Peer::sendWire(ControlWriter::Message message) {
  std::shared_ptr<ControlWriter> writer;
  {
    std::lock_guard lock(writerMutex_);
    writer = writer_;
  }
  const auto size = static_cast<int>(message.wire.size());
  const ControlWriter::PushResult pushed =
      writer ? writer->push(std::move(message)) : ControlWriter::PushResult::Closed;
  switch (pushed) {
    case ControlWriter::PushResult::Queued:
      return size;
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
// writer holds at most one of the person's messages behind its pauses and the messages of
// other threads never wait behind a long row of them. Only the queue's worker waits; a
// stuck peer fills the queue, and Disconnect or the end of the link ends the wait.
bool Peer::sendPersonMessage(const OutgoingQueue::Message& message) {
  auto outcome = std::make_shared<std::promise<bool>>();
  std::future<bool> sent = outcome->get_future();
  if (sendWire({message.wire, message.logText, message.offerIndex,
                [outcome](bool wentOut) { outcome->set_value(wentOut); }}) < 0) {
    return false;
  }
  const bool wentOut = sent.get();
  // An offer the writer gave up when the connection ended is not made; the person is
  // told, as for one made after the end. Chat lines go with their connection silently.
  if (!wentOut && message.offerIndex != 0 && !stopping_) notices_.showNoticeModal(kNotConnected);
  return wentOut;
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
      notices_.showNoticeModal(localAddressFailed(local.failedCall));
      return;
    }
    frontend_.appendLog("本机IP地址：" + local.address->text() + "\r\n", kBlack);
  });
}

void Peer::shutdown() {
  stopping_ = true;
  stopLookups_.request_stop();
  {
    std::lock_guard lock(linkMutex_);
    if (link_) {
      link_->stop.request_stop();
      endSessionInOrder(session_.get());
      link_->interrupter.interrupt();
    }
  }
  // What the person sent last may still wait; it goes with the connection.
  personMessages_.stop();
  offers_.stop();
  threads_.joinAll();
  offers_.clear();
}

}  // namespace brisk
