#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/frontend.h"
#include "common/notices.h"
#include "common/slot_tables.h"
#include "common/thread_set.h"
#include "common/timing.h"
#include "link/outgoing_queue.h"
#include "platform/socket.h"

namespace brisk {

// One running copy of Brisk: the control connection and its state, the slot tables and
// the threads that work for them. Everything the person sees goes through the Frontend.
// Two Peers can run in one process, which is how both sides of a transfer are tested.
class Peer {
 public:
  explicit Peer(Frontend& frontend, Timing timing = {});
  // Stops every transfer and connection and joins every thread (see shutdown()).
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The main window's commands; they return at once and never block on the network.
  // A port box that names no port (see controlPortFromText) is refused with a notice.
  // Listen on the port of the port box's text (its first 5 characters, leading digits).
  void onListen(const std::string& portBoxText);
  // Connect to the address box's host name or dotted address on the port box's port.
  void onConnect(const std::string& addressBoxText, const std::string& portBoxText);
  // Breaks a pending listen or connect, or the connection.
  void onDisconnect();

  // Sends one text (UTF-8, sent as GBK) on the control connection and echoes it in blue.
  // Returns the bytes sent, or -1 after a modal notice. Any thread.
  int sendText(const std::string& text);
  // Queues the input box's text as a chat line ("\r\n" is added) behind the person's
  // earlier messages and returns at once: the bytes that will go out, 0 for an empty text
  // (nothing sent), or -1 after a notice (not connected, or too much waiting already).
  // On success the caller empties the input box; a send that fails later shows the same
  // notices as sendText. Line breaks inside the text are "\r\n".
  int sendChatLine(const std::string& inputBoxText);
  // Queues an offer's ASK message (UTF-8) like a chat line; the person's next message
  // waits until the offer pause after it has passed. `done` runs on the sending thread
  // with whether the ASK went out. Returns false after a notice (then `done` never runs).
  bool queueOffer(const std::string& text, std::function<void(bool sent)> done);
  // Whether any of the person's messages still waits to go out or is going out.
  bool personMessagesPending() const { return personMessages_.busy(); }

  // Writes the start-up line with this machine's address into the chat log. Returns at
  // once; the line follows from a Peer thread when the lookup is done.
  void logLocalAddress();

  // Stops and joins everything: open prompts are closed, transfers interrupted (partly
  // received files stay on disk), the connection closed. Idempotent. Not from a Peer thread.
  void shutdown();

  bool connected() const { return connected_; }
  bool connectingPeer() const { return connectingPeer_; }
  int controlPort() const { return controlPort_; }
  // The address of the control connection's peer, while or since it was connected.
  Ipv4Address controlPeerAddress() const;
  bool autoClose() const { return autoClose_; }
  void setAutoClose(bool on) { autoClose_ = on; }

  Frontend& frontend() const { return frontend_; }
  const Notices& notices() const { return notices_; }
  const Timing& timing() const { return timing_; }
  SlotTables& slots() { return slots_; }
  // Starts a thread that the Peer joins at shutdown.
  void startThread(std::function<void()> work) { threads_.start(std::move(work)); }
  bool stopping() const { return stopping_; }

 private:
  enum class Role { Listen, Connect };
  struct LinkAttempt;

  void startLink(Role role, std::string addressText, const std::string& portBoxText);
  void runLink(const std::shared_ptr<LinkAttempt>& attempt);
  std::optional<Socket> listenForPeer(LinkAttempt& attempt);
  std::optional<Socket> connectToPeer(LinkAttempt& attempt);
  void controlReceiveLoop(LinkAttempt& attempt, Socket socket);
  void handlePiece(std::string bytes, bool isControl, class ChatReader& chat);
  int sendWire(const std::string& wire, const std::string& logText);
  bool queuePersonMessage(OutgoingQueue::Message message);

  Frontend& frontend_;
  const Timing timing_;
  const Notices notices_;
  SlotTables slots_;

  std::atomic<bool> connected_{false};
  std::atomic<bool> connectingPeer_{true};
  std::atomic<int> controlPort_{0};
  std::atomic<bool> autoClose_{false};
  std::atomic<bool> stopping_{false};

  // The current listen or connect attempt and, once connected, its control socket.
  mutable std::mutex linkMutex_;
  std::shared_ptr<LinkAttempt> link_;
  Ipv4Address controlPeerAddress_;

  // Serialises whole messages from the many threads that send, and guards the descriptor
  // they send on against the receive thread closing it.
  std::mutex sendMutex_;
  int controlFd_ = -1;

  ThreadSet threads_;
  // Declared last, so that its worker, which starts threads, ends first.
  OutgoingQueue personMessages_;
};

}  // namespace brisk
