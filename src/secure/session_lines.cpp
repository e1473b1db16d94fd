#include "secure/session_lines.h"

#include <algorithm>
#include <charconv>

namespace brisk {

namespace {

constexpr std::string_view kEnd = "\r\n";
constexpr std::string_view kCommit = "BRISK-COMMIT ";
constexpr std::string_view kReveal = "BRISK-REVEAL ";
constexpr std::string_view kConfirm = "BRISK-CONFIRM";
constexpr std::string_view kDeny = "BRISK-DENY";
constexpr std::string_view kCaps = "BRISK-CAPS ";
constexpr std::string_view kHello = "BRISK-HELLO ";

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool isCapabilityWord(std::string_view word) {
  if (word.empty() || word.size() > kMaxCapabilityBytes || word.front() == '-') return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

SessionLineParse refused(const char* why) {
  SessionLineParse parse;
  parse.error = why;
  return parse;
}

SessionLine lineOf(SessionLineKind kind, const Digest& value = {}) {
  SessionLine line;
  line.kind = kind;
  line.value = value;
  return line;
}

SessionLineParse parsed(SessionLine line) {
  SessionLineParse parse;
  parse.line = std::move(line);
  return parse;
}

SessionLineParse parseCaps(std::string_view rest) {
  SessionLine line;
  line.kind = SessionLineKind::Caps;
  const std::size_t space = rest.find(' ');
  const std::string_view number = rest.substr(0, space);
  const auto [end, ec] =
      std::from_chars(number.data(), number.data() + number.size(), line.version);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size() ||
      number.front() == '0' || line.version > kMaxSessionVersion) {
    return refused("BRISK-CAPS 的版本号不是 1 到 99999 之间的数。");
  }
  if (space == std::string_view::npos) return parsed(std::move(line));
  std::string_view words = rest.substr(space + 1);
  for (;;) {
    const std::size_t comma = words.find(',');
    const std::string_view word = words.substr(0, comma);
    if (!isCapabilityWord(word)) return refused("BRISK-CAPS 中有不合规则的能力名称。");
    if (line.capabilities.size() == kMaxCapabilities) {
      return refused("BRISK-CAPS 列出的能力过多。");
    }
    line.capabilities.emplace_back(word);
    if (comma == std::string_view::npos) break;
    words.remove_prefix(comma + 1);
  }
  return parsed(std::move(line));
}

SessionLineParse parseHello(std::string_view rest) {
  SessionLine line;
  line.kind = SessionLineKind::Hello;
  const std::size_t space = rest.find(' ');
  const std::string_view knows = rest.substr(0, space);
  if (knows != "known" && knows != "new") return refused("BRISK-HELLO 后应是 known 或 new。");
  line.knowsPeer = knows == "known";
  const std::string_view name =
      space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  if (name.empty() || name.size() > kMaxPeerNameBytes) {
    return refused("BRISK-HELLO 中的名字为空或过长。");
  }
  line.name = name;
  return parsed(std::move(line));
}

}  // namespace

SessionLineParse parseSessionLine(std::string_view bytes) {
  if (bytes.size() > kMaxSessionLineBytes) return refused("会话行过长。");
  if (!bytes.ends_with(kEnd)) return refused("会话行没有以回车换行结束。");
  const std::string_view text = bytes.substr(0, bytes.size() - kEnd.size());
  if (std::any_of(text.begin(), text.end(), isControl)) return refused("会话行中有控制字符。");
  if (text.starts_with(kHello)) return parseHello(text.substr(kHello.size()));
  if (std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte >= 0x7F;
      })) {
    return refused("会话行中有控制字符或非 ASCII 字符。");
  }
  if (text == kConfirm) return parsed(lineOf(SessionLineKind::Confirm));
  if (text == kDeny) return parsed(lineOf(SessionLineKind::Deny));
  if (text.starts_with(kCaps)) return parseCaps(text.substr(kCaps.size()));
  const bool commit = text.starts_with(kCommit);
  if (commit || text.starts_with(kReveal)) {
    const auto value = digestFromLowerHex(text.substr(kCommit.size()));
    if (!value) return refused("BRISK-COMMIT 或 BRISK-REVEAL 后应是 64 位小写十六进制数字。");
    return parsed(lineOf(commit ? SessionLineKind::Commit : SessionLineKind::Reveal, *value));
  }
  return refused("不认识的会话行。");
}

std::string helloLine(bool knowsPeer, std::string_view name) {
  std::string shown;
  for (const char c : name.substr(0, kMaxPeerNameBytes)) shown += isControl(c) ? ' ' : c;
  // Cut at a character boundary, so that the name stays UTF-8.
  if (name.size() > kMaxPeerNameBytes) {
    while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) {
      shown.pop_back();
    }
    if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) shown.pop_back();
  }
  if (shown.empty()) shown = "?";
  return std::string(kHello) + (knowsPeer ? "known " : "new ") + shown + std::string(kEnd);
}

std::string commitLine(const Digest& commitment) {
  return std::string(kCommit) + lowerHex(commitment) + std::string(kEnd);
}

std::string revealLine(const Digest& nonce) {
  return std::string(kReveal) + lowerHex(nonce) + std::string(kEnd);
}

std::string confirmLine() {
  return std::string(kConfirm) + std::string(kEnd);
}

std::string denyLine() {
  return std::string(kDeny) + std::string(kEnd);
}

std::string capsLine(unsigned version, const std::vector<std::string>& capabilities) {
  std::string line = std::string(kCaps) + std::to_string(version);
  for (std::size_t i = 0; i < capabilities.size(); ++i) {
    line += i == 0 ? ' ' : ',';
    line += capabilities[i];
  }
  return line + std::string(kEnd);
}

std::vector<std::string> agreedCapabilities(const std::vector<std::string>& ours,
                                            const std::vector<std::string>& theirs) {
  std::vector<std::string> agreed;
  for (const std::string& word : ours) {
    if (std::find(theirs.begin(), theirs.end(), word) != theirs.end() &&
        std::find(agreed.begin(), agreed.end(), word) == agreed.end()) {
      agreed.push_back(word);
    }
  }
  return agreed;
}

SessionLineRead readSessionLine(ByteStream& stream,
                                std::chrono::steady_clock::time_point deadline) {
  using Status = SessionLineRead::Status;
  SessionLineRead read;
  while (!read.bytes.ends_with(kEnd)) {
    if (read.bytes.size() == kMaxSessionLineBytes) {
      read.status = Status::TooLong;
      return read;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !stream.waitReadable(left)) {
      read.status = Status::TimedOut;
      return read;
    }
    char byte = 0;
    const ssize_t n = stream.receive(&byte, 1);
    if (n <= 0) {
      read.status = n == 0 ? Status::Ended : Status::Failed;
      return read;
    }
    read.bytes += byte;
  }
  read.status = Status::Line;
  return read;
}

}  // namespace brisk
