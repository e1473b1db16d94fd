#include "cli/peer_run.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "cli/console.h"
#include "cli/secure_commands.h"
#include "cli/terminal_frontend.h"
#include "common/discovery_settings.h"
#include "discovery/avahi_discovery.h"
#include "discovery/display_name.h"
#include "link/link_boxes.h"
#include "link/peer.h"
#include "link/program_end.h"

namespace brisk {

namespace {

// The loop looks at the state at least this often: the link settling and a link that may
// be started again are not announced.
constexpr int kPollMilliseconds = 100;
// How long the control connection must have been quiet before a run whose own work is
// done ends: when offers cross, each side answers the other's before sending its own, and
// an offer keeps the pause after the message before it, so the peer's offer may follow
// the answer that left this side idle by that pause and a moment.
constexpr auto kLinkSettle = Timing{}.offerPause + std::chrono::milliseconds(500);
// How long a --once run waits, after its outcome, for its last control messages to go out.
constexpr auto kOutcomeFlushLimit = std::chrono::seconds(2);
// A typed line longer than this is sent in pieces, so input without line breaks cannot
// grow without bound.
constexpr std::size_t kMaxTypedLine = 65536;

// Wakes the run loop's poll from other threads and from the signal handler.
class WakePipe {
 public:
  WakePipe() {
    if (::pipe2(fds_.data(), O_CLOEXEC | O_NONBLOCK) != 0) fds_ = {-1, -1};
  }
  ~WakePipe() {
    for (const int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  int readFd() const { return fds_[0]; }
  int writeFd() const { return fds_[1]; }
  void wake() const {
    // A full pipe already holds a wake-up.
    if (fds_[1] >= 0) (void)!::write(fds_[1], "w", 1);
  }
  void drain() const {
    std::array<char, 64> bytes{};
    while (fds_[0] >= 0 && ::read(fds_[0], bytes.data(), bytes.size()) > 0) {
    }
  }

 private:
  std::array<int, 2> fds_{-1, -1};
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread for its lifetime. Made before any other
// thread starts (the Peer starts threads as it is built), so that every thread inherits
// the block and only the SignalWatcher takes these signals.
class TerminationSignalsBlocked {
 public:
  TerminationSignalsBlocked() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    // A closed terminal or an ending session: the same clean end.
    sigaddset(&signals_, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &signals_, &oldMask_);
  }
  ~TerminationSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr); }
  TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
  TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;

  const sigset_t& signals() const { return signals_; }

 private:
  sigset_t signals_{};
  sigset_t oldMask_{};
};

// SIGINT, SIGTERM and SIGHUP are taken by a thread of their own rather than by a handler: the
// main thread may be blocked in a send to a peer that reads nothing, and a handler cannot
// break that off (the send starts again after it). The first signal is recorded, wakes
// the run loop and calls `interrupt`, which fails such a send; a second one ends the
// program at once. SIGPIPE is ignored: a closed standard output must not kill the program
// in the middle of its shutdown; the old handler comes back at the end.
class SignalWatcher {
 public:
  SignalWatcher(const TerminationSignalsBlocked& blocked, const WakePipe& wake,
                std::function<void()> interrupt)
      : signals_(withStopSignal(blocked.signals())), wake_(wake), interrupt_(std::move(interrupt)) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &oldPipe_);
    // The thread starts with the stop signal blocked (it inherits this thread's mask), so
    // that one sent to it is always waited for, never acted on; this thread's mask is
    // as before.
    const sigset_t stop = signalSet(kStopSignal);
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &stop, &before);
    thread_ = std::thread([this] { watch(); });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
  ~SignalWatcher() {
    done_ = true;
    // Ends the thread's wait at once: the program's end is not held up by it.
    ::pthread_kill(thread_.native_handle(), kStopSignal);
    thread_.join();
    ::sigaction(SIGPIPE, &oldPipe_, nullptr);
  }
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // The first signal taken, or 0.
  int signal() const { return signal_; }

 private:
  // Sent to the thread alone, by the destructor.
  static constexpr int kStopSignal = SIGUSR1;

  static sigset_t withStopSignal(sigset_t signals) {
    sigaddset(&signals, kStopSignal);
    return signals;
  }

  static sigset_t signalSet(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    return set;
  }

  void watch() {
    // No wait needs a time limit: the stop signal, sent to this thread alone, stays
    // pending until it is taken, even when it comes before the wait begins.
    while (!done_) {
      const int taken = ::sigwaitinfo(&signals_, nullptr);
      if (taken <= 0 || taken == kStopSignal) continue;
      if (signal_ != 0) {
        // The second signal: the clean end is taking too long for the person.
        ::signal(taken, SIG_DFL);
        const sigset_t only = signalSet(taken);
        ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(taken);
        return;
      }
      signal_ = taken;
      wake_.wake();
      interrupt_();
    }
  }

  const sigset_t signals_;
  const WakePipe& wake_;
  std::function<void()> interrupt_;
  struct sigaction oldPipe_ {};
  std::atomic<int> signal_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The engine wants "\r\n" between the lines of one chat text.
std::string withWireLineBreaks(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n' && (at == 0 || text[at - 1] != '\r')) out += '\r';
    out += text[at];
  }
  return out;
}

class PeerRun {
 public:
  PeerRun(const PeerOptions& options, const PeerIo& io)
      : options_(options),
        io_(io),
        console_(options.json ? *io.errors : *io.output,
                 options.json ? io.errorsIsTerminal : io.outputIsTerminal, io.columns),
        jsonConsole_(*io.output, false),
        json_(jsonConsole_),
        frontend_(console_, answerPolicyFor(options, io.inputIsTerminal),
                  options.json ? &json_ : nullptr),
        peer_(frontend_),
        signals_(blocked_, wake_, [this] { peer_.disconnect(); }),
        end_(peer_, frontend_) {
    // Stopping discovery withdraws the announcement.
    end_.addFirstStep([this] { discovery_.reset(); });
  }

  int run() {
    if (!options_.plain) {
      std::string error;
      std::shared_ptr<SecureSetup> setup =
          secureSetupFor(options_, loadEncryptedOnly(SettingsStore(peer_.notices())), error);
      if (!setup) {
        console_.printLine("brisk-peer: " + error);
        end_.run();
        console_.finish();
        return kExitLocalDisk;
      }
      peer_.setSecureSetup(std::move(setup));
    }
    frontend_.setStatusListener([this] { wake_.wake(); });
    // Unattended, the inbox must not let a silent stranger hold its one connection.
    peer_.setCloseSilentPeers(options_.keep);
    frontend_.judgeOwnOffers(std::any_of(options_.actions.begin(), options_.actions.end(),
                                         [](const PeerOptions::Action& action) {
                                           return std::holds_alternative<PeerOptions::Send>(action);
                                         }));
    if (options_.role == PeerOptions::Role::Listen && options_.announce) startDiscovery();
    peer_.logLocalAddress();
    startLink();
    std::optional<int> exitStatus;
    while (!(exitStatus = finished())) {
      std::array<pollfd, 2> fds{
          {{wake_.readFd(), POLLIN, 0}, {inputOpen_ ? io_.inputFd : -1, POLLIN, 0}}};
      if (::poll(fds.data(), fds.size(), kPollMilliseconds) > 0) {
        if (fds[0].revents != 0) wake_.drain();
        if (fds[1].revents != 0) readInput();
      }
      if (!actionsDone_ && frontend_.status().linkState == LinkState::Connected) runActions();
      if (options_.keep) listenAgainOnceThePeerLeft();
      if (discovery_) updateAnnouncement();
    }
    end_.run();
    console_.finish();
    return *exitStatus;
  }

 private:
  // Listens or connects as the command line says; a port that names none ends the run
  // (the link is shown as ended without ever having been up).
  void startLink() {
    const auto target = readLinkBoxes(options_.address, options_.port, frontend_);
    if (!target) {
      frontend_.showLinkState(LinkState::Idle);
    } else if (options_.role == PeerOptions::Role::Listen) {
      peer_.listen(target->port);
    } else {
      peer_.connect(target->host, target->port);
    }
  }

  // The exit status once the run is over.
  std::optional<int> finished() {
    if (signals_.signal() != 0) return 128 + signals_.signal();
    const FrontendStatus status = frontend_.status();
    // An inbox that turned a peer away listens on; any other link that never came up failed.
    const bool turnedAway = options_.keep && status.everListened;
    if (status.linkEnded && !status.everConnected && !turnedAway) return kExitLinkFailed;
    // A transfer that runs on keeps its own connection; its verdict is awaited. So is the
    // outcome of an offer still being ended here: the peer may close the link on its
    // answer (a refusal) before this side has reported it.
    const bool linkClosed =
        status.linkEnded && status.openTransfers == 0 && !peer_.offers().anyEnding();
    if (options_.once) {
      // The answer that decided it (a refusal, say) must reach the peer before the link
      // goes; a peer that stopped reading gets a bounded wait.
      if (status.firstOutcome && (peer_.controlDrained() || outcomeFlushTimedOut())) {
        return exitStatusFor(*status.firstOutcome);
      }
      if (linkClosed) return kExitIncomplete;
      return std::nullopt;
    }
    // An inbox listens again after each peer; only a signal ends it.
    if (options_.keep) return std::nullopt;
    if (linkClosed) return 0;
    // An unattended inbox serves its peer until the peer leaves, input or not.
    if (servesUntilThePeerLeaves()) return std::nullopt;
    if (inputOpen_ || !nothingUnderWay(status)) return std::nullopt;
    return 0;
  }

  // Starts the wait for the control messages still going out on the first outcome, and
  // tells whether it has run out.
  bool outcomeFlushTimedOut() {
    const auto now = std::chrono::steady_clock::now();
    if (!outcomeFlushDeadline_) outcomeFlushDeadline_ = now + kOutcomeFlushLimit;
    return now >= *outcomeFlushDeadline_;
  }

  // Offers are answered automatically and this side has nothing of its own to do.
  bool servesUntilThePeerLeaves() const {
    return answerPolicyFor(options_, false).answersOffers() && options_.actions.empty();
  }

  bool nothingUnderWay(const FrontendStatus& status) {
    if (status.linkState != LinkState::Connected || !actionsDone_) return false;
    if (status.openPrompts != 0 || status.openQuestions != 0 || status.openTransfers != 0) {
      return false;
    }
    return peer_.idle() &&
           std::chrono::steady_clock::now() - peer_.lastControlTraffic() >= kLinkSettle;
  }

  // With --keep: once the peer has left, listens for the next one. The link thread shows
  // the idle state a moment before it can start again, so this is tried until it takes.
  void listenAgainOnceThePeerLeft() {
    const FrontendStatus status = frontend_.status();
    if (status.linkEnded && (status.everConnected || status.everListened)) {
      frontend_.startNewLink();
      actionsDone_ = false;
      listenAgain_ = true;
    }
    if (!listenAgain_) return;
    startLink();
    // Until the old link's thread has let go, listening does not start: the next round
    // of the loop tries again.
    if (frontend_.status().linkState != LinkState::Idle) listenAgain_ = false;
  }

  void startDiscovery() {
    discovery_ = std::make_unique<AvahiDiscovery>();
    discovery_->start([this](DiscoveryEvent event) {
      {
        std::lock_guard lock(discoveryMutex_);
        discoveryEvents_.push_back(std::move(event));
      }
      wake_.wake();
    });
  }

  // Announced exactly while the port listens for a peer: not before, not once connected.
  void updateAnnouncement() {
    std::deque<DiscoveryEvent> events;
    {
      std::lock_guard lock(discoveryMutex_);
      events.swap(discoveryEvents_);
    }
    for (const DiscoveryEvent& event : events) {
      if (const auto* announced = std::get_if<AnnouncedAs>(&event);
          announced && !announced->name.empty()) {
        console_.printLine("announced on the local network as \"" + announced->name + "\"");
      } else if (const auto* change = std::get_if<AvailabilityChanged>(&event);
                 change && !change->available) {
        console_.printLine("not announced on the local network: " + change->reason);
      }
    }
    const FrontendStatus status = frontend_.status();
    const bool listening = status.linkState == LinkState::Listening && status.portListening;
    if (listening && !announced_) {
      discovery_->announce(options_.name.empty() ? defaultDisplayName() : options_.name,
                           peer_.controlPort(), announcedHints());
    } else if (!listening && announced_) {
      discovery_->withdraw();
    }
    announced_ = listening;
  }

  // The encrypted port and the fingerprint's first digits, only while encrypted sessions
  // are taken: a plain-only listener has no key a peer could check.
  PeerHints announcedHints() const {
    const std::shared_ptr<const SecureSetup> setup = peer_.secureSetup();
    if (!setup || setup->plainOnly || !setup->identity) return {};
    return PeerHints{encryptedPortFor(peer_.controlPort()),
                     setup->identity->fingerprint().shortText()};
  }

  // Once connected: the command line's --say and --send in their order, then the lines
  // typed while the connection was being set up.
  void runActions() {
    actionsDone_ = true;
    for (const PeerOptions::Action& action : options_.actions) {
      if (const auto* say = std::get_if<PeerOptions::Say>(&action)) {
        peer_.sendChatLine(withWireLineBreaks(say->text));
      } else if (const auto* send = std::get_if<PeerOptions::Send>(&action)) {
        peer_.offerFiles(send->paths);
      }
    }
    for (const std::string& line : std::exchange(earlyLines_, {})) peer_.sendChatLine(line);
  }

  void readInput() {
    std::array<char, 4096> bytes{};
    const ssize_t n = ::read(io_.inputFd, bytes.data(), bytes.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      if (!pendingInput_.empty()) typedLine(std::exchange(pendingInput_, {}));
      inputOpen_ = false;
      frontend_.closeInput();
      return;
    }
    pendingInput_.append(bytes.data(), static_cast<std::size_t>(n));
    std::size_t end = 0;
    while ((end = pendingInput_.find('\n')) != std::string::npos) {
      std::string line = pendingInput_.substr(0, end);
      pendingInput_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      typedLine(line);
    }
    if (pendingInput_.size() >= kMaxTypedLine) typedLine(std::exchange(pendingInput_, {}));
  }

  // One typed line answers the question on screen or is sent as one chat line.
  void typedLine(const std::string& line) {
    if (frontend_.takeAnswer(line)) return;
    if (actionsDone_) {
      peer_.sendChatLine(line);
    } else {
      earlyLines_.push_back(line);
    }
  }

  const PeerOptions& options_;
  const PeerIo& io_;
  TerminationSignalsBlocked blocked_;  // first: before any thread starts
  WakePipe wake_;
  Console console_;  // the lines a person reads
  Console jsonConsole_;
  JsonEvents json_;
  TerminalFrontend frontend_;
  Peer peer_;
  SignalWatcher signals_;
  ProgramEnd end_;

  bool inputOpen_ = true;
  std::string pendingInput_;
  bool actionsDone_ = false;
  bool listenAgain_ = false;  // --keep: the peer left and listening has not started again
  std::vector<std::string> earlyLines_;  // typed before the connection came up
  std::optional<std::chrono::steady_clock::time_point> outcomeFlushDeadline_;

  std::mutex discoveryMutex_;
  std::deque<DiscoveryEvent> discoveryEvents_;
  bool announced_ = false;
  // Last, so it stops before the queue its events go to.
  std::unique_ptr<DiscoveryBackend> discovery_;
};

}  // namespace

int exitStatusFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Complete:
      return 0;
    case RunOutcome::Refused:
      return kExitRefused;
    case RunOutcome::StoppedByPeer:
      return kExitStoppedByPeer;
    case RunOutcome::NetworkFailure:
      return kExitLinkFailed;
    case RunOutcome::LocalDisk:
      return kExitLocalDisk;
    case RunOutcome::Incomplete:
      break;
  }
  return kExitIncomplete;
}

int runPeer(const PeerOptions& options, const PeerIo& io) {
  return PeerRun(options, io).run();
}

}  // namespace brisk
