#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisk {

// One top-level item of an offer as the offer text lists it.
struct OfferItem {
  std::string name;  // UTF-8, without any folder part
  bool isFolder = false;
  std::uint64_t size = 0;  // a folder: the sum of the files below it
};

// The ASK message of an offer and what the offering side keeps of it.
struct OfferText {
  std::string message;    // "TRANSFILE:ASK:Index:N\r\n" + body, UTF-8
  std::string shownBody;  // what the waiting window shows
  int count = 0;          // 1: one file; -1: one folder; else the number of items
  std::uint64_t total = 0;
};

// One control read of the peer takes at most this many bytes, so an offer must fit it.
inline constexpr std::size_t kMaxAskWireBytes = 61440;

// Composes the offer of `items` in slot `index`: an item line per item (name, tab, for a
// folder "文件夹" and a tab, the size text), and, unless it is one file, the totals with
// the item count (-1 for one folder) and the total in bytes. When the text would not fit
// one read of the peer (`maxWireBytes` on the wire), the item lines are cut and a last line
// tells how many more items there are; count and total stay exact.
OfferText composeOffer(int index, const std::vector<OfferItem>& items,
                       std::size_t maxWireBytes = kMaxAskWireBytes);

}  // namespace brisk
