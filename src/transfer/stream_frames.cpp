#include "transfer/stream_frames.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "transfer/data_records.h"

namespace brisk {

namespace {

constexpr char kSendAction = 'S';
constexpr char kSkipAction = '-';

void putNumber(std::string& out, std::uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out += static_cast<char>((value >> shift) & 0xFF);
  }
}

std::uint64_t getNumber(std::string_view in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

bool knownKind(char kind) {
  static constexpr std::string_view kKinds = "MmFHNEPpVCBDX";
  return kKinds.find(kind) != std::string_view::npos;
}

bool knownProblem(std::uint8_t problem) {
  return problem <= static_cast<std::uint8_t>(FileProblem::Unwritable);
}

// The fixed-size digest or tag at `at` of a payload whose size was checked.
template <std::size_t Size>
std::array<unsigned char, Size> bytesAt(std::string_view in, std::size_t at) {
  std::array<unsigned char, Size> bytes{};
  std::memcpy(bytes.data(), in.data() + at, Size);
  return bytes;
}

}  // namespace

std::string frameBytes(FrameKind kind, std::string_view payload) {
  std::string bytes;
  bytes.reserve(kFrameHeaderSize + payload.size());
  bytes += static_cast<char>(kind);
  putNumber(bytes, payload.size(), 4);
  bytes += payload;
  return bytes;
}

std::optional<std::size_t> completeFrameLength(std::string_view pending) {
  if (pending.size() < kFrameHeaderSize) return std::nullopt;
  const std::uint64_t length = getNumber(pending, 1, 4);
  if (length > kMaxFramePayload) return pending.size();
  if (pending.size() < kFrameHeaderSize + length) return std::nullopt;
  return kFrameHeaderSize + length;
}

std::optional<Frame> parseFrame(std::string_view bytes) {
  if (bytes.size() < kFrameHeaderSize || !knownKind(bytes.front())) return std::nullopt;
  const std::uint64_t length = getNumber(bytes, 1, 4);
  if (length > kMaxFramePayload || bytes.size() != kFrameHeaderSize + length) return std::nullopt;
  return Frame{static_cast<FrameKind>(bytes.front()), std::string(bytes.substr(kFrameHeaderSize))};
}

std::string manifestRecord(const ManifestEntry& entry) {
  switch (entry.kind) {
    case ManifestEntry::Kind::Folder:
      return folderRecord(entry.wireName, entry.attributes);
    case ManifestEntry::Kind::File:
      return fileHeader(entry.wireName, entry.size, entry.attributes);
    case ManifestEntry::Kind::Upward:
      return std::string(kUpwardRecord);
  }
  return {};
}

ManifestChunk parseManifestChunk(std::string_view payload) {
  ManifestChunk chunk;
  while (!payload.empty()) {
    const std::optional<std::size_t> length = completeRecordLength(payload);
    const std::string_view record = payload.substr(0, length.value_or(payload.size()));
    ManifestEntry entry;
    bool ok = length.has_value();
    if (ok && record.front() == kFolderMarker) {
      const std::optional<FolderRecord> folder = parseFolderRecord(record);
      ok = folder.has_value();
      if (ok) {
        entry.kind = ManifestEntry::Kind::Folder;
        entry.wireName = folder->wireName;
        entry.attributes = folder->attributes;
      }
    } else if (ok && record.front() == kFileMarker) {
      const FileHeader header = parseFileHeader(record);
      ok = header.problem == FileHeader::Problem::None;
      entry.wireName = header.wireName;
      entry.size = header.size;
      entry.attributes = header.attributes;
    } else {
      ok = ok && record == kUpwardRecord;
      entry.kind = ManifestEntry::Kind::Upward;
    }
    if (!ok) {
      chunk.badRecord = std::string(record);
      return chunk;
    }
    chunk.entries.push_back(std::move(entry));
    payload.remove_prefix(record.size());
  }
  return chunk;
}

std::string planBytes(const std::vector<PlanEntry>& entries) {
  std::string bytes;
  bytes.reserve(entries.size() * kPlanEntrySize);
  for (const PlanEntry& entry : entries) {
    bytes += entry.skip ? kSkipAction : kSendAction;
    putNumber(bytes, entry.offset, 8);
  }
  return bytes;
}

std::optional<std::vector<PlanEntry>> parsePlan(std::string_view payload) {
  if (payload.size() % kPlanEntrySize != 0) return std::nullopt;
  std::vector<PlanEntry> entries;
  entries.reserve(payload.size() / kPlanEntrySize);
  for (std::size_t at = 0; at < payload.size(); at += kPlanEntrySize) {
    if (payload[at] != kSendAction && payload[at] != kSkipAction) return std::nullopt;
    entries.push_back(PlanEntry{payload[at] == kSkipAction, getNumber(payload, at + 1, 8)});
  }
  return entries;
}

std::string fileStartBytes(const FileStart& start) {
  std::string bytes;
  putNumber(bytes, start.file, 4);
  putNumber(bytes, start.offset, 8);
  return bytes;
}

std::string fileEndBytes(const FileEnd& end) {
  std::string bytes;
  putNumber(bytes, end.file, 4);
  bytes += static_cast<char>(end.problem);
  bytes.append(reinterpret_cast<const char*>(end.tag.data()), kContentTagSize);
  return bytes;
}

std::string fileNumberBytes(const FileNumber& number) {
  std::string bytes;
  putNumber(bytes, number.file, 4);
  bytes += static_cast<char>(number.problem);
  return bytes;
}

std::string verifyBytes(const VerifyPrefix& verify) {
  std::string bytes;
  putNumber(bytes, verify.file, 4);
  bytes.append(reinterpret_cast<const char*>(verify.digest.data()), kDigestSize);
  return bytes;
}

std::optional<FileStart> parseFileStart(std::string_view payload) {
  if (payload.size() != 12) return std::nullopt;
  return FileStart{static_cast<std::uint32_t>(getNumber(payload, 0, 4)), getNumber(payload, 4, 8)};
}

std::optional<FileEnd> parseFileEnd(std::string_view payload) {
  if (payload.size() != 5 + kContentTagSize) return std::nullopt;
  const auto problem = static_cast<std::uint8_t>(payload[4]);
  if (!knownProblem(problem)) return std::nullopt;
  return FileEnd{static_cast<std::uint32_t>(getNumber(payload, 0, 4)),
                 static_cast<FileProblem>(problem), bytesAt<kContentTagSize>(payload, 5)};
}

std::optional<FileNumber> parseFileNumber(std::string_view payload) {
  if (payload.size() != 5) return std::nullopt;
  const auto problem = static_cast<std::uint8_t>(payload[4]);
  if (!knownProblem(problem)) return std::nullopt;
  return FileNumber{static_cast<std::uint32_t>(getNumber(payload, 0, 4)),
                    static_cast<FileProblem>(problem)};
}

std::optional<VerifyPrefix> parseVerify(std::string_view payload) {
  if (payload.size() != 4 + kDigestSize) return std::nullopt;
  return VerifyPrefix{static_cast<std::uint32_t>(getNumber(payload, 0, 4)),
                      bytesAt<kDigestSize>(payload, 4)};
}

}  // namespace brisk
