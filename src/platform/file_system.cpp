#include "platform/file_system.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/directory.h"
#include "platform/text_codec.h"

namespace brisk {

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000;

std::uint64_t fileTimeOf(const struct statx_timestamp& time) {
  return fileTimeFromUnix(time.tv_sec, time.tv_nsec);
}

constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_BTIME;

}  // namespace

std::uint64_t fileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
  if (seconds < -kSecondsFrom1601To1970) return 0;
  return static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond +
         nanoseconds / 100;
}

timespec unixTimeFromFileTime(std::uint64_t fileTime) {
  timespec time{};
  if (fileTime == 0) {
    time.tv_nsec = UTIME_OMIT;
    return time;
  }
  time.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(fileTime / kFileTimeUnitsPerSecond) -
                                    kSecondsFrom1601To1970);
  time.tv_nsec = static_cast<long>(fileTime % kFileTimeUnitsPerSecond) * 100;
  return time;
}

FileAttributeData attributeDataFromStatx(const struct statx& status, std::string_view name) {
  FileAttributeData data;
  const bool isFolder = S_ISDIR(status.stx_mode);
  if (isFolder) data.attributes |= kAttributeDirectory;
  if ((status.stx_mode & S_IWUSR) == 0) data.attributes |= kAttributeReadOnly;
  if (!name.empty() && name.front() == '.') data.attributes |= kAttributeHidden;
  if (S_ISREG(status.stx_mode)) data.attributes |= kAttributeArchive;
  if (data.attributes == 0) data.attributes = kAttributeNormal;
  data.lastAccessTime = fileTimeOf(status.stx_atime);
  data.lastWriteTime = fileTimeOf(status.stx_mtime);
  const bool hasBirthTime = (status.stx_mask & STATX_BTIME) != 0 &&
                            (status.stx_btime.tv_sec != 0 || status.stx_btime.tv_nsec != 0);
  data.creationTime = hasBirthTime ? fileTimeOf(status.stx_btime) : data.lastWriteTime;
  data.size = isFolder ? 0 : status.stx_size;
  return data;
}

int readAttributeData(const std::filesystem::path& path, FileAttributeData& data) {
  struct statx status {};
  if (::statx(AT_FDCWD, path.c_str(), 0, kStatxMask, &status) != 0) return errno;
  // "dir/" has an empty file name; its own name is the last real component.
  std::filesystem::path name = path.filename();
  if (name.empty()) name = path.parent_path().filename();
  data = attributeDataFromStatx(status, name.native());
  return 0;
}

int readAttributeDataAt(int folderFd, std::string_view name, bool followLink,
                        FileAttributeData& data) {
  const std::string nameText(name);
  struct statx status {};
  if (::statx(folderFd, nameText.c_str(), followLink ? 0 : AT_SYMLINK_NOFOLLOW, kStatxMask,
              &status) != 0) {
    return errno;
  }
  data = attributeDataFromStatx(status, name);
  return 0;
}

bool isValidReceivedName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (std::size_t at = 0; at < name.size(); ++at) {
    const auto byte = static_cast<unsigned char>(name[at]);
    if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == '\\') return false;
    const std::string_view rest = name.substr(at);
    // C1 controls (U+0080 to U+009F): UTF-8 C2 80 to C2 9F.
    if (byte == 0xC2 && rest.size() >= 2 && static_cast<unsigned char>(rest[1]) <= 0x9F) {
      return false;
    }
    // The Arabic letter mark (U+061C, D8 9C) reorders the text around it like the marks
    // below.
    if (byte == 0xD8 && rest.size() >= 2 && static_cast<unsigned char>(rest[1]) == 0x9C) {
      return false;
    }
    // Bidirectional marks (U+200E, U+200F), embeddings and overrides (U+202A to U+202E)
    // and isolates (U+2066 to U+2069) make a name display as something else; the line and
    // paragraph separators (U+2028, U+2029) break it over lines: E2 80 8E-8F, E2 80 A8-AE
    // and E2 81 A6-A9.
    if (byte == 0xE2 && rest.size() >= 3) {
      const auto second = static_cast<unsigned char>(rest[1]);
      const auto third = static_cast<unsigned char>(rest[2]);
      if (second == 0x80 && (third == 0x8E || third == 0x8F)) return false;
      if (second == 0x80 && third >= 0xA8 && third <= 0xAE) return false;
      if (second == 0x81 && third >= 0xA6 && third <= 0xA9) return false;
    }
  }
  return true;
}

bool isValidReceivedWireName(std::string_view wire) {
  return isValidWireText(wire) && isValidReceivedName(fromWire(wire));
}

int applyFileTimes(int fd, const FileAttributeData& data) {
  const timespec times[2] = {unixTimeFromFileTime(data.lastAccessTime),
                             unixTimeFromFileTime(data.lastWriteTime)};
  return ::futimens(fd, times) == 0 ? 0 : errno;
}

int applyReadOnly(int fd, const FileAttributeData& data) {
  if ((data.attributes & kAttributeReadOnly) == 0) return 0;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return errno;
  const mode_t mode = status.st_mode & 07777 & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

std::uint64_t folderSize(const std::filesystem::path& folder,
                         const std::function<bool()>& stopped) {
  struct Level {
    Directory directory;
    DirectoryReader reader;
  };
  std::vector<Level> levels;
  {
    Level top;
    if (Directory::open(folder, top.directory) != 0 ||
        DirectoryReader::open(top.directory, top.reader) != 0) {
      return 0;
    }
    levels.push_back(std::move(top));
  }
  std::uint64_t total = 0;
  while (!levels.empty()) {
    if (stopped && stopped()) break;
    const auto entry = levels.back().reader.next();
    if (!entry) {
      levels.pop_back();
      continue;
    }
    const Directory& current = levels.back().directory;
    if (entry->isFolder) {
      Level level;
      if (current.openFolder(entry->name, level.directory) == 0 &&
          DirectoryReader::open(level.directory, level.reader) == 0) {
        levels.push_back(std::move(level));
      }
      continue;
    }
    struct stat status {};
    const std::string name = entry->name;
    if (::fstatat(current.fd(), name.c_str(), &status, 0) == 0 && S_ISREG(status.st_mode)) {
      total += static_cast<std::uint64_t>(status.st_size);
    }
  }
  return total;
}

std::optional<std::uint64_t> freeBytesAt(const std::filesystem::path& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace brisk
