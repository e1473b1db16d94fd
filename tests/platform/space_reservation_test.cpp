#include "platform/space_reservation.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file_descriptor.h"
#include "support/test_support.h"

namespace brisk::test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

std::uint64_t allocatedBytes(int fd) {
  struct stat status {};
  EXPECT_EQ(::fstat(fd, &status), 0);
  return static_cast<std::uint64_t>(status.st_blocks) * 512;
}

std::uint64_t sizeOf(int fd) {
  struct stat status {};
  EXPECT_EQ(::fstat(fd, &status), 0);
  return static_cast<std::uint64_t>(status.st_size);
}

void writeAt(int fd, std::uint64_t from, std::uint64_t length, char fill) {
  const std::string block(length, fill);
  ASSERT_EQ(::pwrite(fd, block.data(), block.size(), static_cast<off_t>(from)),
            static_cast<ssize_t>(length));
}

using SpaceReservationTest = Sandbox;

// A file that was there before (a resume), the range set aside for the rest, and how far
// the writing got before the reservation ended: the file keeps exactly its bytes, and
// holds no more space than them once the reservation is over.
TEST_F(SpaceReservationTest, SetsAsideTheRestAndGivesBackWhatWasNotWritten) {
  struct Case {
    const char* what;
    std::uint64_t had, to, written;
    bool reserves;
  } const cases[] = {
      {"whole file", 0, 8 * kMiB, 8 * kMiB, true},
      {"cut short", 0, 8 * kMiB, 3 * kMiB, true},
      {"nothing written", 0, 8 * kMiB, 0, true},
      {"resumed and cut short", 2 * kMiB, 10 * kMiB, 1 * kMiB, true},
      {"too little to be worth it", 0, kMiB - 1, kMiB / 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = root() / c.what;
    const FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd.isOpen());
    if (c.had > 0) writeAt(fd.get(), 0, c.had, 'h');
    {
      const SpaceReservation space(fd.get(), c.had, c.to);
      if (c.reserves && !space.reserved()) {
        GTEST_SKIP() << "this file system sets nothing aside";
      }
      EXPECT_EQ(space.reserved(), c.reserves);
      if (c.reserves) {
        EXPECT_GE(allocatedBytes(fd.get()), c.to);
      }
      // Setting aside never changes what the file holds.
      EXPECT_EQ(sizeOf(fd.get()), c.had);
      if (c.written > 0) writeAt(fd.get(), c.had, c.written, 'w');
    }
    const std::uint64_t end = c.had + c.written;
    EXPECT_EQ(sizeOf(fd.get()), end);
    EXPECT_LE(allocatedBytes(fd.get()), end + 64 * 1024);
    std::string start(2, '\0');
    if (end >= 2) {
      ASSERT_EQ(::pread(fd.get(), start.data(), 2, 0), 2);
      EXPECT_EQ(start, c.had > 0 ? "hh" : "ww");
    }
  }
}

}  // namespace
}  // namespace brisk::test
