#include "link/offer_composition.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "common/diagnostics.h"
#include "common/notices.h"
#include "link/offer_body.h"
#include "link/waiting_thread.h"
#include "platform/file_system.h"

namespace brisk {

namespace {

// The checks both entry points make first: a connection, then a free slot (reserved).
std::optional<OfferKey> reserveSlotForOffer(LinkContext& link) {
  if (!link.connected()) {
    link.notices().showNotice("未连接或连接已断开！");
    return std::nullopt;
  }
  const std::optional<OfferKey> key = link.offers().reserve();
  if (!key) link.notices().showNoticeModal("同时传送的文件太多");
  return key;
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
// `place` among the person's messages; on any failure the place is given up and the offer
// ends.
void composeAndQueueOffer(LinkContext& link, const OfferKey& key,
                          const std::vector<std::filesystem::path>& items, std::uint64_t place) {
  const int index = key.index;
  const auto giveUp = [&link, &key, place](std::function<void()> tellPerson = {}) {
    link.withdrawOfferPlace(place);
    link.offers().end(key, OfferOutcome::Failed, {{}, std::move(tellPerson)});
  };
  auto record = std::make_shared<TransferRecord>();
  std::vector<OfferItem> listed;
  for (const std::filesystem::path& item : items) {
    const std::filesystem::path path = itemPath(item);
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
      // A file system root, or a path that names no item: nothing to call it on the wire.
      giveUp([&link] { link.notices().showNoticeModal(kStrrchrFailed); });
      return;
    }
    FileAttributeData data;
    if (const int error = readAttributeData(path, data)) {
      std::string text = kGetFileAttributesExFailedLine + path.string();
      appendErrorText(error, text);
      giveUp([&link, &text] { link.notices().showNotice(text); });
      return;
    }
    const std::uint64_t size =
        data.isDirectory() ? folderSize(path, [&link] { return link.stopping(); }) : data.size;
    if (link.stopping()) {
      giveUp();  // the program is closing: the total is partial, and nobody waits for it
      return;
    }
    fileQueuePush(record->fileQueue, name, data, path.parent_path());
    listed.push_back(OfferItem{name, data.isDirectory(), size});
  }

  const OfferText offer = composeOffer(index, listed);
  record->index = index;
  record->totalSize = offer.total;
  record->peerAddress = link.controlPeerAddress();
  record->pathBuffer = itemPath(items.back()).parent_path();
  record->isConnector = link.connectingPeer();
  record->isSender = true;
  record->fileCount = offer.count;
  if (listed.size() == 1) record->itemName = listed.front().name;
  auto prompt = std::make_shared<PromptHandle>(offer.shownBody);

  // The record and the waiting prompt are in their slots before the offer goes out, so an
  // answer that comes back at once finds them.
  if (!link.offers().offer(key, record, prompt)) {
    // The program is closing and has let the reservation go.
    link.withdrawOfferPlace(place);
    return;
  }
  // The ASK goes out on the Peer's sending thread, after what the person sent before it;
  // the person waits for the answer from the moment it has gone.
  const bool queued = link.queueOffer(place, index, offer.message, [&link, key, prompt](bool sent) {
    if (!sent) {
      link.offers().end(key, OfferOutcome::Failed);
      return;
    }
    link.startThread([&link, key, prompt] { waitingThread(link, key, prompt); });
  });
  if (!queued) link.offers().end(key, OfferOutcome::Failed);
}

// Keeps the offer's place among the person's messages now, then composes it on a worker:
// totalling a large folder takes long, and the window's thread must not wait for it.
void offerInBackground(LinkContext& link, const OfferKey& key,
                       std::vector<std::filesystem::path> items) {
  const std::uint64_t place = link.reserveOfferPlace();
  if (place == 0) {
    link.offers().dropReservation(key);
    return;
  }
  link.startThread([&link, key, items = std::move(items), place] {
    composeAndQueueOffer(link, key, items, place);
  });
}

}  // namespace

void offerFromDialog(LinkContext& link, OfferPicker picker) {
  const std::optional<OfferKey> key = reserveSlotForOffer(link);
  if (!key) return;
  std::vector<std::filesystem::path> items = picker == OfferPicker::Files
                                                 ? link.frontend().chooseFilesToOffer()
                                                 : link.frontend().chooseFoldersToOffer();
  if (items.empty()) {
    link.offers().dropReservation(*key);
    return;
  }
  offerInBackground(link, *key, std::move(items));
}

void offerDropped(LinkContext& link, const std::vector<std::filesystem::path>& items) {
  if (items.empty()) return;
  const std::optional<OfferKey> key = reserveSlotForOffer(link);
  if (key) offerInBackground(link, *key, items);
}

void offerItems(LinkContext& link, const OfferKey& key,
                const std::vector<std::filesystem::path>& items) {
  const std::uint64_t place = link.reserveOfferPlace();
  if (place == 0) {
    link.offers().end(key, OfferOutcome::Failed);
    return;
  }
  composeAndQueueOffer(link, key, items, place);
}

}  // namespace brisk
