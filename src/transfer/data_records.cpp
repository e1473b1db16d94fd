#include "transfer/data_records.h"

#include <charconv>

namespace brisk {

namespace {

constexpr std::size_t kAttributeBlockSize = FileAttributeData::kWireSize;

// Where the attribute block after "\r\nFileAttr:" ends, searching from `from`.
std::optional<std::size_t> attributeBlockEnd(std::string_view record, std::size_t from) {
  const std::size_t field = record.find(kFileAttrField, from);
  if (field == std::string_view::npos) return std::nullopt;
  const std::size_t end = field + kFileAttrField.size() + kAttributeBlockSize;
  if (end > record.size()) return std::nullopt;
  return end;
}

}  // namespace

std::string fixedRecord(std::string_view text) {
  std::string record(text.substr(0, kFixedRecordSize - 1));
  record.resize(kFixedRecordSize, '\0');
  return record;
}

std::string folderRecord(std::string_view wireName, const FileAttributeData& data) {
  std::string record;
  record.reserve(1 + wireName.size() + kFileAttrField.size() + kAttributeBlockSize);
  record += kFolderMarker;
  record += wireName;
  record += kFileAttrField;
  record += data.toWire();
  return record;
}

std::string fileHeader(std::string_view wireName, std::uint64_t size,
                       const FileAttributeData& data) {
  std::string record;
  record += kFileMarker;
  record += wireName;
  record += kFileSizeField;
  record += std::to_string(size);
  record += kFileAttrField;
  record += data.toWire();
  return record;
}

std::string goAhead(std::uint64_t offset) {
  return std::string(1, kGoAheadMarker) + std::to_string(offset);
}

std::string_view recordText(std::string_view record) {
  return record.substr(0, record.find('\0'));
}

std::optional<std::size_t> completeRecordLength(std::string_view pending) {
  if (pending.empty()) return std::nullopt;
  switch (pending.front()) {
    case kFolderMarker:
      return attributeBlockEnd(pending, 1);
    case kFileMarker: {
      const std::size_t size = pending.find(kFileSizeField, 1);
      if (size == std::string_view::npos) return std::nullopt;
      return attributeBlockEnd(pending, size + kFileSizeField.size());
    }
    case kUpwardMarker:
      if (pending.size() < kUpwardRecord.size()) return std::nullopt;
      return kUpwardRecord.size();
    case kErrorMarker: {
      const std::size_t nul = pending.find('\0');
      if (nul == std::string_view::npos) return std::nullopt;
      return std::min(pending.size(), std::max(nul + 1, kFixedRecordSize));
    }
    default:
      // Malformed: it is answered at once with what came.
      return pending.size();
  }
}

std::optional<FolderRecord> parseFolderRecord(std::string_view record) {
  const std::size_t field = record.find(kFileAttrField, 1);
  if (field == std::string_view::npos) return std::nullopt;
  const std::size_t block = field + kFileAttrField.size();
  if (record.size() < block + kAttributeBlockSize) return std::nullopt;
  return FolderRecord{record.substr(1, field - 1),
                      FileAttributeData::fromWire(record.substr(block))};
}

FileHeader parseFileHeader(std::string_view record) {
  FileHeader header;
  const std::size_t sizeField = record.find(kFileSizeField, 1);
  if (sizeField == std::string_view::npos) {
    header.problem = FileHeader::Problem::NoFileSize;
    return header;
  }
  header.wireName = record.substr(1, sizeField - 1);
  const std::size_t digits = sizeField + kFileSizeField.size();
  const std::size_t attrField = record.find(kFileAttrField, digits);
  const std::size_t block = attrField + kFileAttrField.size();
  if (attrField == std::string_view::npos || record.size() < block + kAttributeBlockSize) {
    header.problem = FileHeader::Problem::NoFileAttr;
    return header;
  }
  const char* first = record.data() + digits;
  const char* last = record.data() + attrField;
  const auto [end, ec] = std::from_chars(first, last, header.size);
  if (ec != std::errc() || end != last) {
    header.problem = FileHeader::Problem::BadSize;
    return header;
  }
  header.attributes = FileAttributeData::fromWire(record.substr(block));
  return header;
}

std::optional<std::uint64_t> parseGoAhead(std::string_view answer) {
  std::uint64_t offset = 0;
  const std::string_view digits = answer.substr(1);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), offset);
  if (ec == std::errc::result_out_of_range) return std::nullopt;
  return ec == std::errc() ? offset : 0;
}

}  // namespace brisk
