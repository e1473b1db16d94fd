#pragma once

#include <QString>

namespace brisk {

// Every control the program addresses by number carries the object name "control" + its
// number ("control3" is the address box, "control1001" the first button of a prompt), so
// that code and tests find it with findChild. Controls without a number get a plain name.
inline QString controlName(int id) {
  return QStringLiteral("control%1").arg(id);
}

// Main window.
inline constexpr int kIdAddressBox = 3;
inline constexpr int kIdPortBox = 4;
inline constexpr int kIdChatLog = 5;
inline constexpr int kIdInputBox = 6;
inline constexpr int kIdListen = 7;
inline constexpr int kIdConnect = 8;
inline constexpr int kIdDisconnect = 9;
inline constexpr int kIdSend = 10;
inline constexpr int kIdSendFile = 11;
inline const QString kStatusLabelName = QStringLiteral("statusLabel");

// Main context menu.
inline constexpr int kCmdStayOnTop = 70;
inline constexpr int kCmdHelp = 71;
inline constexpr int kCmdAbout = 72;
// The main context menu's discovery entries.
inline constexpr int kCmdAnnounce = 73;
inline constexpr int kCmdShowFound = 74;
inline constexpr int kCmdDisplayName = 75;
// The main context menu's entries for sending folders, the login and the tray.
inline constexpr int kCmdSendFolder = 76;
inline constexpr int kCmdAutostart = 77;
inline constexpr int kCmdCloseToTray = 78;
// The main context menu's entries for encrypted sessions.
inline constexpr int kCmdTrustedComputers = 79;
inline constexpr int kCmdEncryptedOnly = 80;

// Edit menu of the chat log and the input box.
inline constexpr int kCmdCopy = 3031;
inline constexpr int kCmdCut = 3032;
inline constexpr int kCmdPaste = 3033;
inline constexpr int kCmdSelectAll = 3034;
inline constexpr int kCmdUndo = 3035;
inline constexpr int kCmdRedo = 3036;

// Prompt window and file-exists dialog.
inline constexpr int kIdPromptText = 50;
inline constexpr int kIdFirstButton = 1001;
inline constexpr int kIdAlwaysBox = 1005;

// Transfer window.
inline constexpr int ID_FILENAME = 30;
inline constexpr int kIdFileSize = 32;
inline constexpr int kIdFileDone = 34;
inline constexpr int kIdSpeed = 36;
inline constexpr int kIdElapsed = 38;
inline constexpr int kIdFileBar = 40;
inline constexpr int kIdTotalBar = 41;
inline constexpr int kIdStatus = 42;
inline constexpr int kIdAutoCloseBox = 43;
inline constexpr int kIdStopButton = 46;

}  // namespace brisk
