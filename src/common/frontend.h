#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/prompt_handle.h"

namespace brisk {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(Rgb, Rgb) = default;
};

// Colours of the chat log: received text, text this side sent, a new connection, failures.
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kRed{255, 0, 0};

// What the main window shows of the control connection.
enum class LinkState {
  Idle,        // Listen and Connect shown, status label hidden, Disconnect reads "取消"
  Listening,   // status label "正在监听..."
  Connecting,  // status label "正在连接..."
  Connected,   // status label "已连接", Disconnect reads "断开"
};

// What a prompt asks, so that a front end knows what its buttons mean without reading
// their captions.
enum class PromptKind {
  PeerSingleFileOffer,  // the peer offers one file: accept, refuse, resume an existing file
  PeerItemsOffer,       // the peer offers a folder or several items: accept, refuse
  OwnOfferWaiting,      // this side's offer waits for the peer's answer: cancel
};

// A question with a message line, a text and its buttons, in the order the captions list
// them (see promptAnswerForButton).
struct PromptRequest {
  std::string line;
  std::string text;
  std::vector<std::string> captions;
  PromptKind kind = PromptKind::PeerItemsOffer;
  // The peer's offers: the fewest bytes the offer stands for (its total, or one file's
  // size as its item line names it).
  std::uint64_t offeredBytes = 0;
  int index = 0;  // the offer's Index
};

// The person's answer to a prompt. None: the prompt was closed without one (by another
// thread, or because the program ends).
enum class PromptAnswer {
  None,
  Accept,  // take the peer's offer, choosing where it goes
  Refuse,  // refuse the peer's offer
  Resume,  // take the peer's single file as the rest of a file already here
  Cancel,  // withdraw this side's own offer
};

// The answer that the button at `button` (0 for the first caption) of a prompt of `kind`
// gives; None for a button the kind does not have.
inline PromptAnswer promptAnswerForButton(PromptKind kind, int button) {
  if (kind == PromptKind::OwnOfferWaiting)
    return button == 0 ? PromptAnswer::Cancel : PromptAnswer::None;
  switch (button) {
    case 0:
      return PromptAnswer::Accept;
    case 1:
      return PromptAnswer::Refuse;
    case 2:
      return kind == PromptKind::PeerSingleFileOffer ? PromptAnswer::Resume : PromptAnswer::None;
    default:
      return PromptAnswer::None;
  }
}

// First contact with a peer over an encrypted session: the code both people compare, and
// who the peer says it is. The code is the same on both screens only when no one sits
// between the two computers.
struct CodeComparison {
  std::string code;             // 6 digits (验证码)
  std::string peerName;         // the name the peer gave itself (UTF-8)
  std::string peerAddress;      // dotted
  std::string peerFingerprint;  // grouped hex, as Fingerprint::groupedText gives it
  std::string ownFingerprint;
};

// The person's answer to a code comparison. None: closed without one (the peer left or
// refused, the time ran out, the program ends).
enum class CodeAnswer { None, Same, Different };

// Answers of the file-exists dialog.
enum class FileExistsAnswer {
  None,  // closed without a button
  Resume,
  TransferAgain,
  Skip,
  Stop,
};

struct FileExistsReply {
  FileExistsAnswer answer = FileExistsAnswer::None;
  bool alwaysTicked = false;  // the "始终采取相同操作" box was ticked when a button was pressed
};

// How an offer, this side's own or the peer's, ended.
enum class OfferOutcome {
  Accepted,   // its transfer starts; transferEnded follows
  Refused,    // by the person who was asked (the refusal has been sent, or received)
  Cancelled,  // withdrawn by the side that made it, or closed because the link or program ended
  Failed,     // no transfer can follow: no place to save, a slot in use, an unusable data port
};

struct OfferEnd {
  int index = 0;
  bool ownOffer = false;  // this side offered
  OfferOutcome outcome = OfferOutcome::Failed;
};

// Why a transfer did not complete, as far as this side can tell; the first cause seen
// stands.
enum class TransferCause {
  Complete,        // it did complete
  Incomplete,      // anything else: skipped or refused files, a file too long to resume
  StoppedHere,     // this side's person pressed Stop
  StoppedByPeer,   // the peer stopped it
  ConnectionLost,  // the data connection broke, was never made, or went silent
  LocalDisk,       // a file here could not be created, written or read
  PeerFailed,      // the peer reported a failure of its own
};

// How a transfer ended, once its record has left its slot.
struct TransferEnd {
  int index = 0;
  bool isSender = false;
  bool complete = false;  // the whole protocol finished and every byte arrived
  TransferCause cause = TransferCause::Incomplete;
};

// Identifies a transfer window; 0 means none.
using TransferWindowId = int;

struct TransferWindowSetup {
  int index = 0;
  bool isSender = false;
  int fileCount = 1;  // 1 shows one bar, anything else two
  bool autoCloseTicked = false;
  // Called on the front end's thread when the person presses Stop while the transfer runs.
  std::function<void()> onStop;
  // Called on the front end's thread when the auto-close box is ticked or cleared.
  std::function<void(bool)> onAutoCloseToggled;
  // What moves, as the person knows it: the one file's or folder's name (on the receiving
  // side the name it is saved under); empty for several items.
  std::string itemName;
  // Where it lies: the folder of the offered items, or the folder it is saved into.
  std::filesystem::path folder;
};

// The once-a-second texts of a transfer window.
struct TransferTexts {
  std::string fileSize;
  std::string fileDone;
  std::string speed;
  std::string elapsed;
};

// The once-a-second figures as numbers, for front ends that pass them on to programs.
struct TransferNumbers {
  std::uint64_t fileSize = 0;
  std::uint64_t fileDone = 0;
  std::uint64_t totalSize = 0;
  std::uint64_t totalDone = 0;  // the files done and the current file's bytes
  std::uint64_t bytesPerSecond = 0;
  std::uint64_t seconds = 0;
};

// One update of a transfer window, as values. A bar without a value is left as it is.
struct TransferFigures {
  std::optional<int> fileBar;
  std::optional<int> totalBar;
  std::optional<TransferTexts> texts;
  std::optional<TransferNumbers> numbers = std::nullopt;  // with the texts
};

struct TransferVerdict {
  bool complete = false;
  std::string status;  // "传送完毕！" or "传送中止！"
  bool hideFileBar = false;
  bool closeWindow = false;  // auto-close after a complete transfer
};

// The engine's only way to the person. Every operation may be called from any thread. The
// blocking ones (modal notices, questions, prompts, dialogs, opening a transfer window)
// return the person's answer; the others return at once.
class Frontend {
 public:
  virtual ~Frontend() = default;

  // Whether the calling thread is the one the person's windows run on, which nothing may
  // hold up (no pause, no waiting for the network). Front ends without one say no.
  virtual bool onInterfaceThread() const { return false; }

  // Main window.
  virtual void appendLog(const std::string& text, Rgb colour) = 0;
  virtual void showLinkState(LinkState state) = 0;
  // The control port now listens for the peer: after showLinkState(Listening), once the
  // port is bound, and until the next state. Only then is the computer announced on the
  // local network, so that a listen that fails is never announced.
  virtual void showPortListening() {}
  virtual void setAddressText(const std::string& text) = 0;
  virtual void bringToFront() = 0;
  virtual void beep() = 0;

  // Notices: a box titled "提示信息" with an OK button.
  virtual void showNotice(const std::string& text) = 0;       // returns at once
  virtual void showNoticeModal(const std::string& text) = 0;  // returns when closed
  virtual bool askYesNo(const std::string& text) = 0;         // true for Yes

  // Prompts. `handle` lets another thread close the prompt; the answer is then None.
  virtual PromptAnswer showPrompt(PromptHandle& handle, const PromptRequest& request) = 0;

  // First contact: shows the code with 相同 (Same) and 不同 (Different) and waits for the
  // person. `handle` lets another thread close it (the peer refused or left, the time ran
  // out); the answer is then None. A front end that cannot ask answers None, which ends
  // the connection and remembers nothing.
  virtual CodeAnswer compareCode(PromptHandle& handle, const CodeComparison& comparison) {
    (void)handle;
    (void)comparison;
    return CodeAnswer::None;
  }

  // Choosing what to offer and where to save. Nothing means the person cancelled.
  virtual std::vector<std::filesystem::path> chooseFilesToOffer() = 0;
  // Folders to offer, for front ends that can pick them (the files dialog cannot).
  virtual std::vector<std::filesystem::path> chooseFoldersToOffer() { return {}; }
  virtual std::optional<std::filesystem::path> chooseSaveFile(const std::string& suggestedName,
                                                              const std::string& defaultSuffix) = 0;
  // An existing file to continue receiving the peer's single file `suggestedName` into.
  virtual std::optional<std::filesystem::path> chooseResumeFile(
      const std::string& suggestedName) = 0;
  virtual std::optional<std::filesystem::path> chooseFolder() = 0;

  // The question about a received file that already exists at `path` (full path); each
  // front end words it itself.
  virtual FileExistsReply askFileExists(const std::filesystem::path& path) = 0;

  // Transfer windows. Opening returns when the window exists (0 if it could not be made).
  virtual TransferWindowId openTransferWindow(const TransferWindowSetup& setup) = 0;
  virtual void setTransferFileName(TransferWindowId window, const std::string& name) = 0;
  virtual void setTransferStatus(TransferWindowId window, const std::string& status) = 0;
  virtual void showTransferFigures(TransferWindowId window, const TransferFigures& figures) = 0;
  virtual void showTransferVerdict(TransferWindowId window, const TransferVerdict& verdict) = 0;
  // The file being transferred continues the `offset` bytes already at the receiving side,
  // checked to be the start of the sender's file; the rest follows. Both sides are told.
  virtual void showTransferResumed(TransferWindowId window, std::uint64_t offset) {
    (void)window;
    (void)offset;
  }

  // Events: what happened, for front ends that act on it rather than show it. Called on
  // the engine thread where it happened, after what it reports is done (a refusal sent,
  // a transfer's record released).
  virtual void offerEnded(const OfferEnd& end) = 0;
  virtual void transferEnded(const TransferEnd& end) = 0;
  // Nothing is under way any more (see Peer::idle); may come more than once, and the
  // Peer may be busy again by the time it is handled.
  virtual void engineIdle() {}

  // The program is ending: every question that waits for the person returns at once with
  // "no answer", and questions engine threads ask from now on do not wait either, so that
  // no engine thread is left waiting for a person when the Peer joins its threads. Called
  // on the interface thread, before Peer::shutdown (see ProgramEnd). A front end whose questions
  // never wait for a person has nothing to do.
  virtual void beginShutdown() {}
};

}  // namespace brisk
