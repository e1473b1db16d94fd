#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/diagnostics.h"
#include "platform/file_attributes.h"

namespace brisk {

// The records and answers of a data connection, as wire bytes. Names inside them are GBK
// (GB18030) bytes; callers convert with toWire/fromWire. The texts of the fixed records and
// error lines are in common/diagnostics.h.

inline constexpr std::string_view kFileSizeField = "\r\nFileSize:";
inline constexpr std::string_view kFileAttrField = "\r\nFileAttr:";
inline constexpr char kFolderMarker = '>';
inline constexpr char kUpwardMarker = '<';
inline constexpr char kFileMarker = '\\';
inline constexpr char kErrorMarker = '|';
inline constexpr char kSkipMarker = '-';
inline constexpr char kGoAheadMarker = '+';
inline constexpr std::string_view kUpwardRecord = "< upward";
inline constexpr std::string_view kAcknowledgement = "0";

// A fixed record is always this long: its text, a NUL and zero bytes.
inline constexpr std::size_t kFixedRecordSize = 30;
// Records longer than this are not waited for any further: real names are far shorter,
// and a peer must not make us buffer without end.
inline constexpr std::size_t kMaxRecordSize = 8192;

// The deepest folder nesting either side sends or receives, counting the offered folder
// as the first level. Real trees stay far below it; each open level holds descriptors on
// both sides, so a tree of unbounded depth would exhaust them (and the peer's patience).
inline constexpr std::size_t kMaxFolderDepth = 256;

// `text` (at most 29 bytes) padded with zero bytes to a fixed record.
std::string fixedRecord(std::string_view text);
// ">" + name + "\r\nFileAttr:" + the attribute block.
std::string folderRecord(std::string_view wireName, const FileAttributeData& data);
// "\\" + name + "\r\nFileSize:" + size + "\r\nFileAttr:" + the attribute block.
std::string fileHeader(std::string_view wireName, std::uint64_t size,
                       const FileAttributeData& data);
// "+" + offset.
std::string goAhead(std::uint64_t offset);

// The text of a record or answer as its reader sees it: everything before the first NUL.
std::string_view recordText(std::string_view record);

// The length of the record that begins `pending` (bytes received by the receiving side),
// or nothing while its fields show that more bytes belong to it. A line beginning with
// "|" is complete at its NUL; without one its end is the end of the connection.
std::optional<std::size_t> completeRecordLength(std::string_view pending);

// The parts of a folder record; nothing when "\r\nFileAttr:" or its block is missing.
struct FolderRecord {
  std::string_view wireName;
  FileAttributeData attributes;
};
std::optional<FolderRecord> parseFolderRecord(std::string_view record);

// The parts of a file header, or what is missing from it.
struct FileHeader {
  enum class Problem { None, NoFileSize, NoFileAttr, BadSize };
  Problem problem = Problem::None;
  std::string_view wireName;
  std::uint64_t size = 0;
  FileAttributeData attributes;
};
FileHeader parseFileHeader(std::string_view record);

// The offset of a go-ahead answer ("+" and decimal digits, anything after them ignored);
// nothing when the number does not fit in 64 bits. No digits at all read as 0.
std::optional<std::uint64_t> parseGoAhead(std::string_view answer);

}  // namespace brisk
