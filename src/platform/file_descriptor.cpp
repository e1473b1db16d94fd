#include "platform/file_descriptor.h"

#include <cerrno>

#include <unistd.h>

namespace brisk {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

int FileDescriptor::release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileDescriptor::close() noexcept {
  if (fd_ >= 0) {
    const int saved = errno;
    ::close(fd_);
    fd_ = -1;
    errno = saved;
  }
}

}  // namespace brisk
