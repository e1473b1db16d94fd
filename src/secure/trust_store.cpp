#include "secure/trust_store.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>

#include "platform/file_descriptor.h"
#include "platform/system_error.h"
#include "secure/private_file.h"

namespace brisk {

namespace {

constexpr char kFileName[] = "brisk-trusted-peers.txt";
// The first line names the format, so that a later version can tell its own files.
constexpr std::string_view kHeader = "brisk trusted peers 1\n";
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr char kUpperDigits[] = "0123456789ABCDEF";

// Bytes that would break a line apart: they are written as %XX (upper-case hex).
bool mustEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '%' || c == ',';
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (mustEscape(byte)) {
      out += '%';
      out += kUpperDigits[byte >> 4];
      out += kUpperDigits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

int upperHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The inverse of escaped(), for its output only: every text has one written form.
std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte != '%') {
      if (mustEscape(byte)) return std::nullopt;
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = upperHexValue(text[i + 1]);
    const int low = upperHexValue(text[i + 2]);
    if (high < 0 || low < 0 || !mustEscape(static_cast<unsigned char>(high << 4 | low))) {
      return std::nullopt;
    }
    out += static_cast<char>(high << 4 | low);
    i += 2;
  }
  return out;
}

// At most `limit` bytes of UTF-8 text, cut before a character rather than inside one.
std::string cutText(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

std::optional<TrustedPeer> parseLine(std::string_view line, std::string& why) {
  const std::vector<std::string_view> fields = split(line, '\t');
  if (fields.size() != 4) {
    why = "应有四栏，以制表符分隔。";
    return std::nullopt;
  }
  TrustedPeer peer;
  const auto digest = digestFromLowerHex(fields[0]);
  if (!digest) {
    why = "指纹应是 64 位小写十六进制数字。";
    return std::nullopt;
  }
  peer.fingerprint.bytes = *digest;
  std::int64_t seconds = 0;
  const std::string_view time = fields[1];
  const auto [end, ec] = std::from_chars(time.data(), time.data() + time.size(), seconds);
  if (ec != std::errc() || end != time.data() + time.size() || time.empty() || seconds < 0 ||
      (time.size() > 1 && time[0] == '0')) {
    why = "验证时间应是一个非负整数。";
    return std::nullopt;
  }
  peer.verifiedAt = std::chrono::sys_seconds(std::chrono::seconds(seconds));
  const auto name = unescaped(fields[2]);
  if (!name || name->size() > TrustStore::kMaxNameBytes) {
    why = "名称的写法不对或过长。";
    return std::nullopt;
  }
  peer.name = *name;
  if (!fields[3].empty()) {
    for (const std::string_view item : split(fields[3], ',')) {
      const auto address = unescaped(item);
      if (!address || address->empty() || address->size() > TrustStore::kMaxAddressBytes ||
          peer.addresses.size() == TrustStore::kMaxAddresses) {
        why = "地址的写法不对或过多。";
        return std::nullopt;
      }
      peer.addresses.push_back(*address);
    }
  }
  return peer;
}

// Holds the lock that every Brisk process of the user takes around changing the store.
class CrossProcessLock {
 public:
  explicit CrossProcessLock(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const std::filesystem::path lockFile = file.string() + ".lock";
    fd_ = FileDescriptor(
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd_.isOpen()) {
      error_ = "无法打开锁文件：" + lockFile.string() + "\r\n" + systemErrorMessage(errno);
      return;
    }
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error_ = "无法锁定：" + lockFile.string() + "\r\n" + systemErrorMessage(errno);
      return;
    }
  }
  // Closing the descriptor releases the lock.
  const std::string& error() const { return error_; }

 private:
  FileDescriptor fd_;
  std::string error_;
};

}  // namespace

std::string trustStoreText(const std::vector<TrustedPeer>& peers) {
  std::string text(kHeader);
  for (const TrustedPeer& peer : peers) {
    text += peer.fingerprint.hexText();
    text += '\t';
    text += std::to_string(peer.verifiedAt.time_since_epoch().count());
    text += '\t';
    text += escaped(peer.name);
    text += '\t';
    for (std::size_t i = 0; i < peer.addresses.size(); ++i) {
      if (i > 0) text += ',';
      text += escaped(peer.addresses[i]);
    }
    text += '\n';
  }
  return text;
}

std::optional<std::vector<TrustedPeer>> parseTrustStoreText(std::string_view text,
                                                            std::string& error) {
  if (!text.starts_with(kHeader)) {
    error = "第 1 行不是本程序的文件头。";
    return std::nullopt;
  }
  text.remove_prefix(kHeader.size());
  std::vector<TrustedPeer> peers;
  for (int lineNumber = 2; !text.empty(); ++lineNumber) {
    const std::size_t end = text.find('\n');
    std::string why;
    std::optional<TrustedPeer> peer;
    if (end == std::string_view::npos) {
      why = "行没有结束（文件被截断）。";
    } else {
      peer = parseLine(text.substr(0, end), why);
      if (peer && std::any_of(peers.begin(), peers.end(), [&](const TrustedPeer& known) {
            return known.fingerprint == peer->fingerprint;
          })) {
        why = "同一个指纹出现了两次。";
        peer.reset();
      }
    }
    if (!peer) {
      error = "第 " + std::to_string(lineNumber) + " 行：" + why;
      return std::nullopt;
    }
    peers.push_back(std::move(*peer));
    text.remove_prefix(end + 1);
  }
  return peers;
}

std::filesystem::path TrustStore::fileIn(const std::filesystem::path& folder) {
  return folder / kFileName;
}

TrustStore::Peers TrustStore::load() const {
  Peers result;
  const PrivateFileRead read = readPrivateFile(file_, kMaxFileBytes);
  if (read.status == PrivateFileRead::Status::Missing) return result;
  if (read.status == PrivateFileRead::Status::Failed) {
    result.error = read.error;
    return result;
  }
  std::string why;
  auto peers = parseTrustStoreText(read.bytes, why);
  if (!peers) {
    result.error = "已信任的计算机列表已损坏，无法使用：" + file_.string() + "\r\n" + why +
                   "\r\n程序不会自动清空它。请修正或删除该文件。";
    return result;
  }
  result.peers = std::move(*peers);
  return result;
}

TrustStore::Peers TrustStore::list() const {
  std::lock_guard lock(mutex_);
  return load();
}

TrustStore::Lookup TrustStore::find(const Fingerprint& fingerprint) const {
  Lookup lookup;
  Peers all = list();
  lookup.error = std::move(all.error);
  for (TrustedPeer& peer : all.peers) {
    if (peer.fingerprint == fingerprint) lookup.peer = std::move(peer);
  }
  return lookup;
}

TrustStore::Peers TrustStore::findByNameOrAddress(std::string_view name,
                                                  std::string_view address) const {
  Peers all = list();
  std::erase_if(all.peers, [&](const TrustedPeer& peer) {
    const bool sameName = !name.empty() && peer.name == name;
    const bool sameAddress =
        !address.empty() &&
        std::find(peer.addresses.begin(), peer.addresses.end(), address) != peer.addresses.end();
    return !sameName && !sameAddress;
  });
  return all;
}

template <typename Edit>
TrustStore::Change TrustStore::change(Edit edit) {
  Change result;
  std::lock_guard lock(mutex_);
  const CrossProcessLock processes(file_);
  if (!processes.error().empty()) {
    result.error = processes.error();
    return result;
  }
  Peers current = load();
  if (!current.ok()) {
    result.error = std::move(current.error);
    return result;
  }
  if (!edit(current.peers)) {
    result.status = ChangeStatus::NotFound;
    return result;
  }
  const PrivateFileWrite written =
      writePrivateFile(file_, trustStoreText(current.peers), WriteMode::Replace);
  if (written.status != PrivateFileWrite::Status::Written) {
    result.error = written.error;
    return result;
  }
  result.status = ChangeStatus::Done;
  return result;
}

namespace {

TrustedPeer* entryOf(std::vector<TrustedPeer>& peers, const Fingerprint& fingerprint) {
  const auto it = std::find_if(peers.begin(), peers.end(), [&](const TrustedPeer& peer) {
    return peer.fingerprint == fingerprint;
  });
  return it == peers.end() ? nullptr : &*it;
}

void putAddressFirst(TrustedPeer& peer, std::string_view address) {
  if (address.empty() || address.size() > TrustStore::kMaxAddressBytes) return;
  std::erase(peer.addresses, address);
  peer.addresses.insert(peer.addresses.begin(), std::string(address));
  if (peer.addresses.size() > TrustStore::kMaxAddresses) {
    peer.addresses.resize(TrustStore::kMaxAddresses);
  }
}

}  // namespace

TrustStore::Change TrustStore::remember(const Fingerprint& fingerprint, std::string_view name,
                                        std::string_view address, std::chrono::sys_seconds now) {
  return change([&](std::vector<TrustedPeer>& peers) {
    TrustedPeer* peer = entryOf(peers, fingerprint);
    if (!peer) {
      peers.push_back(TrustedPeer{fingerprint, {}, {}, {}});
      peer = &peers.back();
    }
    peer->name = cutText(name, kMaxNameBytes);
    peer->verifiedAt = now;
    putAddressFirst(*peer, address);
    return true;
  });
}

TrustStore::Change TrustStore::noteSeen(const Fingerprint& fingerprint, std::string_view address) {
  return change([&](std::vector<TrustedPeer>& peers) {
    TrustedPeer* peer = entryOf(peers, fingerprint);
    if (peer) putAddressFirst(*peer, address);
    return peer != nullptr;
  });
}

TrustStore::Change TrustStore::rename(const Fingerprint& fingerprint, std::string_view name) {
  return change([&](std::vector<TrustedPeer>& peers) {
    TrustedPeer* peer = entryOf(peers, fingerprint);
    if (peer) peer->name = cutText(name, kMaxNameBytes);
    return peer != nullptr;
  });
}

TrustStore::Change TrustStore::forget(const Fingerprint& fingerprint) {
  return change([&](std::vector<TrustedPeer>& peers) {
    return std::erase_if(
               peers, [&](const TrustedPeer& peer) { return peer.fingerprint == fingerprint; }) > 0;
  });
}

}  // namespace brisk
