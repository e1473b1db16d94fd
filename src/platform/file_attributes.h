#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brisk {

// Attribute bits of the attribute block.
inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;

// The attribute block that travels with every file and folder: the attribute bits, the
// creation, last access and last write times (FILETIME: 100-ns units since 1601-01-01
// UTC) and the size. On the wire it is 36 little-endian bytes: attributes (u32), the three
// times (each u32 low half, then u32 high half), size high (u32), size low (u32).
struct FileAttributeData {
  static constexpr std::size_t kWireSize = 36;

  std::uint32_t attributes = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t lastAccessTime = 0;
  std::uint64_t lastWriteTime = 0;
  std::uint64_t size = 0;

  bool isDirectory() const { return (attributes & kAttributeDirectory) != 0; }

  // The 36 wire bytes.
  std::string toWire() const;
  // Reads the first 36 bytes of `bytes`; the caller makes sure there are that many.
  static FileAttributeData fromWire(std::string_view bytes);

  friend bool operator==(const FileAttributeData&, const FileAttributeData&) = default;
};

}  // namespace brisk
