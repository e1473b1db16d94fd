#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brisk {

// The program's diagnostic texts: the terse ones that name a call, a slot or a place in the
// protocol. People read them out word for word when they report a problem, so each stays
// exactly as it is. A numbered text stands for one place: a new place takes a number not in
// use. Each comment says where the text arises.
//
// "Wire" marks the texts that go to the peer, which may be any program speaking the
// protocol and matches some of them byte for byte: on the data connection as GBK (through
// toWire), in a control message as part of that message. Changing one changes the protocol.

// Starting a transfer.

// The transfer thread was handed no record.
inline constexpr char kPtsfNull[] = "ptsf=NULL";
// The record of a transfer names no folder to send from or save into.
inline constexpr char kPathnameNull[] = "pathname==NULL";
// Wire, data connection: the transfer's folder is a file. The folder's path follows.
inline constexpr char kNotADirectoryLine[] = "| It's not a directory but a file:\r\n";
// Wire, data connection: the transfer's folder is missing. The folder's path follows.
inline constexpr char kPathNotFoundLine[] = "| Cannot find the path specified:\r\n";
// Sending either of the two lines above.
inline constexpr char kSendFailed0[] = "send failed.0";

// Sending side of a transfer.

// Sending the folder record of a folder offered as an item.
inline constexpr char kSendFailed2[] = "send failed.2";
// Receiving the answer to it.
inline constexpr char kRecvFailed1[] = "recv failed.1";
// Sending the folder record of a folder met in a folder's walk; also sending the error line
// of a folder nested deeper than either side goes (kTooDeepLine).
inline constexpr char kSendFailed3[] = "send failed.3";
// Receiving the answer to a folder record met in the walk.
inline constexpr char kRecvFailed2[] = "recv failed.2";
// Sending the error line of a file met in a folder's walk that could not be opened.
inline constexpr char kSendFailed4[] = "send failed.4";
// Sending the header of a file met in a folder's walk.
inline constexpr char kSendFailed5[] = "send failed.5";
// Receiving the answer to it.
inline constexpr char kRecvFailed3[] = "recv failed.3";
// Receiving the acknowledgement after the data of a file met in a folder's walk.
inline constexpr char kRecvFailed4[] = "recv failed.4";
// Sending an upward record (a folder's entries are done).
inline constexpr char kSendFailed6[] = "send failed.6";
// Receiving the answer to it.
inline constexpr char kRecvFailed5[] = "recv failed.5";
// Sending the error line of a file offered as an item that could not be opened.
inline constexpr char kSendFailed7[] = "send failed.7";
// Sending the header of a file offered as an item.
inline constexpr char kSendFailed8[] = "send failed.8";
// Receiving the answer to it.
inline constexpr char kRecvFailed6[] = "recv failed.6";
// Receiving the acknowledgement after the data of a file offered as an item.
inline constexpr char kRecvFailed7[] = "recv failed.7";
// Sending the end record.
inline constexpr char kSendFailed9[] = "send failed.9";
// Sending the error line of a go-ahead from beyond the end of the file (kResumePastEndLine).
inline constexpr char kSendFailed19[] = "send failed.19";
// Reading the attributes of a folder met in the walk; the transfer goes on.
inline constexpr char kGetFileAttributesExFailed2[] = "GetFileAttributesEx failed.2";
// Reading the attributes of a file of the walk that could not be opened either.
inline constexpr char kGetFileAttributesExFailed3[] = "GetFileAttributesEx failed.3";
// The answer to a file header is neither an error line, a skip nor a go-ahead.
inline constexpr char kNoGoAhead[] = "recv no + before file size.";
// The peer closed the data connection where an answer was due.
inline constexpr char kRecvZeroBytes[] = "recv 0 bytes.";
// Reading a file's data to send it failed.
inline constexpr char kReadFileFailed[] = "读取文件失败：\r\nReadFile failed:";

// Receiving side of a transfer.

// Receiving a record.
inline constexpr char kRecvFailed8[] = "recv failed.8";
// Sending the error line of a folder that could not be created or opened, or that is nested
// deeper than either side goes.
inline constexpr char kSendFailed10[] = "send failed.10";
// Sending the acknowledgement of a folder record.
inline constexpr char kSendFailed11[] = "send failed.11";
// Sending the acknowledgement of an upward record.
inline constexpr char kSendFailed12[] = "send failed.12";
// Sending the error line of a malformed record or a refused name.
inline constexpr char kSendFailed13[] = "send failed.13";
// Sending the record that says the file to resume is not there.
inline constexpr char kSendFailed13_5[] = "send failed.13.5";
// Sending the skip record.
inline constexpr char kSendFailed14[] = "send failed.14";
// Sending the stop record.
inline constexpr char kSendFailed15[] = "send failed.15";
// Sending the error line of a file that could not be created or opened.
inline constexpr char kSendFailed16[] = "send failed.16";
// Sending the go-ahead.
inline constexpr char kSendFailed17[] = "send failed.17";
// Sending the acknowledgement after a file's data.
inline constexpr char kSendFailed18[] = "send failed.18";
// Giving a folder or a complete file the sender's times.
inline constexpr char kSetFileTimeFailed[] = "SetFileTime failed.";
// Making a complete file read-only as the sender's was.
inline constexpr char kSetFileAttributesFailed[] = "SetFileAttributes failed.";
// Writing received data to the file failed.
inline constexpr char kWriteFileFailed[] = "写入文件失败：\r\nWriteFile failed:";

// Records and error lines of the data connection. A line beginning "| " ends the transfer;
// the person reads it without those two characters.

// Wire, data connection: the end record, padded to a fixed record; the receiving side
// takes it as the protocol's end.
inline constexpr char kEndText[] = "| Transfer file(s) finished.";
// Wire, data connection: the fixed record that skips an existing file. The misspelling is
// the protocol's.
inline constexpr char kSkipText[] = "- Ingnore and continue.";
// Wire, data connection: the fixed record that stops the transfer at an existing file.
inline constexpr char kStopText[] = "| Stopped transfer file.";
// Wire, data connection: the fixed record of a single-file resumption whose file is not
// there.
inline constexpr char kResumeTargetMissingText[] = "| 要续传的文件不存在";
// Wire, data connection, both sides: a file could not be created or opened. Its path and
// the system's error text follow.
inline constexpr char kCreateFileFailedLine[] = "| CreateFile failed:\r\n";
// Wire, data connection: a received folder could not be created or opened. Its path and
// the system's error text follow.
inline constexpr char kCreateDirectoryFailedLine[] = "| CreateDirectory failed:\r\n";
// Wire, data connection: a received record is malformed or names something that must not
// be created. The record's text follows.
inline constexpr char kMalformedLine[] = "| 接收文件名出错，首字符不是'\\'：\r\n";
// Wire, data connection, both sides: a folder below the deepest nesting either side goes.
// The folder's name follows.
inline constexpr char kTooDeepLine[] = "| 文件夹层数超过256层：\r\n";
// Wire, data connection: the sending side's answer to a go-ahead from beyond the end of the
// file (the peer's copy is longer than the file). The file's name follows.
inline constexpr char kResumePastEndLine[] = "| 续传位置超过了文件的大小：\r\n";
// How a peer's error line is recognised (its wording around these words may differ): a file
// the peer could not open or create, and a transfer the peer stopped.
inline constexpr std::string_view kCreateFileFailedKey = "CreateFile failed";
inline constexpr std::string_view kStoppedKey = "Stopped transfer file";

// The link and the offers.

// Listening for a peer: accept failed (logged, not a notice).
inline constexpr char kAcceptFailed[] = "accept failed.";
// Connecting to a peer: no socket could be made.
inline constexpr char kSocketFailed[] = "socket failed.";
// The control writer could not send a message.
inline constexpr char kSendFailed[] = "send failed.";
// A call of the link or of a data connection failed: socket, bind, listen, connect, accept.
inline std::string callFailed(std::string_view call) {
  return std::string(call) + " failed.";
}
// Looking up this computer's address at start-up failed: gethostname or gethostbyname.
inline std::string localAddressFailed(std::string_view call) {
  return std::string(call) + " failed.\r\n";
}
// The slot tables as they are named in the slot texts.
inline std::string slotText(int index) {
  return "tsf[" + std::to_string(index) + "]";
}
// A REPLY YES for an Index under which the peer's own offer is being asked.
inline std::string slotEmpty5(int index) {
  return slotText(index) + "为空5";
}
// A REPLY NO or failure for an Index without an offer of ours waiting for its answer.
inline std::string slotEmpty6(int index) {
  return slotText(index) + "为空6";
}
// A PORT for an Index without a receiving record waiting for it.
inline std::string slotEmpty7(int index) {
  return slotText(index) + "为空7";
}
// Stop in a transfer window whose record has gone.
inline std::string slotNull2(int index) {
  return slotText(index) + "=NULL2";
}
// A REPLY YES without an offer of ours waiting for it, or a CANCEL without an offer of the
// peer's being asked. "index" is literal: this text carries no number.
inline constexpr char kNoWaitingWindow[] = "tsfwnd[index]==NULL";
// Offering an item whose path names no item (a file system root).
inline constexpr char kStrrchrFailed[] = "strrchr failed";
// Offering an item whose attributes cannot be read. Its path follows.
inline constexpr char kGetFileAttributesExFailedLine[] = "GetFileAttributesEx failed:\r\n";
// Wire, control message: the steps of choosing where to save, named in a failure reply.
inline constexpr char kSaveFileStep[] = "GetSaveFileName";
inline constexpr char kResumeFileStep[] = "GetOpenFileName";
inline constexpr char kFolderStep[] = "SHBrowseForFolder";
// Wire, control message (the reason of a failure reply) and the notice here: choosing
// where to save failed or was closed at `step`.
inline std::string choiceFailed(std::string_view step) {
  return std::string(step) + " failed or closed.";
}
// Wire, control message: the reason of a failure reply to an offer under an Index this
// side uses itself.
inline constexpr char kSlotInUse[] = "Slot in use.";
// Wire, control message: the reason of a failure reply to a single-file offer whose file
// name could not be saved as sent (bytes that are no GBK text, a path separator, a control
// or direction character, or no name at all).
inline constexpr char kInvalidFileName[] = "Invalid file name.";
// Wire, control message: the reason of a failure reply to an offer whose data port,
// named from the control port and the Index, cannot be used.
inline std::string invalidDataPort(std::int64_t named) {
  return "Invalid data port " + std::to_string(named) + ".";
}
// Wire, control message: the reason of a failure reply to an offer that does not fit the
// free space of the save folder's file system. A Brisk peer tells its person so.
inline constexpr char kNotEnoughSpace[] = "Not enough disk space.";

// The settings store.

// Reading a value: it is missing under an existing file, or unreadable.
inline constexpr char kRegOpenKeyExFailed[] = "RegOpenKeyEx failed";
// Writing a value: the settings file may not be written.
inline constexpr char kRegOpenKeyExAccessDenied[] = "RegOpenKeyEx failed.\nAccess denied.";
// Writing a value: the settings folder cannot be made.
inline constexpr char kRegCreateKeyFailed[] = "RegCreateKey failed";
// Writing a value: the settings file cannot be written.
inline constexpr char kRegSetValueExFailed[] = "RegSetValueEx failed";

}  // namespace brisk
