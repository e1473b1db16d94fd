#include "transfer/transfer_session.h"

#include "common/diagnostics.h"

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
  if (status == DataChannel::Status::Closed) {
    errorNotice(kRecvZeroBytes, 0);
  } else {
    errorNotice(place, channel.error());
  }
}

void TransferSession::showFileName(const std::filesystem::path& path) const {
  if (record.window != 0) context.frontend.setTransferFileName(record.window, path.string());
}

}  // namespace brisk
