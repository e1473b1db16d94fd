// The control connection as a hostile peer can fill it: the bytes are cut into reads at
// places chosen from the input, framed, read once, and every control message is handed to
// the link code, whose person answers at random and makes offers of its own in between.
// The connection ends at a place the input chooses. The framer must neither lose nor
// invent a byte, and once the connection has ended and every thread it left has finished,
// every Index is free and every offer and transfer was reported ended exactly once.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/timing.h"
#include "fuzz_frontend.h"
#include "link/control_framer.h"
#include "link/control_message.h"
#include "link/control_messages.h"
#include "link/offer_composition.h"
#include "link/wire_keys.h"
#include "link_harness.h"
#include "platform/text_codec.h"

namespace {

using namespace brisk;

Timing noPauses() {
  Timing timing;
  timing.noticePause = Timing::ms(0);
  timing.messagePause = Timing::ms(0);
  timing.acceptLimit = Timing::ms(0);
  timing.progressTick = Timing::ms(1);
  timing.connectRetryWait = Timing::ms(0);
  timing.controlRestWait = Timing::ms(0);
  timing.recordRestWait = Timing::ms(0);
  timing.acknowledgementWait = Timing::ms(0);
  timing.closeDrainWait = Timing::ms(0);
  timing.peerStopWait = Timing::ms(0);
  timing.offerPause = Timing::ms(0);
  return timing;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// What reading a message once must agree with: the keys it holds.
void checkParsed(std::string_view bytes, const ControlMessage& message) {
  if (message.kind == ControlKind::Unknown) return;
  const bool hasIndex = bytes.find(kIndexKey) != std::string_view::npos;
  check(message.index.has_value() != !message.problem.empty() || message.kind == ControlKind::Ask);
  if (message.index) check(hasIndex && *message.index >= 1 && *message.index <= 99);
  if (message.port.found) check(bytes.find(kPortKey) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path saveFolder = fuzz::scratchFolder("control_stream_fuzzer");
  static const std::filesystem::path offered = fuzz::offeredFile(saveFolder);
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  fuzz::FuzzFrontend frontend(fuzz::seedOf(data, size), saveFolder);
  // Either role; data ports far from anything else, which nobody connects to.
  fuzz::LinkHarness link(frontend, noPauses(), frontend.pick(2) == 0, 47000);

  ControlFramer framer;
  WireDecoder decoder;
  std::vector<ControlFramer::Piece> pieces;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t length = 1 + frontend.pick(48);
    for (auto& piece : framer.feed(stream.substr(at, length))) pieces.push_back(std::move(piece));
    at += length;
  }
  for (auto& piece : framer.flush()) pieces.push_back(std::move(piece));
  check(!framer.holdsPartialMessage());

  std::string joined;
  int peerOffers = 0;
  int ownOffers = 0;
  const std::size_t linkEnd = frontend.pick(static_cast<unsigned>(pieces.size()) + 1);
  for (std::size_t at = 0; at < pieces.size(); ++at) {
    const ControlFramer::Piece& piece = pieces[at];
    check(!piece.bytes.empty());
    joined += piece.bytes;
    if (at >= linkEnd) continue;
    if (frontend.pick(4) == 0) {
      if (const auto key = link.offers().reserve()) {
        ++ownOffers;
        offerItems(link, *key, {offered});
      }
    }
    if (!piece.isControl) {
      (void)decoder.decode(piece.bytes);
      continue;
    }
    check(piece.bytes.starts_with(kControlMarker));
    const ControlMessage message = parseControlMessage(piece.bytes);
    checkParsed(piece.bytes, message);
    peerOffers += message.kind == ControlKind::Ask && message.problem.empty();
    dispatchControlMessage(link, message);
  }
  check(joined == stream);

  link.endLink();
  link.joinThreads();
  check(!link.offers().anyInUse());
  check(frontend.peerOffersEnded == peerOffers);
  check(frontend.ownOffersEnded == ownOffers);
  check(frontend.transfersEnded == frontend.transfersStarted);
  return 0;
}
