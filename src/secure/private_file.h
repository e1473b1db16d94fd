#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace brisk {

// The folder the settings live in ($XDG_CONFIG_HOME/Software, by default ~/.config/Software):
// the identity and the trusted peers are kept beside them.
std::filesystem::path settingsFolder();

// Files only their owner may read: the identity's private key, the list of trusted peers.
// Nobody else ever sees their content, not even for a moment while they are written.

struct PrivateFileRead {
  enum class Status { Ok, Missing, Failed };
  Status status = Status::Failed;
  std::string bytes;
  // The file was readable or writable by others and has been made the owner's alone.
  bool tightened = false;
  std::string error;  // for the person, when Failed
};

// Reads the whole file. Refuses (Failed) anything but a regular file of this user (a link
// is not followed) and anything larger than `maxBytes`. A file that others may read or
// write is made 0600 first.
PrivateFileRead readPrivateFile(const std::filesystem::path& path, std::size_t maxBytes);

struct PrivateFileWrite {
  enum class Status { Written, AlreadyThere, Failed };
  Status status = Status::Failed;
  std::string error;  // for the person, when Failed
};

enum class WriteMode {
  Replace,     // the new content replaces the file's, all at once
  CreateOnly,  // a file that is already there (made meanwhile elsewhere) is left as it is
};

// Writes the file whole: into a new file of the same folder made 0600 from the start
// (O_EXCL), flushed to disk, then renamed over the name, so that a reader finds the old
// content or the new, never a part, and a crash leaves no half-written file. Creates
// missing folders.
PrivateFileWrite writePrivateFile(const std::filesystem::path& path, std::string_view bytes,
                                  WriteMode mode);

}  // namespace brisk
