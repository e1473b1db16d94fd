#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "common/frontend.h"
#include "common/notices.h"
#include "common/slot_tables.h"
#include "common/thread_set.h"
#include "common/timing.h"
#include "link/control_writer.h"
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

  // Hands one text (UTF-8, sent as GBK) to the control connection's writer, which sends
  // it after the messages handed over before it and then echoes it in blue. Returns at
  // once: the bytes that will go out, or -1 after a notice (not connected, or so much
  // waiting that the peer has evidently stopped reading). A send that fails later shows
  // "send failed." once. Any thread.
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
  // Keeps the place of an offer that a worker is still composing among the person's
  // messages, so that a chat line typed meanwhile goes out after it. Returns the place,
  // or 0 after a notice (as queueOffer). Any thread.
  std::uint64_t reserveOfferPlace();
  // Fills a kept place with the offer's ASK message, as queueOffer does; false (and no
  // `done`) when the messages were dropped meanwhile.
  bool queueOffer(std::uint64_t place, const std::string& text,
                  std::function<void(bool sent)> done);
  // Gives up a kept place: the offer is not made.
  void withdrawOfferPlace(std::uint64_t place) { personMessages_.withdraw(place); }
  // Whether any of the person's messages still waits to go out or is going out.
  bool personMessagesPending() const { return personMessages_.busy(); }

  // Keeps the Peer from counting as idle while any copy lives: work between two slot
  // states, such as an answer to the peer's offer whose prompt has left its slot before
  // the answer has gone out.
  using BusyHold = std::shared_ptr<void>;
  [[nodiscard]] BusyHold holdBusy();
  // Whether nothing is under way that an ending program would cut off: none of the
  // person's messages waits to go out, no slot holds an offer, a prompt or a transfer,
  // and no answer to an offer is being given. Says nothing of messages the peer may
  // still send. Any thread.
  bool idle() const;
  // Whether every control message handed over so far has gone out (or can no longer go).
  // Any thread.
  bool controlDrained() const;
  // When the control connection was made or last carried something either way: the peer
  // may be about to send an offer or a line of its own (offers that cross are answered
  // before they are sent), which no message announces. Any thread.
  std::chrono::steady_clock::time_point lastControlTraffic() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(lastControlTraffic_.load()));
  }

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
  // Runs the connection until it ends; returns the errno that ended it (0: the peer closed).
  int controlReceiveLoop(LinkAttempt& attempt, Socket socket);
  // Reads and dispatches the control connection until it ends; returns the errno that
  // ended it (0: the peer closed).
  int readControlStream(const Socket& socket);
  // Whether more bytes come within controlRestWait, for a message cut by the network.
  bool restArrives(const Socket& socket) const;
  // Ends the offers still waiting for an answer when the connection ends.
  void endWaitingOffers();
  // Tells the person that the connection ended, and why when an error ended it.
  void reportLinkEnd(int error);
  void handlePiece(std::string bytes, bool isControl, class ChatReader& chat);
  int sendWire(const std::string& wire, const std::string& logText,
               std::function<void(bool sent)> done = {});
  bool sendPersonMessage(const OutgoingQueue::Message& message);
  bool queuePersonMessage(OutgoingQueue::Message message);
  void noteControlTraffic();

  Frontend& frontend_;
  const Timing timing_;
  const Notices notices_;
  SlotTables slots_;

  std::atomic<bool> connected_{false};
  std::atomic<bool> connectingPeer_{true};
  std::atomic<int> controlPort_{0};
  std::atomic<bool> autoClose_{false};
  std::atomic<bool> stopping_{false};
  std::shared_ptr<std::atomic<int>> busyHolds_ = std::make_shared<std::atomic<int>>(0);
  std::atomic<std::chrono::steady_clock::rep> lastControlTraffic_{0};
  // Lets the start-up lookup's waiter go at shutdown; the lookup itself runs on.
  std::stop_source stopLookups_;

  // The current listen or connect attempt and, once connected, its control socket.
  mutable std::mutex linkMutex_;
  std::shared_ptr<LinkAttempt> link_;
  Ipv4Address controlPeerAddress_;

  // The writer of the current connection; the receive thread starts it when the link is
  // up and stops it before closing the socket, so no send outlives the descriptor.
  mutable std::mutex writerMutex_;
  std::shared_ptr<ControlWriter> writer_;

  ThreadSet threads_;
  // Declared last, so that its worker, which starts threads, ends first.
  OutgoingQueue personMessages_;
};

}  // namespace brisk
