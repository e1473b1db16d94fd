// The records of a data connection as a hostile sending side can send them, read the way
// the receiving side reads them: put back together from reads cut anywhere, then parsed.
// A record's end must not depend on where the reads were cut, and what the parsers hand
// back must lie inside the record. The sending side's reading of answers is fed the same
// bytes.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_frontend.h"
#include "transfer/data_records.h"

namespace {

using namespace brisk;

void check(bool condition) {
  if (!condition) std::abort();
}

bool inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

// The folder and file records must give back what they were made of.
void checkRoundTrip(std::string_view name, std::uint64_t size, const FileAttributeData& data) {
  if (name.find(kFileSizeField) != std::string_view::npos ||
      name.find(kFileAttrField) != std::string_view::npos) {
    return;
  }
  const std::string header = fileHeader(name, size, data);
  check(completeRecordLength(header) == header.size());
  const FileHeader parsed = parseFileHeader(header);
  check(parsed.problem == FileHeader::Problem::None && parsed.wireName == name &&
        parsed.size == size && parsed.attributes == data);
  const std::string folder = folderRecord(name, data);
  check(completeRecordLength(folder) == folder.size());
  const auto parsedFolder = parseFolderRecord(folder);
  check(parsedFolder && parsedFolder->wireName == name && parsedFolder->attributes == data);
  check(parseGoAhead(goAhead(size)) == size);
}

// Parses one record the way the receiving side does; returns the file data that follows it.
std::uint64_t parseRecord(std::string_view record) {
  check(!record.empty());
  (void)recordText(record);
  (void)parseGoAhead(record);  // the same bytes, read as an answer by the sending side
  switch (record.front()) {
    case kFolderMarker:
      if (const auto folder = parseFolderRecord(record)) {
        check(inside(folder->wireName, record));
        checkRoundTrip(folder->wireName, folder->attributes.size, folder->attributes);
      }
      return 0;
    case kFileMarker: {
      const FileHeader header = parseFileHeader(record);
      check(inside(header.wireName, record));
      if (header.problem != FileHeader::Problem::None) return 0;
      checkRoundTrip(header.wireName, header.size, header.attributes);
      return header.size;
    }
    default:
      return 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  fuzz::FuzzFrontend cuts(fuzz::seedOf(data, size));
  std::size_t used = 0;      // bytes of the stream taken out as records or file data
  std::size_t received = 0;  // bytes of the stream that have come so far
  while (used < stream.size()) {
    received = std::min(stream.size(), received + 1 + cuts.pick(64));
    const std::string_view pending = stream.substr(used, received - used);
    std::optional<std::size_t> length = completeRecordLength(pending);
    if (!length && pending.size() < kMaxRecordSize && received < stream.size()) continue;
    if (length) {
      check(*length > 0 && *length <= pending.size());
      // Folder, file and upward records end where their fields say, however they were cut.
      const char marker = pending.front();
      if (marker == kFolderMarker || marker == kFileMarker || marker == kUpwardMarker) {
        check(completeRecordLength(stream.substr(used)) == length);
      }
    }
    const std::size_t taken = length ? *length : pending.size();
    const std::uint64_t fileData = parseRecord(pending.substr(0, taken));
    used += taken;
    used += static_cast<std::size_t>(std::min<std::uint64_t>(fileData, stream.size() - used));
    received = std::max(received, used);
  }
  return 0;
}
