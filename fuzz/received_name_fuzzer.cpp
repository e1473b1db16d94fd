// A name as the peer sends it (GB18030 bytes), decoded and checked the way the receiving
// side checks it before creating anything. A name let through must be one entry of the
// save folder: never empty, "." or "..", never holding a separator or a control byte. The
// stream decoder must give the same text however valid text was cut.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_frontend.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool isSingleEntry(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\') return false;
  }
  const std::filesystem::path path(name);
  return !path.has_root_path() && path.filename() == path && path.parent_path().empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisk;
  const std::string_view wire(reinterpret_cast<const char*>(data), size);
  const std::string name = fromWire(wire);
  if (isValidReceivedName(name)) check(isSingleEntry(name));

  // Chat text arrives in reads cut anywhere; the decoder holds a cut character back.
  fuzz::FuzzFrontend cuts(fuzz::seedOf(data, size));
  WireDecoder decoder;
  std::string pieces;
  for (std::size_t at = 0; at < wire.size();) {
    const std::size_t length = 1 + cuts.pick(8);
    pieces += decoder.decode(wire.substr(at, length));
    at += length;
  }
  const std::size_t prefix = wirePrefixLength(wire, wire.size());
  check(prefix <= wire.size());
  // Bytes that are no text may come out differently; real text may not.
  const bool isText = name.find("\xEF\xBF\xBD") == std::string::npos;
  if (prefix == wire.size() && isText) check(pieces == name);

  // Sending our own text: the text must come back as it went.
  const std::string wireAgain = toWire(name);
  check(fromWire(wireAgain) == name);
  return 0;
}
