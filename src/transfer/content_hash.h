#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/file_descriptor.h"

struct evp_md_ctx_st;

namespace brisk {

// A SHA-256 digest of file contents.
inline constexpr std::size_t kDigestSize = 32;
using ContentDigest = std::array<unsigned char, kDigestSize>;

// SHA-256 through OpenSSL's EVP interface, fed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, std::size_t size);
  // The digest of everything fed since the last finish; starts again afterwards.
  ContentDigest finish();

 private:
  evp_md_ctx_st* context_;
};

// The digest of `length` bytes of the open file `fd` from `offset`; nothing when they
// cannot all be read (the file is shorter, or a read fails).
std::optional<ContentDigest> hashFileRange(int fd, std::uint64_t offset, std::uint64_t length);

// Hashes a range of one file at a time on a thread of its own, beside the thread that moves
// the bytes, so that checking costs a core rather than time on the transfer's path. The end
// of what may be read can follow the bytes as they are written (advance). Used by one
// transfer thread.
class RangeHasher {
 public:
  RangeHasher();
  ~RangeHasher();
  RangeHasher(const RangeHasher&) = delete;
  RangeHasher& operator=(const RangeHasher&) = delete;

  // Starts on the open file `fd` (duplicated, so the caller keeps its own) from `offset`,
  // with nothing readable yet. False when the descriptor cannot be duplicated.
  [[nodiscard]] bool begin(int fd, std::uint64_t offset);
  // The bytes before `end` are in the file and may be hashed.
  void advance(std::uint64_t end);
  // Waits until the bytes from the start up to `end` are hashed and gives their digest;
  // nothing when a read failed or the file ended early.
  std::optional<ContentDigest> finish(std::uint64_t end);

 private:
  void work(const std::stop_token& stop);

  std::mutex mutex_;
  std::condition_variable_any changed_;
  FileDescriptor file_;
  std::uint64_t position_ = 0;        // hashed up to here
  std::uint64_t readable_ = 0;        // may be hashed up to here
  std::optional<std::uint64_t> end_;  // set by finish
  bool failed_ = false;
  bool done_ = false;
  bool reading_ = false;  // the worker reads file_ without the lock
  std::optional<ContentDigest> digest_;
  Sha256 sha_;
  std::jthread thread_;  // last: it starts once everything it uses exists
};

}  // namespace brisk
