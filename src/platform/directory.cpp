#include "platform/directory.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/file_system.h"

namespace brisk {

namespace {

// Opening a folder for listing needs read permission; without it the folder can still
// be used as the base of openat and mkdirat.
int openFolderAt(int base, const char* name, int extraFlags) {
  const int fd = ::openat(base, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
  if (fd >= 0 || errno != EACCES) return fd;
  return ::openat(base, name, O_PATH | O_DIRECTORY | O_CLOEXEC | extraFlags);
}

// What attributeDataFromStatx reads.
constexpr unsigned kDescriptionMask = STATX_BASIC_STATS | STATX_BTIME;

// Leaves `fd` open only when it is a regular file, with what one statx of it says in
// `status`. Files are opened non-blocking so that a FIFO cannot hang the open; the flag is
// left on, since reads, writes, sendfile and splice of a regular file never block on it
// and ignore it (clearing it would cost two calls a file).
int keepRegularFile(FileDescriptor& fd, unsigned mask, struct statx& status) {
  if (::statx(fd.get(), "", AT_EMPTY_PATH, mask, &status) != 0) return errno;
  if (!S_ISREG(status.stx_mode)) {
    fd.close();
    return S_ISDIR(status.stx_mode) ? EISDIR : EINVAL;
  }
  return 0;
}

}  // namespace

int Directory::open(const std::filesystem::path& path, Directory& out) {
  const int fd = openFolderAt(AT_FDCWD, path.c_str(), 0);
  if (fd < 0) return errno;
  out.fd_ = FileDescriptor(fd);
  return 0;
}

int Directory::createFolder(std::string_view name) const {
  const std::string text(name);
  return ::mkdirat(fd(), text.c_str(), 0777) == 0 ? 0 : errno;
}

int Directory::openFolder(std::string_view name, Directory& out) const {
  const std::string text(name);
  const int fd = openFolderAt(this->fd(), text.c_str(), O_NOFOLLOW);
  if (fd < 0) return errno;
  out.fd_ = FileDescriptor(fd);
  return 0;
}

int Directory::exists(std::string_view name, bool& found) const {
  const std::string text(name);
  struct stat status {};
  found = false;
  if (::fstatat(fd(), text.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    found = true;
    return 0;
  }
  return errno == ENOENT ? 0 : errno;
}

int Directory::openFile(std::string_view name, OpenMode mode, FileDescriptor& out,
                        std::uint64_t& size) const {
  const std::string text(name);
  int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  switch (mode) {
    case OpenMode::New:
      flags |= O_CREAT | O_EXCL;
      break;
    case OpenMode::Resume:
      break;
    case OpenMode::Overwrite:
      flags |= O_TRUNC;
      break;
  }
  FileDescriptor fd(::openat(this->fd(), text.c_str(), flags, 0666));
  if (!fd.isOpen()) return errno;
  size = 0;
  // A file created just now by O_EXCL is an empty regular file; only an existing one needs
  // a look, which tells its size too.
  if (mode != OpenMode::New) {
    struct statx status {};
    if (const int error = keepRegularFile(fd, STATX_TYPE | STATX_SIZE, status); error != 0) {
      return error;
    }
    size = status.stx_size;
  }
  out = std::move(fd);
  return 0;
}

int Directory::openFileForReading(std::string_view name, FileDescriptor& out,
                                  FileAttributeData& data) const {
  const std::string text(name);
  FileDescriptor fd(::openat(this->fd(), text.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.isOpen()) return errno;
  struct statx status {};
  if (const int error = keepRegularFile(fd, kDescriptionMask, status); error != 0) return error;
  data = attributeDataFromStatx(status, name);
  out = std::move(fd);
  return 0;
}

int DirectoryReader::open(const Directory& folder, DirectoryReader& out) {
  FileDescriptor fd(::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.isOpen()) return errno;
  DIR* stream = ::fdopendir(fd.get());
  if (stream == nullptr) return errno;
  fd.release();  // the stream owns it now
  out.stream_.reset(stream);
  return 0;
}

std::optional<DirectoryEntry> DirectoryReader::next() {
  if (!stream_) return std::nullopt;
  const int folderFd = ::dirfd(stream_.get());
  for (;;) {
    const dirent* entry = ::readdir(stream_.get());
    if (entry == nullptr) {
      stream_.reset();
      return std::nullopt;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    unsigned char type = entry->d_type;
    struct stat status {};
    if (type == DT_UNKNOWN) {
      // Some file systems do not say; ask without following a link.
      if (::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(status.st_mode)   ? DT_DIR
             : S_ISREG(status.st_mode) ? DT_REG
             : S_ISLNK(status.st_mode) ? DT_LNK
                                       : DT_UNKNOWN;
    }
    if (type == DT_LNK) {
      if (::fstatat(folderFd, name, &status, 0) != 0 || !S_ISREG(status.st_mode)) continue;
      type = DT_REG;
    }
    if (type == DT_DIR) return DirectoryEntry{name, true};
    if (type == DT_REG) return DirectoryEntry{name, false};
  }
}

}  // namespace brisk
