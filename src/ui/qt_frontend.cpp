#include "ui/qt_frontend.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QThread>

#include "common/settings_store.h"
#include "ui/attention_requests.h"
#include "ui/code_dialog.h"
#include "ui/control_ids.h"
#include "ui/engine_text.h"
#include "ui/file_exists_dialog.h"
#include "ui/notice_box.h"
#include "ui/prompt_window.h"
#include "ui/save_folder.h"
#include "ui/shown_text.h"
#include "ui/transfer_window.h"

namespace brisk {

namespace {

bool onGuiThread() {
  return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// The chat log's own notes (how much of a long text it left out, offers waiting their
// turn), apart from what was received or sent.
const QColor kNoteColour(128, 128, 128);

std::filesystem::path toPath(const QString& name) {
  return {QFile::encodeName(name).toStdString()};
}

std::optional<std::filesystem::path> chosenPath(const QString& name) {
  if (name.isEmpty()) return std::nullopt;
  return toPath(name);
}

// The answer of the file-exists dialog's button `id` (1001 to 1004 in the order
// 断点续传, 重新传输, 忽略跳过, 终止).
FileExistsAnswer fileExistsAnswerOf(int id) {
  switch (id - kIdFirstButton) {
    case 0:
      return FileExistsAnswer::Resume;
    case 1:
      return FileExistsAnswer::TransferAgain;
    case 2:
      return FileExistsAnswer::Skip;
    case 3:
      return FileExistsAnswer::Stop;
    default:
      return FileExistsAnswer::None;
  }
}

}  // namespace

QtFrontend::QtFrontend()
    : noticeBoxes_(
          [this](QWidget* box) { own(box); },
          [this](const QString& text, const QColor& colour) { Q_EMIT logAppended(text, colour); }) {
}

QtFrontend::~QtFrontend() {
  // Closing the windows below must not open the prompts held back.
  heldPrompts_.clear();
  for (const QPointer<QWidget>& window : std::as_const(windows_)) delete window.data();
}

void QtFrontend::attachMainWindow(QWidget* window, const SettingsStore& store) {
  mainWindow_ = window;
  store_ = &store;
}

void QtFrontend::beginShutdown() {
  std::set<std::shared_ptr<AnswerSlot>> waiting;
  {
    std::lock_guard lock(answersMutex_);
    shuttingDown_ = true;
    waiting = answers_;
  }
  for (const auto& answer : waiting) answer->abandon();
  heldPrompts_.clear();
  // deleteLater, because one of them may be the window whose event is being handled now.
  for (const QPointer<QWidget>& window : std::as_const(windows_)) {
    if (window) {
      window->hide();
      window->deleteLater();
    }
  }
}

bool QtFrontend::shuttingDown() const {
  std::lock_guard lock(answersMutex_);
  return shuttingDown_;
}

void QtFrontend::post(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

template <typename T>
T QtFrontend::await(const std::shared_ptr<PendingAnswer<T>>& answer, std::function<void()> start) {
  const bool guiThread = onGuiThread();
  {
    std::lock_guard lock(answersMutex_);
    // The GUI thread runs its own loop for the answer, so it may still ask while the
    // program closes (a failing settings write at exit); a worker would wait forever.
    if (shuttingDown_ && !guiThread) {
      answer->abandon();
      return answer->value();
    }
    answers_.insert(answer);
  }
  if (guiThread) {
    start();
    // Whatever answers (a window, another thread closing a prompt, the shutdown) also
    // posts or handles an event here, so the loop wakes up to see it.
    while (!answer->given()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  } else {
    post([answer, start = std::move(start)] {
      if (!answer->given()) start();
    });
    answer->wait();
  }
  std::lock_guard lock(answersMutex_);
  answers_.erase(answer);
  return answer->value();
}

template <typename T>
T QtFrontend::askOnGuiThread(T noAnswer, std::function<T()> ask) {
  auto answer = std::make_shared<PendingAnswer<T>>(std::move(noAnswer));
  return await<T>(answer, [answer, ask = std::move(ask)] { answer->give(ask()); });
}

void QtFrontend::own(QWidget* window) {
  windows_.removeAll(QPointer<QWidget>());
  windows_.append(window);
}

QWidget* QtFrontend::dialogOwner() const {
  return mainWindow_.data();
}

void QtFrontend::placeCascaded(QWidget* window) {
  if (!mainWindow_) return;
  constexpr int kStep = 30;
  constexpr int kSteps = 8;
  cascadeStep_ = cascadeStep_ % kSteps + 1;
  QPoint at = mainWindow_->frameGeometry().topLeft() + QPoint(kStep, kStep) * cascadeStep_;
  // The whole window stays on the main window's screen.
  if (const QScreen* screen = mainWindow_->screen()) {
    const QRect room = screen->availableGeometry();
    const QSize size = window->frameGeometry().size();
    at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - size.width())));
    at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - size.height())));
  }
  window->move(at);
}

std::optional<std::filesystem::path> QtFrontend::chooseSaveLocation(
    const std::function<QString(const QString& startFolder)>& dialog, bool choosesFolder) {
  if (!mainWindow_) return chosenPath(dialog(QString()));
  const SettingsStore& store = *store_;
  const QString chosen = dialog(saveDialogFolder(store));
  if (chosen.isEmpty()) return std::nullopt;
  rememberSaveFolder(store, choosesFolder ? chosen : QFileInfo(chosen).absolutePath());
  return toPath(chosen);
}

// --- Main window

// Emitted from queued work, so that they keep their order with each other and with
// everything else this front end queues (notices, transfer windows), and a call on the GUI
// thread does not overtake one an engine thread made before it.

void QtFrontend::appendLog(const std::string& text, Rgb colour) {
  // Cut here, on the caller's thread: a long text would cost the queue its memory too.
  const ShownLogText shown = shownLogText(text);
  post([this, text = fromEngineText(shown.text),
        note = shown.note ? fromEngineText(*shown.note) : QString(),
        colour = QColor(colour.red, colour.green, colour.blue)] {
    Q_EMIT logAppended(text, colour);
    if (!note.isEmpty()) Q_EMIT logAppended(note, kNoteColour);
  });
}

void QtFrontend::showLinkState(LinkState state) {
  post([this, state] { Q_EMIT linkStateChanged(state); });
}

void QtFrontend::showPortListening() {
  post([this] { Q_EMIT portListening(); });
}

void QtFrontend::setAddressText(const std::string& text) {
  post([this, text = QString::fromStdString(text)] { Q_EMIT addressTextChanged(text); });
}

void QtFrontend::bringToFront() {
  post([this] { Q_EMIT frontRequested(); });
}

void QtFrontend::beep() {
  post([] { QApplication::beep(); });
}

bool QtFrontend::onInterfaceThread() const {
  return onGuiThread();
}

// --- Notices

void QtFrontend::showNotice(const std::string& text) {
  post([this, text = fromEngineText(shownNoticeText(text))] {
    if (!shuttingDown()) noticeBoxes_.show(text);
  });
}

void QtFrontend::showNoticeModal(const std::string& text) {
  auto answer = std::make_shared<PendingAnswer<bool>>(false);
  // A notice that holds the GUI thread keeps the person out of the other windows meanwhile;
  // a worker thread's notice holds only that worker, as a box without owner does.
  const bool holdsGuiThread = onGuiThread();
  await<bool>(answer, [this, answer, holdsGuiThread, text = fromEngineText(shownNoticeText(text))] {
    QMessageBox* box = createNoticeBox(text);
    if (holdsGuiThread) box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [answer] { answer->give(true); });
    own(box);
    box->show();
  });
}

bool QtFrontend::askYesNo(const std::string& text) {
  auto answer = std::make_shared<PendingAnswer<bool>>(false);
  const bool holdsGuiThread = onGuiThread();
  return await<bool>(
      answer, [this, answer, holdsGuiThread, text = fromEngineText(shownNoticeText(text))] {
        QMessageBox* box = createQuestionBox(text);
        if (holdsGuiThread) box->setWindowModality(Qt::ApplicationModal);
        QObject::connect(box, &QMessageBox::finished, box,
                         [answer](int result) { answer->give(result == QMessageBox::Yes); });
        own(box);
        box->show();
      });
}

// --- Prompts

CodeAnswer QtFrontend::compareCode(PromptHandle& handle, const CodeComparison& comparison) {
  auto answer = std::make_shared<PendingAnswer<CodeAnswer>>(CodeAnswer::None);
  auto dialog = std::make_shared<QPointer<QMessageBox>>();
  // The peer said 不同 or left, or the time ran out: the question goes without an answer.
  handle.setCloseHook([this, answer, dialog] {
    answer->give(CodeAnswer::None);
    post([dialog] {
      if (*dialog) (*dialog)->close();
    });
  });
  const CodeAnswer result = await<CodeAnswer>(answer, [this, answer, dialog, comparison] {
    QMessageBox* box = createCodeDialog(comparison);
    *dialog = box;
    QObject::connect(box, &QMessageBox::finished, box,
                     [answer, box] { answer->give(codeDialogAnswer(*box)); });
    own(box);
    box->show();
    box->raise();
  });
  handle.clearCloseHook();
  return result;
}

PromptAnswer QtFrontend::showPrompt(PromptHandle& handle, const PromptRequest& request) {
  auto answer = std::make_shared<PendingAnswer<PromptAnswer>>(PromptAnswer::None);
  // Touched on the GUI thread only: by the window's creation and by the close below.
  auto window = std::make_shared<QPointer<PromptWindow>>();
  // The hook may run on any thread, even after this call returned and the window is gone.
  handle.setCloseHook([this, answer, window] {
    answer->give(PromptAnswer::None);
    post([window] {
      if (*window) (*window)->closeFromOutside();
    });
  });
  // The window shows what it can: a stranger's offer may list thousands of long lines.
  PromptRequest shown = request;
  shown.text = shownPromptText(request.text);
  const bool peerOffer = request.kind != PromptKind::OwnOfferWaiting;
  const PromptAnswer result =
      await<PromptAnswer>(answer, [this, answer, window, peerOffer, request = std::move(shown)] {
        auto open = [this, answer, window, peerOffer, request] {
          auto* prompt = new PromptWindow(request);
          *window = prompt;
          QObject::connect(prompt, &PromptWindow::answered, prompt,
                           [answer, kind = request.kind](int id) {
                             answer->give(promptAnswerForButton(kind, id - kIdFirstButton));
                           });
          if (peerOffer) {
            ++openOfferPrompts_;
            QObject::connect(prompt, &QObject::destroyed, this, [this] {
              --openOfferPrompts_;
              showHeldPrompts();
            });
          }
          own(prompt);
          placeCascaded(prompt);
          prompt->show();
          attention_.call(prompt, fromEngineText(request.line), fromEngineText(request.text),
                          offerActions(prompt, request));
          prompt->raise();
          prompt->activateWindow();
        };
        if (!peerOffer || (openOfferPrompts_ < kMaxOpenOfferPrompts && heldPrompts_.empty())) {
          open();
          return;
        }
        if (heldPrompts_.empty()) {
          Q_EMIT logAppended(
              QStringLiteral("（对方的文件发送请求太多，其余的请求在前面的请求回答后依次显示）\n"),
              kNoteColour);
        }
        heldPrompts_.push_back(HeldPrompt{answer, std::move(open)});
      });
  handle.clearCloseHook();
  return result;
}

void QtFrontend::showHeldPrompts() {
  while (!heldPrompts_.empty() && openOfferPrompts_ < kMaxOpenOfferPrompts && !shuttingDown()) {
    HeldPrompt next = std::move(heldPrompts_.front());
    heldPrompts_.pop_front();
    // One that was closed from outside meanwhile (the peer cancelled) never shows.
    if (!next.answer->given()) next.open();
  }
}

// --- Dialogs

std::vector<std::filesystem::path> QtFrontend::chooseFilesToOffer() {
  return askOnGuiThread<std::vector<std::filesystem::path>>({}, [this] {
    std::vector<std::filesystem::path> paths;
    for (const QString& name : QFileDialog::getOpenFileNames(dialogOwner())) {
      paths.push_back(toPath(name));
    }
    return paths;
  });
}

// The files dialog picks no folders; this one picks several in one go.
std::vector<std::filesystem::path> QtFrontend::chooseFoldersToOffer() {
  return askOnGuiThread<std::vector<std::filesystem::path>>({}, [this] {
    QFileDialog dialog(dialogOwner());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Only the program's own dialog lets the person pick more than one folder.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    for (auto* view : dialog.findChildren<QAbstractItemView*>()) {
      view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    std::vector<std::filesystem::path> paths;
    if (dialog.exec() != QDialog::Accepted) return paths;
    for (const QString& name : dialog.selectedFiles()) paths.push_back(toPath(name));
    return paths;
  });
}

std::optional<std::filesystem::path> QtFrontend::chooseSaveFile(const std::string& suggestedName,
                                                                const std::string& defaultSuffix) {
  return askOnGuiThread<std::optional<std::filesystem::path>>(
      std::nullopt, [this, suggestedName, defaultSuffix] {
        return chooseSaveLocation(
            [&](const QString& startFolder) {
              QFileDialog dialog(dialogOwner());
              dialog.setAcceptMode(QFileDialog::AcceptSave);
              dialog.setFileMode(QFileDialog::AnyFile);
              // An existing file is the transfer's business: it asks whether to resume,
              // overwrite or skip it.
              dialog.setOption(QFileDialog::DontConfirmOverwrite);
              dialog.setDefaultSuffix(QString::fromStdString(defaultSuffix));
              if (!startFolder.isEmpty()) dialog.setDirectory(startFolder);
              dialog.selectFile(QString::fromStdString(suggestedName));
              if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
                return QString();
              }
              return dialog.selectedFiles().constFirst();
            },
            false);
      });
}

std::optional<std::filesystem::path> QtFrontend::chooseResumeFile(
    const std::string& /*suggestedName*/) {
  return askOnGuiThread<std::optional<std::filesystem::path>>(std::nullopt, [this] {
    return chooseSaveLocation(
        [this](const QString& startFolder) {
          return QFileDialog::getOpenFileName(dialogOwner(), QString(), startFolder);
        },
        false);
  });
}

std::optional<std::filesystem::path> QtFrontend::chooseFolder() {
  return askOnGuiThread<std::optional<std::filesystem::path>>(std::nullopt, [this] {
    return chooseSaveLocation(
        [this](const QString& startFolder) {
          return QFileDialog::getExistingDirectory(dialogOwner(), QString(), startFolder);
        },
        true);
  });
}

FileExistsReply QtFrontend::askFileExists(const std::filesystem::path& path) {
  auto answer = std::make_shared<PendingAnswer<FileExistsReply>>(FileExistsReply{});
  const std::string question = "文件已经存在：" + path.string() + "\r\n你要：";
  return await<FileExistsReply>(answer, [this, answer, text = fromEngineText(question)] {
    auto* dialog = new FileExistsDialog(text);
    QObject::connect(dialog, &FileExistsDialog::answered, dialog,
                     [answer](int id, bool alwaysTicked) {
                       answer->give(FileExistsReply{fileExistsAnswerOf(id), alwaysTicked});
                     });
    own(dialog);
    placeCascaded(dialog);
    dialog->show();
    attention_.call(dialog, dialog->windowTitle(), text);
    dialog->raise();
    dialog->activateWindow();
  });
}

// --- Transfer windows

TransferWindowId QtFrontend::openTransferWindow(const TransferWindowSetup& setup) {
  auto answer = std::make_shared<PendingAnswer<TransferWindowId>>(0);
  return await<TransferWindowId>(answer, [this, answer, setup] {
    auto* window = new TransferWindow(setup);
    const TransferWindowId id = ++lastTransferWindow_;
    transferWindows_[id] = window;
    QObject::connect(window, &QObject::destroyed, this, [this, id] {
      transferWindows_.erase(id);
      Q_EMIT runningTransfersChanged(runningTransfers());
    });
    own(window);
    placeCascaded(window);
    window->show();
    answer->give(id);
    Q_EMIT runningTransfersChanged(runningTransfers());
  });
}

}  // namespace brisk
