#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <dirent.h>

#include "platform/file_attributes.h"
#include "platform/file_descriptor.h"

namespace brisk {

// How a received file is opened: created and never existing before, continued at its end,
// or emptied and written again.
enum class OpenMode { New, Resume, Overwrite };

// An open folder. Its entries are reached by name relative to it (openat, mkdirat), so
// that a folder being received stays the same folder whatever happens to the path above
// it, and a name is always one component. Nothing opened below a Directory follows a
// symbolic link, except reading a file, where a link to a file stands for that file.
// Operations return 0 or the errno of the call that failed.
class Directory {
 public:
  // Opens the folder at `path`, following symbolic links on the way (the person chose it).
  [[nodiscard]] static int open(const std::filesystem::path& path, Directory& out);

  bool isOpen() const { return fd_.isOpen(); }
  int fd() const { return fd_.get(); }

  // Creates the folder `name`; fails with EEXIST when anything of that name is there.
  [[nodiscard]] int createFolder(std::string_view name) const;
  // Opens the folder `name`; a symbolic link is refused (ELOOP or ENOTDIR).
  [[nodiscard]] int openFolder(std::string_view name, Directory& out) const;
  // Looks `name` up: `found` tells whether anything of that name is there, a symbolic
  // link included. Only ENOENT means absent; any other failure (a name too long, no
  // permission) is returned as itself, since nothing can be said about the name then.
  [[nodiscard]] int exists(std::string_view name, bool& found) const;
  // Opens the regular file `name` for writing (and reading) as `mode` says; `size` tells
  // what it holds once open (0 for a new or emptied file). A symbolic link is refused
  // (ELOOP) and so is anything but a regular file (EISDIR, EINVAL). OpenMode::New fails
  // with EEXIST when anything of that name is there, a symbolic link included, so it is
  // also the way to find out whether the name is free.
  [[nodiscard]] int openFile(std::string_view name, OpenMode mode, FileDescriptor& out,
                             std::uint64_t& size) const;
  // Opens the regular file `name`, or the regular file a symbolic link `name` points to,
  // for reading, and describes it in `data` (its size, times and attribute bits, the
  // hidden bit from `name`) as it is once open. A folder gives EISDIR, anything else that
  // is not a file EINVAL; a FIFO never blocks the open.
  [[nodiscard]] int openFileForReading(std::string_view name, FileDescriptor& out,
                                       FileAttributeData& data) const;

 private:
  FileDescriptor fd_;
};

// One entry of a folder listing.
struct DirectoryEntry {
  std::string name;
  bool isFolder = false;
};

// Lists the entries of an open folder in the order the file system keeps them. Reported
// are folders and files, where a symbolic link to a file counts as a file. Left out are
// "." and "..", symbolic links to folders (following them could loop forever or leave the
// offered tree), dangling links, and anything that is neither file nor folder (FIFOs,
// sockets, devices), which could block or never end when read.
class DirectoryReader {
 public:
  // Starts listing `folder`. The reader has its own descriptor; `folder` may go first.
  [[nodiscard]] static int open(const Directory& folder, DirectoryReader& out);

  bool isOpen() const { return stream_ != nullptr; }
  // The next entry; nothing at the end of the listing, or when it cannot be continued.
  std::optional<DirectoryEntry> next();

 private:
  struct Closer {
    void operator()(DIR* stream) const { ::closedir(stream); }
  };
  std::unique_ptr<DIR, Closer> stream_;
};

}  // namespace brisk
