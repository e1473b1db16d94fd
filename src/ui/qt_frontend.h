#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "common/frontend.h"
#include "ui/desktop_attention.h"
#include "ui/notice_boxes.h"
#include "ui/pending_answer.h"

namespace brisk {

class SettingsStore;
class TransferWindow;

// The Frontend of the Qt program. Every operation may be called from any thread and is
// carried over to the GUI thread: the ones that only show something are queued (in the
// order of the calls) and return at once; the ones that ask the person block the calling
// thread until the answer, or run their own event loop when called on the GUI thread.
// Windows the engine opens (notices, prompts, dialogs, transfer windows) are owned here.
// What the main window shows is emitted as signals instead, on the GUI thread and in the
// order of the calls, carrying values only: whoever shows it connects to them.
//
// The QtFrontend must outlive the Peer that uses it. The program's end (ProgramEnd) calls
// beginShutdown() before the Peer joins its threads: from then on every question from an
// engine thread is answered at once with "no answer", so no thread waits for a GUI thread
// that no longer runs its event loop. The GUI thread itself may still ask.
class QtFrontend : public QObject, public Frontend {
  Q_OBJECT

 public:
  QtFrontend();
  ~QtFrontend() override;

  // GUI thread. The main window: the file dialogs' parent, the place new windows cascade
  // from and the one to call attention to when a finished transfer's window closed itself.
  // `store` keeps the folder the save dialogs open in; it lives as long as `window`.
  void attachMainWindow(QWidget* window, const SettingsStore& store);

  // GUI thread. Releases every waiting question with "no answer", refuses new ones from
  // other threads and closes every window the engine opened.
  void beginShutdown() override;
  bool shuttingDown() const;

  bool onInterfaceThread() const override;

  // Main window.
  void appendLog(const std::string& text, Rgb colour) override;
  void showLinkState(LinkState state) override;
  void showPortListening() override;
  void setAddressText(const std::string& text) override;
  void bringToFront() override;
  void beep() override;

  // Notices and questions.
  void showNotice(const std::string& text) override;
  void showNoticeModal(const std::string& text) override;
  bool askYesNo(const std::string& text) override;

  PromptAnswer showPrompt(PromptHandle& handle, const PromptRequest& request) override;
  CodeAnswer compareCode(PromptHandle& handle, const CodeComparison& comparison) override;

  std::vector<std::filesystem::path> chooseFilesToOffer() override;
  std::vector<std::filesystem::path> chooseFoldersToOffer() override;
  std::optional<std::filesystem::path> chooseSaveFile(const std::string& suggestedName,
                                                      const std::string& defaultSuffix) override;
  std::optional<std::filesystem::path> chooseResumeFile(const std::string& suggestedName) override;
  std::optional<std::filesystem::path> chooseFolder() override;

  FileExistsReply askFileExists(const std::filesystem::path& path) override;

  TransferWindowId openTransferWindow(const TransferWindowSetup& setup) override;
  void setTransferFileName(TransferWindowId window, const std::string& name) override;
  void setTransferStatus(TransferWindowId window, const std::string& status) override;
  void showTransferFigures(TransferWindowId window, const TransferFigures& figures) override;
  void showTransferVerdict(TransferWindowId window, const TransferVerdict& verdict) override;
  // The windows show what these report already: the prompt closes, the verdict shows.
  void offerEnded(const OfferEnd&) override {}
  void transferEnded(const TransferEnd&) override {}

  // GUI thread: the open transfer window with this id, if any.
  TransferWindow* transferWindow(TransferWindowId window) const;
  // GUI thread: how many transfer windows show a transfer that still runs.
  int runningTransfers() const;

 Q_SIGNALS:
  // What the engine reports for the main window, emitted on the GUI thread in the order
  // of the calls, whichever threads made them.
  void logAppended(const QString& text, const QColor& colour);
  void linkStateChanged(brisk::LinkState state);
  // The control port listens for the peer, until the next link state.
  void portListening();
  void addressTextChanged(const QString& text);
  void frontRequested();
  // The number of transfers under way changed.
  void runningTransfersChanged(int running);

 private:
  // Runs `work` on the GUI thread after everything queued before it.
  void post(std::function<void()> work);

  // Asks the person: `start` runs on the GUI thread and arranges for `answer` to be given
  // (at once, or later by a window). Returns the answer, or "no answer" at shutdown.
  template <typename T>
  T await(const std::shared_ptr<PendingAnswer<T>>& answer, std::function<void()> start);
  // Shortcut for questions answered by one modal call on the GUI thread.
  template <typename T>
  T askOnGuiThread(T noAnswer, std::function<T()> ask);

  // GUI thread: opens the prompts held back, as far as there is room for them.
  void showHeldPrompts();

  // GUI thread: keeps a window the engine opened, to close it at shutdown.
  void own(QWidget* window);
  QWidget* dialogOwner() const;
  // GUI thread: puts a new prompt or transfer window a step down and right of the previous
  // one, starting near the main window, instead of where the platform puts every window.
  void placeCascaded(QWidget* window);
  // GUI thread: runs a save-location dialog in the folder last saved into (the Downloads
  // folder at first) and remembers the folder of what was chosen.
  std::optional<std::filesystem::path> chooseSaveLocation(
      const std::function<QString(const QString& startFolder)>& dialog, bool choosesFolder);

  QPointer<QWidget> mainWindow_;
  // Valid while mainWindow_ is.
  const SettingsStore* store_ = nullptr;
  QList<QPointer<QWidget>> windows_;
  std::map<TransferWindowId, QPointer<TransferWindow>> transferWindows_;
  TransferWindowId lastTransferWindow_ = 0;
  int cascadeStep_ = 0;
  DesktopAttention attention_;
  // The most prompts about the peer's offers open at once, one for each step of the
  // cascade: a window costs the program a few megabytes, and a stranger may offer 99 at
  // once. The others wait, in the order they came, until one is answered.
  static constexpr int kMaxOpenOfferPrompts = 8;
  struct HeldPrompt {
    std::shared_ptr<PendingAnswer<PromptAnswer>> answer;
    std::function<void()> open;
  };
  int openOfferPrompts_ = 0;
  std::deque<HeldPrompt> heldPrompts_;

  NoticeBoxes noticeBoxes_;

  // The latest file name of each transfer window not yet shown: a transfer of many small
  // files names a file for each, far faster than a window repaints, so the GUI thread
  // takes the latest one per window at its own pace instead of one event per file.
  std::mutex fileNamesMutex_;
  std::map<TransferWindowId, std::string> fileNames_;

  mutable std::mutex answersMutex_;
  std::set<std::shared_ptr<AnswerSlot>> answers_;
  bool shuttingDown_ = false;
};

}  // namespace brisk
