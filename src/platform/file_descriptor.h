#pragma once

namespace brisk {

// Owns one open file or folder descriptor and closes it. Closing keeps errno as it was,
// so a descriptor that goes out of scope between a failed call and its notice does not
// change the error that the notice reports.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  ~FileDescriptor() { close(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  int release() noexcept;
  void close() noexcept;

 private:
  int fd_ = -1;
};

}  // namespace brisk
