#include "ui/main_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QValidator>

#include "common/discovery_settings.h"
#include "link/link_boxes.h"
#include "link/peer.h"
#include "link/program_end.h"
#include "secure/private_file.h"
#include "secure/trusted_prefixes.h"
#include "ui/address_list.h"
#include "ui/autostart.h"
#include "ui/chat_log.h"
#include "ui/control_ids.h"
#include "ui/control_placement.h"
#include "ui/font_and_background.h"
#include "ui/help_dialogs.h"
#include "ui/input_box.h"
#include "ui/main_menu.h"
#include "ui/main_window_settings.h"
#include "ui/notice_box.h"
#include "ui/outer_size.h"
#include "ui/qt_frontend.h"
#include "ui/trusted_computers.h"

namespace brisk {

namespace {

constexpr QSize kMinimumClientSize(370, 250);

// The port box takes no more text than it can show: typing stops when the box is full.
class FitsBoxValidator : public QValidator {
 public:
  explicit FitsBoxValidator(QLineEdit* box) : QValidator(box), box_(box) {}

  State validate(QString& input, int&) const override {
    const QMargins margins = box_->textMargins();
    // The frame and the line edit's own inner margin take a few pixels on each side.
    const int room = box_->width() - margins.left() - margins.right() - 8;
    return box_->fontMetrics().horizontalAdvance(input) <= room ? Acceptable : Invalid;
  }

 private:
  QLineEdit* box_;
};

// While the address box still holds its first text, which only says what goes there,
// taking the focus selects it whole: typing replaces it instead of adding to it.
class FirstTextSelector : public QObject {
 public:
  // The combo box takes the focus for its line edit.
  explicit FirstTextSelector(QComboBox* combo)
      : QObject(combo), combo_(combo), box_(combo->lineEdit()) {
    combo->installEventFilter(this);
    box_->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if ((watched == combo_ || watched == box_) && event->type() == QEvent::FocusIn &&
        box_->text() == QString::fromUtf8(kDefaultPeerAddress)) {
      // After the click that gave the focus has placed the cursor.
      QTimer::singleShot(0, box_, [box = box_] {
        if (box->text() == QString::fromUtf8(kDefaultPeerAddress)) box->selectAll();
      });
    }
    return false;
  }

 private:
  QComboBox* combo_;
  QLineEdit* box_;
};

QPushButton* makeButton(QWidget* parent, int id, const QString& text, const QRect& rect) {
  auto* button = new QPushButton(text, parent);
  placeControl(button, id, rect);
  button->setAutoDefault(false);
  return button;
}

// What this computer's announcement hints at: the encrypted port and the fingerprint's
// first digits, only while encrypted sessions are taken.
PeerHints announcedHints(const Peer& peer) {
  const std::shared_ptr<const SecureSetup> setup = peer.secureSetup();
  if (!setup || setup->plainOnly || !setup->identity) return {};
  return PeerHints{encryptedPortFor(peer.controlPort()),
                   setup->identity->fingerprint().shortText()};
}

// The computers on the network that announce the fingerprint prefix of a peer in the trust
// store; none without encrypted sessions.
PeerList::VerifiedTestSource verifiedComputers(const std::shared_ptr<const SecureSetup>& setup) {
  if (!setup || !setup->trust) return {};
  auto prefixes = std::make_shared<TrustedPrefixes>(setup->trust);
  return verifiedByPrefix([prefixes] { return prefixes->current(); });
}

}  // namespace

MainWindow::MainWindow(Peer& peer, QtFrontend& frontend, ProgramEnd& end,
                       std::unique_ptr<DiscoveryBackend> discovery)
    : peer_(peer), frontend_(frontend), end_(end), store_(peer.notices()) {
  const WindowPlacement placement = readWindowPlacement(store_);
  setObjectName(QStringLiteral("FileTransferWnd"));
  setWindowTitle(QStringLiteral("File Transfer   "));
  applyFontAndBackground(this);
  frontend_.attachMainWindow(this, store_);
  createControls();
  setKeyboardOrder();
  // Below this client size the fixed top row and the moving bottom row would overlap, and
  // the chat log would have no room for a line.
  setMinimumSize(kMinimumClientSize);
  startSize_ = placement.outerSize;
  setOuterSize(this, startSize_, false);
  if (placement.zoomed) setWindowState(Qt::WindowMaximized);

  const ConnectionSettings settings = loadConnectionSettings(store_);
  peer_.setAutoClose(settings.autoClose);
  peer_.setEncryptedOnly(loadEncryptedOnly(store_));
  closeToTray_ = readCloseToTray(store_);
  addressBox_->setEditText(QString::fromStdString(settings.peerAddress));
  portBox_->setText(QString::number(settings.port));
  addressList_ = new AddressList(addressBox_, portBox_, store_, std::move(discovery),
                                 verifiedComputers(peer_.secureSetup()));
  // Whoever ends the program, the window may already be gone by then.
  end_.addFirstStep([list = QPointer<AddressList>(addressList_)] {
    if (list) list->shutdown();
  });

  connect(&frontend_, &QtFrontend::logAppended, this, &MainWindow::appendLog);
  connect(&frontend_, &QtFrontend::linkStateChanged, this, &MainWindow::showLinkState);
  connect(&frontend_, &QtFrontend::portListening, this, &MainWindow::showPortListening);
  connect(&frontend_, &QtFrontend::addressTextChanged, this, &MainWindow::setAddressText);
  connect(&frontend_, &QtFrontend::frontRequested, this, &MainWindow::bringToFront);
  peer_.logLocalAddress();
}

MainWindow::~MainWindow() = default;

void MainWindow::createControls() {
  addressBox_ = new QComboBox(this);
  addressBox_->setEditable(true);
  // The peer's address is typed or chosen from the computers found on the network;
  // nothing typed is added to the list.
  addressBox_->setInsertPolicy(QComboBox::NoInsert);
  placeControl(addressBox_, kIdAddressBox, QRect(20, 15, 310, 25));
  nameControl(addressBox_, QStringLiteral("对方地址"),
              QStringLiteral("对方的IP地址或计算机名，也可从列表中选择局域网中找到的计算机"));
  nameControl(addressBox_->lineEdit(), QStringLiteral("对方地址"), QString());
  new FirstTextSelector(addressBox_);

  portBox_ = new QLineEdit(this);
  placeControl(portBox_, kIdPortBox, QRect(20, 50, 70, 25));
  portBox_->setValidator(new FitsBoxValidator(portBox_));
  nameControl(portBox_, QStringLiteral("端口"), QStringLiteral("连接和监听所用的端口，1到65535"));

  chatLog_ = new ChatLog(this);
  placeControl(chatLog_, kIdChatLog, QRect(10, 90, 320, 100));
  nameControl(chatLog_, QStringLiteral("聊天记录"), QStringLiteral("收到和发出的消息及连接状态"));

  inputBox_ = new InputBox(this);
  placeControl(inputBox_, kIdInputBox, QRect(10, 200, 320, 50));
  nameControl(inputBox_, QStringLiteral("输入框"),
              QStringLiteral("要发送的消息，Ctrl+Enter 发送；拖放到这里的文件和文件夹发送给对方"));
  inputBox_->setDropHandler(
      [this](const std::vector<std::filesystem::path>& paths) { peer_.offerFiles(paths); });
  connect(inputBox_, &InputBox::sendRequested, this, [this] { command(kIdSend); });

  listenButton_ = makeButton(this, kIdListen, QStringLiteral("监听"), QRect(110, 50, 80, 30));
  connectButton_ = makeButton(this, kIdConnect, QStringLiteral("连接"), QRect(210, 50, 80, 30));
  disconnectButton_ =
      makeButton(this, kIdDisconnect, QStringLiteral("取消"), QRect(310, 50, 50, 30));
  sendButton_ = makeButton(this, kIdSend, QStringLiteral("发送"), QRect(40, 255, 80, 30));
  sendFileButton_ =
      makeButton(this, kIdSendFile, QStringLiteral("发送文件"), QRect(240, 255, 80, 30));

  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(kStatusLabelName);
  statusLabel_->setGeometry(110, 55, 180, 25);
  statusLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  statusLabel_->hide();

  for (auto [button, id] : {std::pair{listenButton_, kIdListen},
                            {connectButton_, kIdConnect},
                            {disconnectButton_, kIdDisconnect},
                            {sendButton_, kIdSend},
                            {sendFileButton_, kIdSendFile}}) {
    connect(button, &QPushButton::clicked, this, [this, id = id] { command(id); });
  }
}

// Tab goes through the controls in the order a person uses them: whom to reach, how, then
// what to say. The chat log comes last; it is only read.
void MainWindow::setKeyboardOrder() {
  const QList<QWidget*> order = {addressBox_,    portBox_,          listenButton_,
                                 connectButton_, disconnectButton_, inputBox_,
                                 sendButton_,    sendFileButton_,   chatLog_};
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

// The bottom row and the two text areas follow the window's size; the top row stays.
void MainWindow::layoutControls(QSize client) {
  const int w = client.width();
  const int h = client.height();
  // Below the smallest sensible size the rule would give negative sizes; they become 0.
  const auto size = [](int value) { return std::max(value, 0); };
  sendButton_->setGeometry(w / 100 + 40, h - 35, 80, 30);
  sendFileButton_->setGeometry(w / 100 + 240, h - 35, 80, 30);
  inputBox_->setGeometry(10, h - 110, size(w - 20), 65);
  chatLog_->setGeometry(10, 90, size(w - 20), size(h - 210));
  addressBox_->setGeometry(20, 15, size(w - 40), addressBox_->height());
}

void MainWindow::start(bool hidden) {
  setStayOnTop(readStayOnTop(store_));
  // Without a tray, a window started hidden could not be reached at all.
  if (hidden && trayShown_) return;
  if (windowState() & Qt::WindowMaximized) {
    showMaximized();
  } else {
    show();
  }
}

void MainWindow::setTrayShown(bool shown) {
  trayShown_ = shown;
}

void MainWindow::showFromOutside() {
  if (isMinimized()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
  }
  show();
  raise();
  activateWindow();
}

void MainWindow::quit() {
  quitting_ = true;
  if (!close()) quitting_ = false;
}

void MainWindow::appendLog(const QString& text, const QColor& colour) {
  chatLog_->appendLog(text, colour);
}

void MainWindow::showPortListening() {
  addressList_->setListening(true, peer_.controlPort(), announcedHints(peer_));
}

void MainWindow::showLinkState(LinkState state) {
  const bool idle = state == LinkState::Idle;
  // Listening is shown when Listen is pressed; the announcement waits for the port.
  addressList_->setListening(false, peer_.controlPort());
  // A session may have just verified a peer that is on the list.
  addressList_->recheckVerified();
  listenButton_->setVisible(idle);
  connectButton_->setVisible(idle);
  statusLabel_->setVisible(!idle);
  switch (state) {
    case LinkState::Idle:
      break;
    case LinkState::Listening:
      statusLabel_->setText(QStringLiteral("正在监听..."));
      break;
    case LinkState::Connecting:
      statusLabel_->setText(QStringLiteral("正在连接..."));
      break;
    case LinkState::Connected:
      statusLabel_->setText(QStringLiteral("已连接"));
      break;
  }
  disconnectButton_->setText(state == LinkState::Connected ? QStringLiteral("断开")
                                                           : QStringLiteral("取消"));
}

void MainWindow::setAddressText(const QString& text) {
  addressBox_->setEditText(text);
}

void MainWindow::bringToFront() {
  raise();
  activateWindow();
}

void MainWindow::command(int id) {
  switch (id) {
    case kIdListen:
      if (const auto port = readPortBox(portBox_->text().toStdString(), frontend_)) {
        peer_.listen(*port);
      }
      break;
    case kIdConnect:
      if (const auto target = readLinkBoxes(addressBox_->currentText().toStdString(),
                                            portBox_->text().toStdString(), frontend_)) {
        peer_.connect(target->host, target->port);
      }
      break;
    case kIdDisconnect:
      peer_.disconnect();
      break;
    case kIdSend:
      sendChatLine();
      break;
    case kIdSendFile:
      peer_.offerFromDialog();
      break;
    case kCmdStayOnTop:
      setStayOnTop(!stayOnTop_);
      break;
    case kCmdHelp:
      showHelp();
      break;
    case kCmdAbout:
      showAbout();
      break;
    case kCmdAnnounce:
      addressList_->setAnnouncing(!addressList_->announcing());
      break;
    case kCmdShowFound:
      addressList_->setShowingFound(!addressList_->showingFound());
      break;
    case kCmdDisplayName:
      addressList_->editDisplayName(this);
      break;
    case kCmdSendFolder:
      peer_.offerFoldersFromDialog();
      break;
    case kCmdAutostart:
      if (const QString failed =
              setAutostart(!autostartEnabled(), QCoreApplication::applicationFilePath());
          !failed.isEmpty()) {
        frontend_.showNotice(
            QStringLiteral("无法更改登录时启动：\r\n%1").arg(failed).toStdString());
      }
      break;
    case kCmdEncryptedOnly:
      peer_.setEncryptedOnly(!peer_.encryptedOnly());
      saveEncryptedOnly(store_, peer_.encryptedOnly());
      break;
    case kCmdTrustedComputers:
      showTrustedComputers();
      break;
    case kCmdCloseToTray:
      closeToTray_ = !closeToTray_;
      saveCloseToTray(store_, closeToTray_);
      break;
    default:
      break;
  }
}

void MainWindow::sendChatLine() {
  if (peer_.sendChatLine(inputBox_->chatText()) > 0) inputBox_->clear();
}

void MainWindow::setStayOnTop(bool on) {
  stayOnTop_ = on;
  if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == on) return;
  const bool wasVisible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  // Changing a window's flags may hide it; it comes back where it was.
  if (wasVisible && !isVisible()) show();
}

void MainWindow::showHelp() {
  HelpDialog dialog(this);
  dialog.exec();
}

void MainWindow::showAbout() {
  AboutDialog dialog(this, QString::fromStdString(peer_.ownFingerprint()));
  dialog.exec();
}

void MainWindow::showTrustedComputers() {
  // Without encrypted sessions (no identity) the store beside the settings is still the
  // one brisk-peer keeps, and forgetting or renaming in it still means something.
  std::shared_ptr<TrustStore> store = peer_.trustStore();
  if (!store) store = std::make_shared<TrustStore>(TrustStore::fileIn(settingsFolder()));
  TrustedComputersDialog dialog(std::move(store), this);
  dialog.exec();
  // A computer forgotten or renamed there loses or keeps its mark in the address list now.
  addressList_->recheckVerified();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  // The event may carry a size the window system reported before a later resize of ours
  // was applied; the widget's own size is the one its controls must fit.
  layoutControls(size());
  QWidget::resizeEvent(event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createMainMenu(stayOnTop_, this);
  addressList_->addMenuActions(menu);
  addSecurityMenuActions(menu, peer_.encryptedOnly());
  addDesktopMenuActions(menu, autostartEnabled(), trayShown_, closeToTray_);
  const QAction* chosen = menu->exec(event->globalPos());
  const int id = chosen ? chosen->data().toInt() : 0;
  delete menu;
  if (id != 0) command(id);
}

void MainWindow::closeWithoutAsking() {
  askBeforeClosing_ = false;
  close();
}

// Closing stops every running transfer, so the person is asked first.
bool MainWindow::confirmClose() {
  const int running = frontend_.runningTransfers();
  if (!askBeforeClosing_ || running == 0) return true;
  QMessageBox* box =
      createQuestionBox(QStringLiteral("有 %1 个传送正在进行，确定退出吗？").arg(running));
  box->setDefaultButton(QMessageBox::No);
  return box->exec() == QMessageBox::Yes;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The close box hides the window in the tray when the person chose so; the tray's own
  // quit, a termination signal and the session's end still end the program.
  if (!closed_ && closesToTray() && !quitting_ && askBeforeClosing_) {
    event->ignore();
    hide();
    return;
  }
  if (!closed_ && !confirmClose()) {
    event->ignore();
    return;
  }
  event->accept();
  if (closed_) return;
  closed_ = true;
  saveWindowPlacement(store_, isMaximized(),
                      settledOuterSize(startSize_, frameGeometry().size(), devicePixelRatio()));
  saveStayOnTop(store_, stayOnTop_);
  end_.run();
  saveConnectionSettings(store_, addressBox_->currentText().toStdString(),
                         portBox_->text().toStdString(), peer_.autoClose());
  Q_EMIT closed();
}

}  // namespace brisk
