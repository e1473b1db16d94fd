#include "platform/space_reservation.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brisk {

SpaceReservation::SpaceReservation(int fd, std::uint64_t from, std::uint64_t to)
    : fd_(fd), to_(to) {
  if (to < from || to - from < kWorthReserving) return;
  // Not posix_fallocate: where the file system cannot reserve, it would write zeros, which
  // costs more than it saves. A failure (no support, no room) leaves the writes to report
  // what is wrong, as they would without this.
  reserved_ = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                          static_cast<off_t>(to - from)) == 0;
  // A file system that ran out of room may keep what it had set aside by then.
  giveBack_ = reserved_ || errno == ENOSPC;
}

SpaceReservation::~SpaceReservation() {
  if (!giveBack_) return;
  // The file's size tells how far it was written; everything past it is given back.
  struct stat status {};
  if (::fstat(fd_, &status) != 0) return;
  const auto end = static_cast<std::uint64_t>(status.st_size);
  if (end >= to_) return;
  // Cutting the file to its own size frees the blocks past it (ext4, tmpfs); punching a
  // hole there would not: ext4 punches nothing past the end.
  if (::ftruncate(fd_, status.st_size) != 0) {
    // Nothing more can be done: the space stays with the file until it is resumed or removed.
  }
}

}  // namespace brisk
