#include "transfer/transfer_session.h"

#include <algorithm>

#include "common/diagnostics.h"
#include "platform/text_codec.h"
#include "transfer/data_records.h"

namespace brisk {

void TransferSession::notice(const std::string& text) const {
  if (!channel.stopRequested()) context.notices.showNotice(text);
}

void TransferSession::joinedNotice(const std::string& first, const std::string& second) const {
  if (!channel.stopRequested()) context.notices.showJoinedNotice(first, second);
}

void TransferSession::errorNotice(const std::string& text, int code) const {
  if (!channel.stopRequested()) context.notices.showErrorNotice(text, code);
}

void TransferSession::channelNotice(const std::string& place, DataChannel::Status status) const {
  // A peer that stops the transfer closes its end of the connection: its STOP, on the
  // control connection, may arrive just after.
  if (status != DataChannel::Status::TimedOut && channel.stopFollows()) return;
  record.noteCause(TransferCause::ConnectionLost);
  if (status == DataChannel::Status::Closed) {
    errorNotice(kRecvZeroBytes, 0);
  } else if (status == DataChannel::Status::TimedOut || channel.timedOutAfter()) {
    idleNotice();
  } else {
    failureNotice(place);
  }
}

void TransferSession::failureNotice(const std::string& place) const {
  // An encrypted connection tells why in its own words: a record changed on the way says
  // more than the error number it is reported with.
  const std::string why = channel.failureText();
  if (why.empty()) {
    errorNotice(place, channel.error());
  } else {
    notice(place + (place.ends_with("\r\n") ? "" : "\r\n") + why);
  }
}

void TransferSession::sendNotice(const std::string& place) const {
  if (!channel.stopRequested()) record.noteCause(TransferCause::ConnectionLost);
  if (channel.timedOutAfter()) {
    idleNotice();
  } else {
    failureNotice(place);
  }
}

void TransferSession::idleNotice() const {
  record.noteCause(TransferCause::ConnectionLost);
  const auto limit = channel.timedOutAfter().value_or(context.timing.idleDataLimit).count();
  const std::string span =
      limit % 1000 == 0 ? std::to_string(limit / 1000) + "秒" : std::to_string(limit) + "毫秒";
  notice("传送文件连接中断：\r\n对方已经" + span + "没有任何动静，传送已中止。");
}

void TransferSession::showRefusal(std::string_view answer) const {
  const std::string_view text = recordText(answer);
  const bool stopped = text.find(kStoppedKey) != std::string_view::npos;
  record.noteCause(stopped ? TransferCause::StoppedByPeer : TransferCause::PeerFailed);
  if (text.find(kCreateFileFailedKey) != std::string_view::npos) {
    notice("对方创建打开文件失败。");
  } else if (stopped) {
    notice("对方已终止文件传输。");
  } else {
    joinedNotice(fromWire(text.substr(std::min<std::size_t>(2, text.size()))), "对方");
  }
}

bool TransferSession::skipUnreadable(const std::filesystem::path& fullPath, int error,
                                     std::string& line) const {
  line.clear();
  if (channel.stopRequested()) return false;
  std::string text = kCreateFileFailedLine + fullPath.string();
  appendErrorText(error, text);
  if (context.frontend.askYesNo("本地打开文件失败：\r\n" + text.substr(2) +
                                "\r\n\r\n您要忽略跳过此文件以继续吗？")) {
    return true;
  }
  record.noteCause(TransferCause::LocalDisk);
  line = std::move(text);
  return false;
}

void TransferSession::showFileName(const std::filesystem::path& path) const {
  if (record.window != 0) context.frontend.setTransferFileName(record.window, path.string());
}

void TransferSession::showResumed(std::uint64_t offset) const {
  if (record.window != 0) context.frontend.showTransferResumed(record.window, offset);
}

}  // namespace brisk
