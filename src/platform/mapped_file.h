#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace brisk {

// Reads a range of an open file through windows mapped into memory, instead of copying it
// out of the page cache into a buffer first: whoever uses the bytes (an encryption) reads
// them from the cached pages themselves.
//
// A mapped file that another program cuts shorter while it is read would end this process
// with SIGBUS at the first page past the new end. A piece is made present before it is
// handed out, which tells a shorter file without touching it; and should the file be cut
// in the moment between that and its use, the pages past the end read as zeros instead (a
// handler for SIGBUS, for pages of a window of this thread only), and shrank() says so.
// Either way what was read from the new end on is not the file's and must not be taken
// as it. A reader is used on the thread that made it, one at a time on each thread.
class MappedFileReader {
 public:
  // `fd` must stay open while the reader lives.
  MappedFileReader(int fd, std::uint64_t offset, std::uint64_t count);
  ~MappedFileReader();
  MappedFileReader(const MappedFileReader&) = delete;
  MappedFileReader& operator=(const MappedFileReader&) = delete;

  // The next piece of at most `limit` bytes, valid until the next call; nothing at the
  // end of the range, when the file is shorter than the range (shrank()), or when it
  // cannot be mapped (failed(): read it another way from position()).
  std::optional<std::span<const char>> next(std::size_t limit);
  bool shrank() const;
  bool failed() const { return failed_; }
  // Where the next piece begins, from `offset`.
  std::uint64_t position() const { return done_; }

 private:
  bool mapWindow();
  void unmapWindow();

  int fd_;
  std::uint64_t offset_;
  std::uint64_t count_;
  std::uint64_t done_ = 0;  // bytes of the range handed out
  char* window_ = nullptr;
  std::uint64_t windowStart_ = 0;  // file offset of window_, a page boundary
  std::size_t windowLength_ = 0;
  bool failed_ = false;
  bool shortFile_ = false;
};

}  // namespace brisk
