#include "link/offer_composition.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "common/notices.h"
#include "link/offer_body.h"
#include "link/peer.h"
#include "link/waiting_thread.h"
#include "platform/file_system.h"

namespace brisk {

namespace {

// The checks both entry points make first: a connection, then a free slot (reserved).
std::optional<int> reserveSlotForOffer(Peer& peer) {
  if (!peer.connected()) {
    peer.notices().showNotice("未连接或连接已断开！");
    return std::nullopt;
  }
  const std::optional<int> index = peer.slots().findFreeIndex();
  if (!index) peer.notices().showNoticeModal("同时传送的文件太多");
  return index;
}

// The item's own path without a trailing slash, so that its name is the last part.
std::filesystem::path itemPath(const std::filesystem::path& path) {
  std::filesystem::path normal = path.lexically_normal();
  if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
    normal = normal.parent_path();
  }
  return normal;
}

// Reads the items' attributes, totals their folders and queues the ASK in the kept place
// `place` among the person's messages; on any failure the place and the slot are given up.
void composeAndQueueOffer(Peer& peer, int index, const std::vector<std::filesystem::path>& items,
                          std::uint64_t place) {
  const auto giveUp = [&peer, index, place] {
    peer.withdrawOfferPlace(place);
    peer.slots().dropReservation(index);
  };
  auto record = std::make_shared<TransferRecord>();
  std::vector<OfferItem> listed;
  for (const std::filesystem::path& item : items) {
    const std::filesystem::path path = itemPath(item);
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
      // A file system root, or a path that names no item: nothing to call it on the wire.
      giveUp();
      peer.notices().showNoticeModal("strrchr failed");
      return;
    }
    FileAttributeData data;
    if (const int error = readAttributeData(path, data)) {
      std::string text = "GetFileAttributesEx failed:\r\n" + path.string();
      appendErrorText(error, text);
      giveUp();
      peer.notices().showNotice(text);
      return;
    }
    const std::uint64_t size =
        data.isDirectory() ? folderSize(path, [&peer] { return peer.stopping(); }) : data.size;
    if (peer.stopping()) {
      giveUp();  // the program is closing: the total is partial, and nobody waits for it
      return;
    }
    fileQueuePush(record->fileQueue, name, data, path.parent_path());
    listed.push_back(OfferItem{name, data.isDirectory(), size});
  }

  const OfferText offer = composeOffer(index, listed);
  record->index = index;
  record->totalSize = offer.total;
  record->peerAddress = peer.controlPeerAddress();
  record->pathBuffer = itemPath(items.back()).parent_path();
  record->isConnector = peer.connectingPeer();
  record->isSender = true;
  record->fileCount = offer.count;
  auto prompt = std::make_shared<PromptHandle>(offer.shownBody);

  // The record and the waiting prompt are in their slots before the offer goes out, so an
  // answer that comes back at once finds them.
  if (!peer.slots().storeRecord(index, record)) {
    // The reservation keeps every other offer out, so this is a fault to report.
    giveUp();
    peer.notices().showNotice("tsf[" + std::to_string(index) + "]!=NULL");
    return;
  }
  peer.slots().setPrompt(index, prompt);
  // The ASK goes out on the Peer's sending thread, after what the person sent before it;
  // the person waits for the answer from the moment it has gone.
  const auto release = [&peer, index, prompt, record] {
    peer.slots().releaseRecord(index, record.get());
    peer.slots().clearPrompt(index, prompt.get());
  };
  const bool queued =
      peer.queueOffer(place, offer.message, [&peer, index, prompt, record, release](bool sent) {
        if (!sent) {
          release();
          return;
        }
        peer.startThread(
            [&peer, index, prompt, record] { waitingThread(peer, index, prompt, record); });
      });
  if (!queued) release();
}

// Keeps the offer's place among the person's messages now, then composes it on a worker:
// totalling a large folder takes long, and the window's thread must not wait for it.
void offerInBackground(Peer& peer, int index, std::vector<std::filesystem::path> items) {
  const std::uint64_t place = peer.reserveOfferPlace();
  if (place == 0) {
    peer.slots().dropReservation(index);
    return;
  }
  peer.startThread([&peer, index, items = std::move(items), place] {
    composeAndQueueOffer(peer, index, items, place);
  });
}

}  // namespace

void offerFromDialog(Peer& peer) {
  const std::optional<int> index = reserveSlotForOffer(peer);
  if (!index) return;
  std::vector<std::filesystem::path> items = peer.frontend().chooseFilesToOffer();
  if (items.empty()) {
    peer.slots().dropReservation(*index);
    return;
  }
  offerInBackground(peer, *index, std::move(items));
}

void offerFromDrop(Peer& peer, const std::vector<std::filesystem::path>& items) {
  if (items.empty()) return;
  const std::optional<int> index = reserveSlotForOffer(peer);
  if (index) offerInBackground(peer, *index, items);
}

void offerItems(Peer& peer, int index, const std::vector<std::filesystem::path>& items) {
  const std::uint64_t place = peer.reserveOfferPlace();
  if (place == 0) {
    peer.slots().dropReservation(index);
    return;
  }
  composeAndQueueOffer(peer, index, items, place);
}

}  // namespace brisk
