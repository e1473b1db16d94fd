#pragma once

#include <cstdint>

namespace brisk {

// Sets aside disk space for the part of a file still to be received, for as long as it is
// being written. A file system that is handed the room for a large file at once spends less
// than one that finds it a page at a time as the writes come (on ext4 a quarter less system
// time for writing 1 GiB). Only files with at least kWorthReserving bytes still to come are
// reserved for; where the file system cannot reserve, nothing changes.
// The file's size never changes by this: its size is what was written. When writing stops
// short (a cut connection, a full disk, a stop), whatever was set aside past the file's end
// is given back when the reservation ends, so that a partial file kept for resuming holds
// no more space than its bytes.
class SpaceReservation {
 public:
  static constexpr std::uint64_t kWorthReserving = 1024 * 1024;

  // Reserves [from, to) of the open file `fd`; `fd` must stay open while this lives.
  SpaceReservation(int fd, std::uint64_t from, std::uint64_t to);
  ~SpaceReservation();
  SpaceReservation(const SpaceReservation&) = delete;
  SpaceReservation& operator=(const SpaceReservation&) = delete;

  bool reserved() const { return reserved_; }

 private:
  int fd_;
  std::uint64_t to_;
  bool reserved_ = false;
  bool giveBack_ = false;
};

}  // namespace brisk
