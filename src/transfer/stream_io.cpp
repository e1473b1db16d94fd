#include "transfer/stream_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/diagnostics.h"
#include "platform/text_codec.h"
#include "transfer/data_records.h"

namespace brisk {

namespace {

constexpr char kStreamSendPlace[] = "send failed.stream";
constexpr char kStreamReceivePlace[] = "recv failed.stream";

// The start of bytes that are not a frame, readable in a notice whatever they hold.
std::string shownBytes(std::string_view bytes) {
  std::string shown;
  for (const char c : bytes.substr(0, 16)) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte >= 0x20 && byte < 0x7F ? c : '.';
  }
  return shown;
}

}  // namespace

bool StreamIo::send(FrameKind kind, std::string_view payload) {
  queued_ += frameBytes(kind, payload);
  return flush();
}

bool StreamIo::queue(FrameKind kind, std::string_view payload) {
  queued_ += frameBytes(kind, payload);
  return queued_.size() < kQueueLimit || flush();
}

bool StreamIo::queueContents(std::string_view bytes) {
  queued_ += bytes;
  return queued_.size() < kQueueLimit || flush();
}

bool StreamIo::flush() {
  if (queued_.empty()) return true;
  const bool sent = session_.channel.send(queued_);
  queued_.clear();
  if (!sent) session_.sendNotice(kStreamSendPlace);
  return sent;
}

std::optional<Frame> StreamIo::read(std::chrono::milliseconds limit) {
  // The peer may be waiting for what is queued before it answers.
  if (!flush()) return std::nullopt;
  std::string raw;
  const DataChannel::Status status =
      session_.channel.readMessage(completeFrameLength, kMaxFrameSize, raw, limit);
  if (status != DataChannel::Status::Ok) {
    session_.channelNotice(kStreamReceivePlace, status);
    return std::nullopt;
  }
  std::optional<Frame> frame = parseFrame(raw);
  if (!frame) giveUp(kMalformedLine + shownBytes(raw));
  return frame;
}

void StreamIo::giveUp(const std::string& line, const std::string& localPrefix) {
  queued_ += frameBytes(FrameKind::Abort, toWire(line));
  const bool sent = session_.channel.send(queued_);
  queued_.clear();
  if (!sent) {
    session_.sendNotice(kStreamSendPlace);
  }
  if (localPrefix.empty()) {
    session_.notice(line.substr(2));
  } else {
    session_.joinedNotice(localPrefix, line.substr(2));
  }
}

void StreamIo::refuseUnexpected(const Frame& frame) {
  if (frame.kind == FrameKind::Abort) {
    showPeerAbort(frame.payload);
    return;
  }
  giveUp(kMalformedLine + std::string(1, static_cast<char>(frame.kind)));
}

void StreamIo::showPeerAbort(std::string_view line) const {
  if (session_.record.isSender) {
    session_.showRefusal(line);
    return;
  }
  // The sending side has shown its own failure; only what the person here can act on is
  // repeated.
  session_.record.noteCause(TransferCause::PeerFailed);
  const std::string_view text = recordText(line);
  if (text.find(kCreateFileFailedKey) == std::string_view::npos) return;
  session_.joinedNotice("对方打开文件失败：",
                        fromWire(text.substr(std::min<std::size_t>(2, text.size()))));
}

void StreamIo::showFileProblem(FileProblem problem, const std::filesystem::path& path) const {
  std::string text;
  switch (problem) {
    case FileProblem::None:
      return;
    case FileProblem::Changed:
      text = "文件在发送过程中被改动了，没有传送成功：\r\n";
      break;
    case FileProblem::Unreadable:
      text = "发送方读取文件失败，文件没有传送：\r\n";
      break;
    case FileProblem::Mismatch:
      text = "文件校验失败，收到的内容与发送的内容不同：\r\n";
      break;
    case FileProblem::Unwritable:
      text = "文件没有完整写入接收方的磁盘：\r\n";
      break;
  }
  session_.notice(text + path.string());
}

std::filesystem::path manifestPathOf(const std::vector<ManifestEntry>& entries,
                                     std::uint32_t file) {
  std::vector<std::string> folders;
  std::uint32_t seen = 0;
  for (const ManifestEntry& entry : entries) {
    switch (entry.kind) {
      case ManifestEntry::Kind::Folder:
        folders.push_back(fromWire(entry.wireName));
        break;
      case ManifestEntry::Kind::Upward:
        if (!folders.empty()) folders.pop_back();
        break;
      case ManifestEntry::Kind::File:
        if (seen++ != file) break;
        std::filesystem::path path;
        for (const std::string& folder : folders) path /= folder;
        return path / fromWire(entry.wireName);
    }
  }
  return {};
}

long long readRange(int fd, std::uint64_t offset, std::uint64_t length, std::string& into) {
  into.assign(length, '\0');
  std::uint64_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pread(fd, into.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  return static_cast<long long>(done);
}

ContentKey contentKeyOf(const DataChannel& channel) {
  ContentKey key{};
  const auto secret = channel.sessionSecret("EXPORTER-brisk-content-check", key.size());
  if (secret && secret->size() == key.size())
    std::copy(secret->begin(), secret->end(), key.begin());
  return key;
}

std::string notTheStartText(const std::filesystem::path& path) {
  return "已有的文件不是这个文件的开头，从头重新传送：\r\n" + path.string();
}

}  // namespace brisk
