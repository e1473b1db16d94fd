#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "platform/directory.h"
#include "support/test_support.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

class FileSystem : public Sandbox {
 protected:
  static FileAttributeData attributes(const fs::path& path) {
    FileAttributeData data;
    EXPECT_EQ(readAttributeData(path, data), 0);
    return data;
  }
  static void setTimes(const fs::path& path, std::int64_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds - 60, 0}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
};

TEST(FileTime, ConvertsBetweenUnixTimeAndFileTime) {
  EXPECT_EQ(fileTimeFromUnix(0, 0), 116444736000000000u);
  EXPECT_EQ(fileTimeFromUnix(1700000000, 123456789), 133444736001234567u);
  EXPECT_EQ(fileTimeFromUnix(-11644473600LL - 1, 0), 0u);
  const timespec back = unixTimeFromFileTime(133444736001234567u);
  EXPECT_EQ(back.tv_sec, 1700000000);
  EXPECT_EQ(back.tv_nsec, 123456700);
  // A block without a time leaves the file's own time alone.
  EXPECT_EQ(unixTimeFromFileTime(0).tv_nsec, UTIME_OMIT);
}

TEST_F(FileSystem, AttributeBlocksFollowTheFileModeAndName) {
  writeFile(root() / "plain.txt", "12345");
  writeFile(root() / ".hidden", "");
  writeFile(root() / "locked.txt", "x");
  fs::permissions(root() / "locked.txt", fs::perms::owner_read);
  fs::create_directories(root() / "folder");
  fs::create_directories(root() / ".config");
  setTimes(root() / "plain.txt", 1700000000, 123456789);

  const FileAttributeData plain = attributes(root() / "plain.txt");
  EXPECT_EQ(plain.attributes, kAttributeArchive);
  EXPECT_EQ(plain.size, 5u);
  EXPECT_EQ(plain.lastWriteTime, 133444736001234567u);
  EXPECT_EQ(plain.lastAccessTime, fileTimeFromUnix(1700000000 - 60, 0));
  EXPECT_NE(plain.creationTime, 0u);
  EXPECT_EQ(attributes(root() / ".hidden").attributes, kAttributeArchive | kAttributeHidden);
  EXPECT_EQ(attributes(root() / "locked.txt").attributes, kAttributeArchive | kAttributeReadOnly);
  EXPECT_EQ(attributes(root() / "folder").attributes, kAttributeDirectory);
  EXPECT_EQ(attributes(root() / "folder/").attributes, kAttributeDirectory);
  EXPECT_EQ(attributes(root() / "folder").size, 0u);
  EXPECT_EQ(attributes(root() / ".config").attributes, kAttributeDirectory | kAttributeHidden);

  ASSERT_EQ(::mkfifo((root() / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(attributes(root() / "fifo").attributes, kAttributeNormal);
  FileAttributeData missing;
  EXPECT_EQ(readAttributeData(root() / "missing", missing), ENOENT);
}

TEST(ReceivedNames, OnlyPlainNamesPass) {
  // The neighbours of the refused format characters stay: joiners (U+200C, U+200D), the
  // hyphenation point U+2027, the narrow no-break space U+202F, the Arabic semicolon U+061B.
  for (const char* good : {"a", "文件.txt", ".hidden", "...", "a b", "名字 (1).jpg", "a\u200Cb",
                           "a\u200Db", "a\u2027b", "1\u202FkB", "a\u061Bb"}) {
    EXPECT_TRUE(isValidReceivedName(good)) << good;
  }
  for (const std::string& bad : std::vector<std::string>{
           "", ".", "..", "a/b", "/", "a\\b", "\\", "tab\tx", "line\nx", std::string("nul\0x", 5),
           "del\x7f", "a\u200Eb", "a\u200Fb", "a\u061Cb", "a\u2028b", "a\u2029b", "\u200F"}) {
    EXPECT_FALSE(isValidReceivedName(bad)) << bad;
  }
}

TEST_F(FileSystem, FilesOpenInTheThreeModesAndNeverThroughALink) {
  writeFile(root() / "outside/target", "target");
  writeFile(root() / "save/existing", "old content");
  fs::create_symlink(root() / "outside/target", root() / "save/link");
  fs::create_symlink(root() / "outside", root() / "save/linkdir");
  ::mkfifo((root() / "save/fifo").c_str(), 0644);
  Directory save;
  ASSERT_EQ(Directory::open(root() / "save", save), 0);

  FileDescriptor file;
  std::uint64_t size = 99;
  EXPECT_EQ(save.openFile("existing", OpenMode::New, file, size), EEXIST);
  ASSERT_EQ(save.openFile("fresh", OpenMode::New, file, size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(::write(file.get(), "new", 3), 3);
  file.close();
  EXPECT_EQ(readFile(root() / "save/fresh"), "new");

  ASSERT_EQ(save.openFile("existing", OpenMode::Resume, file, size), 0);
  EXPECT_EQ(size, 11u);
  file.close();
  EXPECT_EQ(readFile(root() / "save/existing"), "old content");
  ASSERT_EQ(save.openFile("existing", OpenMode::Overwrite, file, size), 0);
  EXPECT_EQ(size, 0u);
  file.close();
  EXPECT_EQ(readFile(root() / "save/existing"), "");
  EXPECT_EQ(save.openFile("missing", OpenMode::Resume, file, size), ENOENT);

  // A new file is never made where anything of that name is, a link or a folder included.
  fs::create_directories(root() / "save/folder");
  for (const char* name : {"link", "linkdir", "fifo", "folder"}) {
    EXPECT_EQ(save.openFile(name, OpenMode::New, file, size), EEXIST) << name;
  }
  for (const OpenMode mode : {OpenMode::Resume, OpenMode::Overwrite}) {
    EXPECT_NE(save.openFile("link", mode, file, size), 0);
    EXPECT_NE(save.openFile("fifo", mode, file, size), 0);
  }
  EXPECT_EQ(readFile(root() / "outside/target"), "target");

  // Only "no such entry" means absent; a name the file system cannot take is no answer.
  const std::pair<std::string, std::pair<int, bool>> lookups[] = {
      {"link", {0, true}},
      {"existing", {0, true}},
      {"nothing", {0, false}},
      {std::string(300, 'n'), {ENAMETOOLONG, false}},
  };
  for (const auto& [name, expected] : lookups) {
    bool found = true;
    EXPECT_EQ(save.exists(name, found), expected.first) << name.substr(0, 20);
    EXPECT_EQ(found, expected.second) << name.substr(0, 20);
  }
  EXPECT_EQ(save.createFolder("linkdir"), EEXIST);
  Directory through;
  EXPECT_NE(save.openFolder("linkdir", through), 0);
  ASSERT_EQ(save.createFolder("sub"), 0);
  ASSERT_EQ(save.openFolder("sub", through), 0);
  ASSERT_EQ(through.openFile("inner", OpenMode::New, file, size), 0);
  EXPECT_TRUE(fs::exists(root() / "save/sub/inner"));

  // Reading follows a link to a file, but refuses what is not a file. The open file is
  // described as the file it reached, under the name it was opened by.
  FileAttributeData data;
  EXPECT_EQ(save.openFileForReading("link", file, data), 0);
  EXPECT_EQ(data.size, 6u);
  EXPECT_EQ(data.attributes, kAttributeArchive);
  EXPECT_EQ(data.lastWriteTime, attributes(root() / "outside/target").lastWriteTime);
  fs::create_symlink(root() / "outside/target", root() / "save/.hidden-link");
  EXPECT_EQ(save.openFileForReading(".hidden-link", file, data), 0);
  EXPECT_EQ(data.attributes, kAttributeArchive | kAttributeHidden);
  EXPECT_EQ(save.openFileForReading("fifo", file, data), EINVAL);
  EXPECT_EQ(save.openFileForReading("sub", file, data), EISDIR);
  EXPECT_EQ(save.openFileForReading("missing", file, data), ENOENT);
}

TEST_F(FileSystem, TimesAndReadOnlyAreAppliedToAnOpenFile) {
  writeFile(root() / "f", "data");
  FileDescriptor file(::open((root() / "f").c_str(), O_RDWR));
  FileAttributeData data;
  data.attributes = kAttributeArchive | kAttributeReadOnly;
  data.lastWriteTime = fileTimeFromUnix(1234567890, 500);
  data.lastAccessTime = 0;  // no time: the file keeps its own
  struct stat before {};
  ::fstat(file.get(), &before);
  EXPECT_EQ(applyFileTimes(file.get(), data), 0);
  EXPECT_EQ(applyReadOnly(file.get(), data), 0);
  struct stat after {};
  ::fstat(file.get(), &after);
  EXPECT_EQ(after.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(after.st_mtim.tv_nsec, 500);
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
  EXPECT_EQ(after.st_mode & 0222, 0u);

  data.attributes = kAttributeArchive;
  fs::permissions(root() / "f", fs::perms::owner_all);
  EXPECT_EQ(applyReadOnly(file.get(), data), 0);
  EXPECT_NE(fs::status(root() / "f").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST_F(FileSystem, ListingSkipsLinkedFoldersAndSpecialFiles) {
  writeFile(root() / "elsewhere/big", patternBytes(1000));
  writeFile(root() / "top/a", "12345");
  writeFile(root() / "top/sub/b", "123");
  writeFile(root() / "top/sub/deeper/c", "1");
  fs::create_directories(root() / "top/empty");
  fs::create_symlink(root() / "elsewhere", root() / "top/loop-out");
  fs::create_symlink(root() / "top", root() / "top/sub/loop-up");
  fs::create_symlink(root() / "top/a", root() / "top/link-to-a");
  fs::create_symlink(root() / "nothing", root() / "top/dangling");
  ::mkfifo((root() / "top/fifo").c_str(), 0644);

  Directory top;
  ASSERT_EQ(Directory::open(root() / "top", top), 0);
  DirectoryReader reader;
  ASSERT_EQ(DirectoryReader::open(top, reader), 0);
  std::set<std::pair<std::string, bool>> seen;
  while (const auto entry = reader.next()) seen.emplace(entry->name, entry->isFolder);
  EXPECT_EQ(seen, (std::set<std::pair<std::string, bool>>{
                      {"a", false}, {"sub", true}, {"empty", true}, {"link-to-a", false}}));

  EXPECT_EQ(folderSize(root() / "top"), 5u + 3u + 1u + 5u);
  EXPECT_EQ(folderSize(root() / "top/empty"), 0u);
  EXPECT_EQ(folderSize(root() / "missing"), 0u);
}

TEST_F(FileSystem, AnUnreadableSubfolderCountsAsEmpty) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  writeFile(root() / "top/a", "12345");
  writeFile(root() / "top/closed/b", "123");
  fs::permissions(root() / "top/closed", fs::perms::none);
  EXPECT_EQ(folderSize(root() / "top"), 5u);
}

}  // namespace
}  // namespace brisk::test
