// The lines a peer sends in an encrypted session before the protocol's messages: each line
// is parsed, and one the parser takes must be written back byte for byte by its builder
// (there is one written form per line, so nothing else can slip through). The lines taken
// then drive a first-contact exchange, which must never give a code unless the peer
// committed and then revealed the nonce it committed to.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "secure/first_contact.h"
#include "secure/session_lines.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::string rebuilt(const brisk::SessionLine& line) {
  using brisk::SessionLineKind;
  switch (line.kind) {
    case SessionLineKind::Hello:
      return brisk::helloLine(line.knowsPeer, line.name);
    case SessionLineKind::Commit:
      return brisk::commitLine(line.value);
    case SessionLineKind::Reveal:
      return brisk::revealLine(line.value);
    case SessionLineKind::Confirm:
      return brisk::confirmLine();
    case SessionLineKind::Deny:
      return brisk::denyLine();
    case SessionLineKind::Caps:
      return brisk::capsLine(line.version, line.capabilities);
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisk;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const Fingerprint own{Digest{1}};
  const Fingerprint peer{Digest{2}};
  FirstContact exchange(TlsRole::Accepting, own, peer, Digest{3}, Digest{4});
  bool committed = false;
  bool revealed = false;
  while (!input.empty()) {
    const std::size_t end = input.find("\r\n");
    const std::size_t length = end == std::string_view::npos ? input.size() : end + 2;
    const std::string_view bytes = input.substr(0, length);
    input.remove_prefix(length);

    const SessionLineParse parse = parseSessionLine(bytes);
    check(parse.line.has_value() != !parse.error.empty());
    if (!parse.line) continue;
    check(rebuilt(*parse.line) == bytes);
    if (parse.line->kind == SessionLineKind::Hello) {
      check(!parse.line->name.empty() && parse.line->name.size() <= kMaxPeerNameBytes);
      continue;
    }
    if (parse.line->kind == SessionLineKind::Caps) {
      check(parse.line->version >= 1 && parse.line->version <= kMaxSessionVersion);
      check(parse.line->capabilities.size() <= kMaxCapabilities);
      continue;
    }
    const FirstContact::Step step = exchange.take(*parse.line);
    if (!step.send.empty()) committed = true;
    if (!step.code.empty()) {
      check(committed && !revealed && step.code.size() == 6);
      revealed = true;
    }
  }
  return 0;
}
