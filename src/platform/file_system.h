#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include <time.h>

#include "platform/file_attributes.h"

struct statx;

namespace brisk {

// Every function here that can fail returns 0 or the errno of the call that failed, so
// that the caller can put the error into its notice without errno being changed on the way.

// Converts between Unix time and FILETIME (100-ns units since 1601-01-01 UTC). Times
// before 1601 become 0.
std::uint64_t fileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);
// The time to give futimens/utimensat; a FILETIME of 0 carries no time and leaves the
// file's time as it is (UTIME_OMIT).
timespec unixTimeFromFileTime(std::uint64_t fileTime);

// The attribute block of an item from its statx data and its own name (hidden when it
// begins with "."): 0x10 folder, 0x01 when the owner may not write, 0x20 for files, 0x80
// when no other bit is set; creation time is the birth time where the file system keeps
// one, else the last write time; folders have size 0.
FileAttributeData attributeDataFromStatx(const struct statx& status, std::string_view name);

// The attribute block of what lies at `path`; a symbolic link at the end of the path is
// followed, since the person picked this item.
[[nodiscard]] int readAttributeData(const std::filesystem::path& path, FileAttributeData& data);
// The attribute block of the entry `name` of the open folder `folderFd`. With
// `followLink` a symbolic link is described by what it points to (its own name still
// decides the hidden bit).
[[nodiscard]] int readAttributeDataAt(int folderFd, std::string_view name, bool followLink,
                                      FileAttributeData& data);

// Whether a name received from the peer may be created in the save folder: not empty,
// not "." or "..", and without "/", "\\", NUL or other control characters (C0, DEL, C1),
// nor the bidirectional marks, overrides and isolates that make a name read as another,
// nor the line and paragraph separators (the characters display names drop). `name` is
// UTF-8, so a GBK trail byte that happens to equal "\\" has already become part of its
// character.
bool isValidReceivedName(std::string_view name);
// The same check on a name as the peer sent it (wire bytes): it must also be text the wire
// encoding defines to its last byte, since bytes that are no character decode to U+FFFD
// and two different names would become one. Every name received from the peer, the single
// file's name of an offer included, goes through this before it is decoded for display.
bool isValidReceivedWireName(std::string_view wire);

// Gives an open file or folder the last access and last write times of `data`. Linux
// changes them on every write, so this comes after the data. The creation time cannot be
// set on Linux and is left alone.
[[nodiscard]] int applyFileTimes(int fd, const FileAttributeData& data);
// Removes every write permission when `data` has the read-only bit; nothing otherwise
// (hidden needs nothing: the name carries it).
[[nodiscard]] int applyReadOnly(int fd, const FileAttributeData& data);

// The sum of the sizes of all files below `folder`, counted the way a folder is sent:
// a symbolic link to a file counts with the file's size, a symbolic link to a folder and
// anything that is neither file nor folder are left out, and a subfolder that cannot be
// read counts as empty. 0 when `folder` itself cannot be read. A large tree takes long:
// `stopped`, asked before each entry, ends the walk early (the sum is then partial).
std::uint64_t folderSize(const std::filesystem::path& folder,
                         const std::function<bool()>& stopped = {});

// The bytes an unprivileged writer may still put on the file system that holds `folder`;
// nothing when it cannot be told.
std::optional<std::uint64_t> freeBytesAt(const std::filesystem::path& folder);

}  // namespace brisk
