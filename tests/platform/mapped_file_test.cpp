#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/file_descriptor.h"
#include "support/test_support.h"

namespace brisk::test {
namespace {

// Bytes that tell their own position, so that a piece from the wrong place shows.
std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 4096) % 251);
  return bytes;
}

class MappedFileTest : public Sandbox {
 protected:
  FileDescriptor makeFile(const std::string& contents) {
    const auto path = root() / "file";
    writeFile(path, contents);
    return FileDescriptor(::open(path.c_str(), O_RDONLY));
  }
  void cutTo(std::uint64_t size) {
    ASSERT_EQ(::truncate((root() / "file").c_str(), static_cast<off_t>(size)), 0);
  }
};

TEST_F(MappedFileTest, ReadsTheRangeAcrossWindowsInPieces) {
  // More than one 4 MiB window, from an offset inside a page, in pieces of an odd size.
  const std::string contents = pattern((4 << 20) + 3 * 4096 + 100);
  const FileDescriptor fd = makeFile(contents);
  const std::uint64_t offset = 5000;
  MappedFileReader reader(fd.get(), offset, contents.size() - offset);
  std::string read;
  while (const auto piece = reader.next(256 * 1024 + 7)) read.append(piece->data(), piece->size());
  EXPECT_FALSE(reader.shrank());
  EXPECT_FALSE(reader.failed());
  EXPECT_EQ(reader.position(), contents.size() - offset);
  EXPECT_TRUE(read == contents.substr(offset));
}

TEST_F(MappedFileTest, AFileCutWhileReadIsToldAndNeverEndsTheProcess) {
  const std::string contents = pattern(1 << 20);
  const std::uint64_t cut = 300000;
  // Cut before the piece is handed out: it is not handed out.
  {
    const FileDescriptor fd = makeFile(contents);
    MappedFileReader reader(fd.get(), 0, contents.size());
    ASSERT_TRUE(reader.next(128 * 1024));
    cutTo(cut);
    while (reader.next(128 * 1024)) {
    }
    EXPECT_TRUE(reader.shrank());
    EXPECT_LE(reader.position(), cut + 128 * 1024);
  }
  // Cut after it was handed out, while it is read: what lies past the new end reads as
  // zeros (a page is read whole), what lies before it as the file.
  {
    const FileDescriptor fd = makeFile(contents);
    MappedFileReader reader(fd.get(), 0, contents.size());
    const auto piece = reader.next(contents.size());
    ASSERT_TRUE(piece);
    cutTo(cut);
    const std::string seen(piece->data(), piece->size());
    EXPECT_TRUE(reader.shrank());
    const std::size_t pageEnd = (cut + 4095) / 4096 * 4096;
    EXPECT_TRUE(seen.substr(0, cut) == contents.substr(0, cut));
    EXPECT_EQ(seen.find_first_not_of('\0', pageEnd), std::string::npos);
    EXPECT_FALSE(reader.next(1));
  }
}

TEST_F(MappedFileTest, AFaultOutsideAReaderStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const FileDescriptor fd = makeFile(pattern(64 * 1024));
  { MappedFileReader reader(fd.get(), 0, 1); }  // the handler is in place from here on
  const auto diedOfIt = [](int status) {
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
           (WIFEXITED(status) && WEXITSTATUS(status) != 0);  // a sanitizer's report
  };
  EXPECT_EXIT(
      {
        auto* mapped = static_cast<volatile char*>(
            ::mmap(nullptr, 64 * 1024, PROT_READ, MAP_SHARED, fd.get(), 0));
        cutTo(0);
        const char seen = mapped[32 * 1024];
        std::_Exit(seen == 0 ? 0 : 2);
      },
      diedOfIt, "");
}

}  // namespace
}  // namespace brisk::test
