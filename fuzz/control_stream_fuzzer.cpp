// The control connection as a hostile peer can fill it: the bytes are cut into reads at
// places chosen from the input, framed, and every control message is dispatched to a Peer
// whose person answers at random. The framer must neither lose nor invent a byte.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/timing.h"
#include "fuzz_frontend.h"
#include "link/control_framer.h"
#include "link/control_messages.h"
#include "link/message_fields.h"
#include "link/peer.h"
#include "link/wire_keys.h"
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
  return timing;
}

// Slots in the states a running program has them in, so that answers find something:
// 1 a waiting prompt, 2 an offer of ours not answered yet, 3 a receiving transfer that runs.
void prepareSlots(Peer& peer) {
  peer.slots().setPrompt(1, std::make_shared<PromptHandle>("offer.txt (1 KB)"));
  auto offer = std::make_shared<TransferRecord>();
  offer->index = 2;
  offer->isSender = true;
  (void)peer.slots().storeRecord(2, offer);
  auto running = std::make_shared<TransferRecord>();
  running->index = 3;
  running->isConnector = true;
  running->started = true;
  (void)peer.slots().storeRecord(3, running);
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path saveFolder = fuzz::scratchFolder("control_stream_fuzzer");
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  fuzz::FuzzFrontend frontend(fuzz::seedOf(data, size), saveFolder);
  Peer peer(frontend, noPauses());
  prepareSlots(peer);

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
  for (const ControlFramer::Piece& piece : pieces) {
    check(!piece.bytes.empty());
    joined += piece.bytes;
    if (!piece.isControl) {
      (void)decoder.decode(piece.bytes);
      continue;
    }
    check(piece.bytes.starts_with(kControlMarker));
    for (const std::string_view key : {"Index:", "PORT:"}) {
      const MessageNumber number = numberAfter(piece.bytes, key);
      check(number.found == (piece.bytes.find(key) != std::string::npos));
    }
    (void)unsignedAfter(piece.bytes, kFileSizeKey);
    dispatchControlMessage(peer, piece.bytes);
  }
  check(joined == stream);
  return 0;
}
