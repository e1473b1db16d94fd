#include "secure/private_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/settings_store.h"
#include "platform/file_descriptor.h"
#include "platform/system_error.h"

namespace brisk {

namespace {

std::string failureText(const char* what, const std::filesystem::path& path, int error) {
  return std::string(what) + path.string() + "\r\n" + systemErrorMessage(error);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Makes the rename itself durable: without it a crash can bring back the old name's content.
void syncFolder(const std::filesystem::path& folder) {
  const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.isOpen()) (void)::fsync(fd.get());
}

// Puts `from` at `to` unless something is there already. A file system without
// RENAME_NOREPLACE gets the same through a hard link, which fails when the name exists.
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

std::filesystem::path settingsFolder() {
  return std::filesystem::path(SettingsStore::fileName()).parent_path();
}

PrivateFileRead readPrivateFile(const std::filesystem::path& path, std::size_t maxBytes) {
  PrivateFileRead result;
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd.isOpen()) {
    if (errno == ENOENT) {
      result.status = PrivateFileRead::Status::Missing;
    } else {
      result.error = failureText("无法打开文件：", path, errno);
    }
    return result;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    result.error = failureText("无法读取文件信息：", path, errno);
    return result;
  }
  if (!S_ISREG(status.st_mode)) {
    result.error = "不是普通文件：" + path.string();
    return result;
  }
  // Someone else who can write the file can change who this installation is and whom it
  // trusts; such a file is not taken.
  if (status.st_uid != ::geteuid()) {
    result.error = "文件属于另一个用户，不予使用：" + path.string();
    return result;
  }
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) {
      result.error = failureText("无法把文件改为仅本人可读：", path, errno);
      return result;
    }
    result.tightened = true;
  }
  if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    result.error = "文件过大，不是本程序写的：" + path.string();
    return result;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.error = failureText("无法读取文件：", path, errno);
      return result;
    }
    if (n == 0) break;
    result.bytes.append(buffer, static_cast<std::size_t>(n));
    if (result.bytes.size() > maxBytes) {
      result.error = "文件过大，不是本程序写的：" + path.string();
      return result;
    }
  }
  result.status = PrivateFileRead::Status::Ok;
  return result;
}

PrivateFileWrite writePrivateFile(const std::filesystem::path& path, std::string_view bytes,
                                  WriteMode mode) {
  PrivateFileWrite result;
  const std::filesystem::path folder = path.parent_path();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    result.error = failureText("无法创建文件夹：", folder, ec.value());
    return result;
  }
  // mkostemp makes the file with O_EXCL and mode 0600 whatever the umask: its content is
  // never readable by anyone else, not even before it gets its name.
  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.isOpen()) {
    result.error = failureText("无法创建文件：", temporary, errno);
    return result;
  }
  int error = 0;
  if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) error = errno;
  fd.close();
  if (error == 0) {
    if (mode == WriteMode::Replace) {
      if (::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    } else if (renameNoReplace(temporary, path) != 0) {
      error = errno;
      if (error == EEXIST) {
        ::unlink(temporary.c_str());
        result.status = PrivateFileWrite::Status::AlreadyThere;
        return result;
      }
    }
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    result.error = failureText("无法写入文件：", path, error);
    return result;
  }
  syncFolder(folder);
  result.status = PrivateFileWrite::Status::Written;
  return result;
}

}  // namespace brisk
