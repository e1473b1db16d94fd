#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_attributes.h"
#include "transfer/content_hash.h"

namespace brisk {

// The frames of a streamed transfer, used between two Brisk peers that both offered it
// (never in a plain session). Each frame is a kind byte, the payload's length (4 bytes,
// big-endian) and the payload. File data travels outside frames, right after the file's
// FileStart, so that it moves without copying.
//
// Sending side:   Manifest... ManifestEnd, then per file FileStart + data + FileEnd or
//                 FileNotSent, then End; Abort when it gives up.
// Receiving side: Plan... PlanEnd (every question settled), then Verify before a file
//                 that continues one on disk, Confirm in batches, FileFailed, and Done
//                 after End; Abort when it gives up.
enum class FrameKind : char {
  Manifest = 'M',
  ManifestEnd = 'm',
  FileStart = 'F',
  FileEnd = 'H',
  FileNotSent = 'N',
  End = 'E',
  Plan = 'P',
  PlanEnd = 'p',
  Verify = 'V',
  Confirm = 'C',
  FileFailed = 'B',
  Done = 'D',
  Abort = 'X',
};

inline constexpr std::size_t kFrameHeaderSize = 5;
// Manifest and plan chunks stay far below it; a larger length is refused, so that a peer
// cannot make this side buffer without end.
inline constexpr std::size_t kMaxFramePayload = 1 << 20;
inline constexpr std::size_t kMaxFrameSize = kFrameHeaderSize + kMaxFramePayload;
// The most entries one manifest may hold (files, folders and upward steps together): far
// more than any real offer, small enough to keep a hostile one from exhausting memory.
inline constexpr std::size_t kMaxManifestEntries = 4'000'000;

struct Frame {
  FrameKind kind = FrameKind::Abort;
  std::string payload;
};

std::string frameBytes(FrameKind kind, std::string_view payload = {});
// The length of the frame that begins `pending`, or nothing while more bytes belong to
// it; a length beyond kMaxFramePayload reads as everything pending (and parseFrame refuses
// it).
std::optional<std::size_t> completeFrameLength(std::string_view pending);
// A whole frame of a known kind; nothing otherwise.
std::optional<Frame> parseFrame(std::string_view bytes);

// One entry of a manifest, in the order of the walk: a folder is entered, its entries
// follow, an upward step leaves it. Names are wire (GBK) bytes, one component each, and
// are checked by the receiving side before use.
struct ManifestEntry {
  enum class Kind : std::uint8_t { Folder, File, Upward };
  Kind kind = Kind::File;
  std::string wireName;
  std::uint64_t size = 0;
  FileAttributeData attributes;
};
// The entry as manifest bytes: the records of the plain protocol (folder record, file
// header, upward record), which their parsers and name checks already cover.
std::string manifestRecord(const ManifestEntry& entry);
// The entries of one manifest chunk, or the first record that is not one (for the
// malformed-record error line).
struct ManifestChunk {
  std::vector<ManifestEntry> entries;
  std::optional<std::string> badRecord;
};
ManifestChunk parseManifestChunk(std::string_view payload);

// What the receiving side wants of each file of the manifest, in its order.
struct PlanEntry {
  bool skip = false;
  std::uint64_t offset = 0;  // the data starts here; beyond 0 after a check of the part on disk
  friend bool operator==(const PlanEntry&, const PlanEntry&) = default;
};
inline constexpr std::size_t kPlanEntrySize = 9;
std::string planBytes(const std::vector<PlanEntry>& entries);
// Nothing when the payload is not a whole number of entries or holds an unknown action.
std::optional<std::vector<PlanEntry>> parsePlan(std::string_view payload);

// The fixed payloads, each with the file's number in the manifest's order of files.
struct FileStart {
  std::uint32_t file = 0;
  std::uint64_t offset = 0;
};
enum class FileProblem : std::uint8_t {
  None = 0,
  Changed = 1,     // the sending side's file changed while it was read
  Unreadable = 2,  // it could not be read (and the person chose to go on)
  Mismatch = 3,    // the receiving side's check differs from the sending side's
  Unwritable = 4,  // the receiving side could not finish it
};
struct FileEnd {
  std::uint32_t file = 0;
  FileProblem problem = FileProblem::None;
  ContentTag tag{};  // of the data sent, from the FileStart's offset to the end
};
struct FileNumber {  // FileNotSent, FileFailed, Confirm (the count of files settled)
  std::uint32_t file = 0;
  FileProblem problem = FileProblem::None;
};
struct VerifyPrefix {
  std::uint32_t file = 0;
  ContentDigest digest{};  // of the part on disk, from the start to the planned offset
};

std::string fileStartBytes(const FileStart& start);
std::string fileEndBytes(const FileEnd& end);
std::string fileNumberBytes(const FileNumber& number);
std::string verifyBytes(const VerifyPrefix& verify);
std::optional<FileStart> parseFileStart(std::string_view payload);
std::optional<FileEnd> parseFileEnd(std::string_view payload);
std::optional<FileNumber> parseFileNumber(std::string_view payload);
std::optional<VerifyPrefix> parseVerify(std::string_view payload);

}  // namespace brisk
