#include "link/control_framer.h"

#include <algorithm>

#include "link/wire_keys.h"

namespace brisk {

namespace {

constexpr std::size_t npos = std::string::npos;

bool isPrefixOfMarker(std::string_view text) {
  return text.size() < kControlMarker.size() && kControlMarker.substr(0, text.size()) == text;
}

// The first line start after `text`'s beginning where a control message begins, or could
// begin once more bytes arrive (`orMayBegin`); npos when there is none.
std::size_t nextControlStart(std::string_view text, bool orMayBegin = true) {
  for (std::size_t at = text.find('\n'); at != npos; at = text.find('\n', at + 1)) {
    const std::string_view rest = text.substr(at + 1);
    if (rest.empty()) return npos;
    if (rest.starts_with(kControlMarker) || (orMayBegin && isPrefixOfMarker(rest))) return at + 1;
  }
  return npos;
}

// Where an offer (ASK) that starts `text` ends, or npos while it is incomplete.
std::size_t offerEnd(std::string_view text, std::size_t headerEnd) {
  const std::size_t bodyStart = headerEnd + 2;
  const std::size_t totals = text.find(kTotalsMarker, headerEnd);
  if (totals != npos) {
    const std::size_t sizeKey = text.find(kFileSizeKey, totals);
    if (sizeKey == npos) return npos;
    const std::size_t lineEnd = text.find("\r\n", sizeKey);
    return lineEnd == npos ? npos : lineEnd + 2;
  }
  // Without totals only a single file is complete: its one item line is the whole body.
  const std::size_t firstLineEnd = text.find("\r\n", bodyStart);
  if (firstLineEnd == npos) return npos;
  const std::string_view firstLine = text.substr(bodyStart, firstLineEnd - bodyStart);
  if (firstLine.find(kOfferFolderMarker) != npos) return npos;  // a folder's totals must follow
  const std::string_view rest = text.substr(firstLineEnd + 2);
  if (rest.empty() || rest.starts_with(kControlMarker)) return firstLineEnd + 2;
  // Every item line names an item and its size, separated by a tab: a line without one is
  // chat that followed the offer at once.
  const std::size_t nextLineEnd = rest.find("\r\n");
  if (nextLineEnd == npos) return npos;
  if (rest.substr(0, nextLineEnd).find('\t') == npos) return firstLineEnd + 2;
  return npos;  // more item lines: several items, whose totals must follow
}

// Where a control message that starts `text` ends, or npos while it is incomplete.
std::size_t controlMessageEnd(std::string_view text) {
  const std::size_t headerEnd = text.find("\r\n");
  if (headerEnd == npos) return npos;
  if (!text.starts_with(kAskMessage)) return headerEnd + 2;
  // Each message is sent whole, so the next one that has begun ends an offer still missing
  // its totals; its own totals are never looked for in the messages after it.
  const std::size_t next = nextControlStart(text, false);
  const std::size_t end = offerEnd(text.substr(0, next), headerEnd);
  return end == npos ? next : end;
}

}  // namespace

std::vector<ControlFramer::Piece> ControlFramer::feed(std::string_view bytes) {
  buffer_.append(bytes);
  return take(false);
}

std::vector<ControlFramer::Piece> ControlFramer::flush() {
  return take(true);
}

std::vector<ControlFramer::Piece> ControlFramer::take(bool force) {
  std::vector<Piece> pieces;
  while (!buffer_.empty()) {
    const std::string_view text = buffer_;
    std::size_t end = npos;
    bool isControl = false;
    if (atLineStart_ && text.starts_with(kControlMarker)) {
      isControl = true;
      end = controlMessageEnd(text);
      if (end == npos && (force || text.size() >= kMaxHeldBytes)) {
        // Given up on: the message ends where the next one begins, which is not lost.
        end = std::min(nextControlStart(text), text.size());
      }
    } else if (atLineStart_ && isPrefixOfMarker(text)) {
      if (force) end = text.size();  // the start of a message that never came: chat
    } else {
      const std::size_t next = nextControlStart(text);
      end = next == npos ? text.size() : next;
    }
    if (end == npos) break;
    pieces.push_back(Piece{std::string(text.substr(0, end)), isControl});
    atLineStart_ = text[end - 1] == '\n';
    buffer_.erase(0, end);
  }
  return pieces;
}

}  // namespace brisk
