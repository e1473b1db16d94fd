#pragma once

#include <memory>

#include <QWidget>

#include "common/frontend.h"
#include "common/settings_store.h"
#include "discovery/discovery_backend.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brisk {

class AddressList;
class ChatLog;
class InputBox;
class Peer;
class ProgramEnd;
class QtFrontend;

// The program's one main window (class FileTransferWnd): address and port boxes, Listen,
// Connect and Disconnect with the status label in place of the first two while a link is
// made or up, the chat log, the input box, Send and Send file. It restores and saves its
// size and states through the settings store, drives the Peer with its commands and shows
// what the QtFrontend's signals report. GUI thread only.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Reads the stored size, creates the controls, loads the connection settings and writes
  // this machine's address into the chat log. The window is shown by start(). With a
  // discovery backend the address box lists the computers found on the local network and
  // this one is announced while it listens. Closing the window runs `end`, which withdraws
  // that announcement first.
  MainWindow(Peer& peer, QtFrontend& frontend, ProgramEnd& end,
             std::unique_ptr<DiscoveryBackend> discovery = nullptr);
  ~MainWindow() override;

  // Shows the window, maximised if it was left so, and restores stay-on-top. With
  // `hidden`, while a tray shows the program, the window stays in the tray instead.
  void start(bool hidden = false);

  // A tray icon shows the program (or no longer does): only then can the window hide
  // in it instead of closing.
  void setTrayShown(bool shown);
  bool closesToTray() const { return trayShown_ && closeToTray_; }
  // Shows the window where it was and brings it to the front.
  void showFromOutside();
  // Ends the program as the close box does when the window does not hide in the tray:
  // asking first about running transfers.
  void quit();

  // The window's commands: the buttons (7 to 11) and the main context menu (70 to 80).
  void command(int id);

  // The store the window loads and saves its settings with; GUI thread.
  const SettingsStore& settingsStore() const { return store_; }

  bool stayOnTop() const { return stayOnTop_; }
  void setStayOnTop(bool on);

  // Closes the window as its close box does, but without asking about running transfers:
  // for a termination signal or the end of the desktop session.
  void closeWithoutAsking();

 Q_SIGNALS:
  // The window has saved its state and the program's end has run; the program may end.
  void closed();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void createControls();
  void setKeyboardOrder();
  bool confirmClose();
  void layoutControls(QSize client);
  void sendChatLine();
  void showHelp();
  void showAbout();
  void showTrustedComputers();

  // What the engine reports, connected to the QtFrontend's signals.
  void appendLog(const QString& text, const QColor& colour);
  void showLinkState(LinkState state);
  // The port listens: the computer is announced until the next state.
  void showPortListening();
  void setAddressText(const QString& text);
  void bringToFront();

  Peer& peer_;
  QtFrontend& frontend_;
  ProgramEnd& end_;
  const SettingsStore store_;
  // The outer size the window was given at its start, frame included.
  QSize startSize_;
  bool stayOnTop_ = false;
  bool closed_ = false;
  bool askBeforeClosing_ = true;
  bool trayShown_ = false;
  bool closeToTray_ = false;
  bool quitting_ = false;

  QComboBox* addressBox_ = nullptr;
  QLineEdit* portBox_ = nullptr;
  ChatLog* chatLog_ = nullptr;
  InputBox* inputBox_ = nullptr;
  QPushButton* listenButton_ = nullptr;
  QPushButton* connectButton_ = nullptr;
  QPushButton* disconnectButton_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* sendFileButton_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  AddressList* addressList_ = nullptr;
};

}  // namespace brisk
