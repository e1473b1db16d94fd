#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "common/frontend.h"
#include "common/notices.h"
#include "common/thread_set.h"
#include "common/timing.h"
#include "link/control_writer.h"
#include "link/link_context.h"
#include "link/offer_slots.h"
#include "link/outgoing_queue.h"
#include "link/secure_session.h"
#include "platform/byte_stream.h"
#include "platform/socket.h"

namespace brisk {

// One running copy of Brisk: the control connection and its state, the offers and
// transfers under way and the threads that work for them. Everything the person sees goes
// through the Frontend. Two Peers can run in one process, which is how both sides of a
// transfer are tested.
class Peer : private LinkContext {
 public:
  explicit Peer(Frontend& frontend, Timing timing = {});
  // Stops every transfer and connection and joins every thread (see shutdown()).
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The front end's commands; they return at once and never block on the network. The
  // boxes' texts are read by readLinkBoxes first.
  // Listens on `port` (1 to 65535) for one peer.
  void listen(int port);
  // Connects to a host name or dotted address on `port`.
  void connect(const std::string& host, int port);
  // Breaks a pending listen or connect, or the connection.
  void disconnect();

  // Hands one text (UTF-8, sent as GBK) to the control connection's writer, which sends
  // it after the messages handed over before it and then echoes it in blue. Returns at
  // once: the bytes that will go out, or -1 after a notice (not connected, or so much
  // waiting that the peer has evidently stopped reading). A send that fails later shows
  // "send failed." once. Any thread.
  int sendText(const std::string& text) override;
  // Queues the input box's text as a chat line ("\r\n" is added) behind the person's
  // earlier messages and returns at once: the bytes that will go out, 0 for an empty text
  // (nothing sent), or -1 after a notice (not connected, too much waiting already, or a
  // line the peer would take for a control message: the caller keeps the text).
  // On success the caller empties the input box; a send that fails later shows the same
  // notices as sendText. Line breaks inside the text are "\r\n".
  int sendChatLine(const std::string& inputBoxText);
  // Offers files and folders (full paths) as one offer: dropped on the input box, or
  // named on brisk-peer's command line. Returns once the Index and the offer's place
  // among the person's messages are kept; the items are read on a Peer thread.
  void offerFiles(const std::vector<std::filesystem::path>& items);
  // Send file: checks the connection and a free Index, asks the person for files and
  // offers them. For the front end's thread.
  void offerFromDialog();
  // The same with folders chosen in a folders dialog.
  void offerFoldersFromDialog();
  // Offers `items` under an Index the caller reserved with offers().reserve(), composing
  // the offer on the calling thread.
  void offerReserved(const OfferKey& key, const std::vector<std::filesystem::path>& items);

  // Whether any of the person's messages still waits to go out or is going out.
  bool personMessagesPending() const { return personMessages_.busy(); }
  // Whether nothing is under way that an ending program would cut off: none of the
  // person's messages waits to go out, no Index holds an offer or a transfer, and every
  // control message handed over has gone out. Says nothing of messages the peer may still
  // send. When the Peer becomes idle the front end hears of it (Frontend::engineIdle).
  // Any thread.
  bool idle() const;
  // Waits until the Peer is idle or `limit` has passed; true when it is idle.
  bool waitUntilIdle(std::chrono::milliseconds limit);
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

  bool connected() const override { return connected_; }
  bool connectingPeer() const override { return connectingPeer_; }
  int controlPort() const override { return controlPort_; }
  // For an unattended inbox: a peer that connects and sends nothing within the silent
  // peer limit is let go, so that it cannot hold the one connection for ever. Off by
  // default (a person at the window may take their time). Before listening.
  void setCloseSilentPeers(bool on) { closeSilentPeers_ = on; }
  // Encrypted sessions: listening takes the encrypted port too, connecting tries it first.
  // Without a setup the Peer speaks only the plain protocol. Before listening or
  // connecting; the setup is kept for the Peer's life. Its encryptedOnly is the start value
  // of setEncryptedOnly's switch.
  void setSecureSetup(std::shared_ptr<const SecureSetup> setup) {
    encryptedOnly_ = setup && setup->encryptedOnly;
    secure_ = std::move(setup);
  }
  // 只使用加密连接, switched by the person at any time. Each listen or connect reads it once,
  // when it starts: a change applies from the next one and never halfway through one.
  // Any thread.
  void setEncryptedOnly(bool on) { encryptedOnly_ = on; }
  bool encryptedOnly() const { return encryptedOnly_; }
  // The store of the peers this installation verified; none without encrypted sessions.
  std::shared_ptr<TrustStore> trustStore() const { return secure_ ? secure_->trust : nullptr; }
  // The setup given, or nothing: plain sessions only.
  std::shared_ptr<const SecureSetup> secureSetup() const { return secure_; }
  // This installation's fingerprint in groups of four hex digits; empty without an
  // identity (plain sessions only).
  std::string ownFingerprint() const {
    return secure_ && secure_->identity ? secure_->identity->fingerprint().groupedText() : "";
  }
  bool sessionEncrypted() const override;
  std::vector<std::string> sharedCapabilities() const override;
  bool autoClose() const override { return autoClose_; }
  void setAutoClose(bool on) override { autoClose_ = on; }
  bool stopping() const override { return stopping_; }
  const Notices& notices() const override { return notices_; }
  // The offers and transfers under way, by Index: for front ends and tests that look.
  OfferSlots& offers() override { return offers_; }

 private:
  enum class Role { Listen, Connect };
  struct LinkAttempt {
    Role role = Role::Listen;
    std::string host;
    int port = 0;
    // 只使用加密连接 as it was when the attempt started.
    bool encryptedOnly = false;
    // Breaks the attempt's blocking call: the accept, the connect, the handshake and the
    // question to the person, then the receive loop.
    SocketInterrupter interrupter;
    // Gives up waiting for the host name lookup, which cannot be interrupted.
    std::stop_source stop;
  };
  // A control connection as it was made: a plain socket or a verified session.
  struct ControlLink {
    std::shared_ptr<ByteStream> stream;
    std::optional<VerifiedSession> verified;
    std::optional<IpAddress> address;
  };
  // How the encrypted port of a Connect went.
  struct EncryptedTry {
    std::optional<ControlLink> link;
    bool noEncryptedPort = false;  // nothing answered there as a Brisk would: a plain peer
  };

  // LinkContext
  Frontend& frontend() override { return frontend_; }
  const Timing& timing() const override { return timing_; }
  void offerAnswered(int index) override;
  std::uint64_t reserveOfferPlace() override;
  bool queueOffer(std::uint64_t place, int index, const std::string& text,
                  std::function<void(bool sent)> done) override;
  void withdrawOfferPlace(std::uint64_t place) override { personMessages_.withdraw(place); }
  void startThread(std::function<void()> work) override { threads_.start(std::move(work)); }
  IpAddress controlPeerAddress() const override;
  DataSessionStart dataSessionFor(int index) override;

  void startLink(Role role, std::string host, int port);
  void runLink(const std::shared_ptr<LinkAttempt>& attempt);
  // In peer_connect.cpp: listening on the plain and the encrypted port, connecting to the
  // encrypted port first, and verifying an encrypted session's peer.
  std::optional<ControlLink> listenForPeer(LinkAttempt& attempt);
  // 只使用加密连接 without the means for it (no identity could be had): the person is told
  // and nothing is connected, rather than quietly a plain connection.
  bool encryptionMissing(const LinkAttempt& attempt);
  std::optional<ControlLink> connectToPeer(LinkAttempt& attempt);
  std::optional<ControlLink> connectPlain(LinkAttempt& attempt, IpAddress address);
  EncryptedTry connectEncrypted(LinkAttempt& attempt, IpAddress address, int port);
  // Whether Connect may go on to the plain port after the encrypted one gave no answer;
  // if not, the person has been told why.
  bool mayFallBack(const LinkAttempt& attempt, IpAddress address, int encryptedPort);
  EncryptedTry startSession(LinkAttempt& attempt, Socket socket, TlsRole role, IpAddress address);
  std::optional<ControlLink> acceptedPlain(const LinkAttempt& attempt, Socket socket);
  // Runs the connection until it ends; returns the errno that ended it (0: the peer
  // closed) and, for an encrypted session, why it failed.
  struct LinkEnd {
    int error = 0;
    std::string why;
  };
  LinkEnd controlReceiveLoop(LinkAttempt& attempt, ControlLink link);
  // Reads and dispatches the control connection until it ends; returns the errno that
  // ended it (0: the peer closed).
  int readControlStream(ByteStream& stream);
  // Whether bytes come within `limit` (or the connection ends).
  static bool bytesArrive(ByteStream& stream, std::chrono::milliseconds limit);
  // Tells the person that the connection ended, and why when an error ended it.
  void reportLinkEnd(const LinkEnd& end);
  static void endSessionInOrder(TlsStream* session);
  // The first lines of a new connection: how it is protected, and who the peer is.
  void reportSession(const ControlLink& link);
  void handlePiece(std::string bytes, bool isControl, class ChatReader& chat);
  int sendWire(ControlWriter::Message message);
  bool sendPersonMessage(const OutgoingQueue::Message& message);
  bool queuePersonMessage(OutgoingQueue::Message message);
  void noteControlTraffic();
  // Something that idle() looks at may have changed.
  void activityChanged();

  Frontend& frontend_;
  const Timing timing_;
  const Notices notices_;
  OfferSlots offers_;

  std::atomic<bool> connected_{false};
  std::atomic<bool> connectingPeer_{true};
  std::atomic<int> controlPort_{0};
  std::atomic<bool> autoClose_{false};
  std::atomic<bool> closeSilentPeers_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> encryptedOnly_{false};
  std::atomic<std::chrono::steady_clock::rep> lastControlTraffic_{0};
  // Lets the start-up lookup's waiter go at shutdown; the lookup itself runs on.
  std::stop_source stopLookups_;

  // Wakes waitUntilIdle.
  std::mutex idleMutex_;
  std::condition_variable idleChanged_;

  std::shared_ptr<const SecureSetup> secure_;

  // The current listen or connect attempt and, once connected, its control socket.
  mutable std::mutex linkMutex_;
  std::shared_ptr<LinkAttempt> link_;
  IpAddress controlPeerAddress_;
  // The encrypted session of the connection, if it is one, and what its peer can do.
  std::shared_ptr<TlsStream> session_;
  std::vector<std::string> sharedCapabilities_;

  // The writer of the current connection; the receive thread starts it when the link is
  // up and stops it before closing the socket, so no send outlives the descriptor.
  mutable std::mutex writerMutex_;
  std::shared_ptr<ControlWriter> writer_;

  ThreadSet threads_;
  // Declared last, so that its worker, which starts threads, ends first.
  OutgoingQueue personMessages_;
};

}  // namespace brisk
