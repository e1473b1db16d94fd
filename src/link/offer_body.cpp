#include "link/offer_body.h"

#include "common/size_text.h"
#include "link/message_builders.h"
#include "platform/text_codec.h"

namespace brisk {

namespace {

std::string itemLine(const OfferItem& item) {
  return item.name + "\t" + (item.isFolder ? "文件夹\t" : "") + sizeText(item.size) + "\r\n";
}

std::string totalsText(int count, std::uint64_t total) {
  // The size line starts with two ideographic spaces and a blank, so that its key stands
  // under the count's key.
  std::string text = "\r\n总计 文件个数：" + std::to_string(count) + "\r\n　　 文件大小：" +
                     std::to_string(total) + " Bytes";
  if (total >= 1024) text += " = " + sizeText(total);
  return text + "\r\n";
}

std::string moreItemsLine(std::size_t more) {
  return "……另有 " + std::to_string(more) + " 项\r\n";
}

}  // namespace

OfferText composeOffer(int index, const std::vector<OfferItem>& items, std::size_t maxWireBytes) {
  OfferText offer;
  for (const OfferItem& item : items) offer.total += item.size;
  offer.count = static_cast<int>(items.size());
  if (items.size() == 1 && items.front().isFolder) offer.count = -1;

  const std::string header = askHeader(index);
  const std::string totals =
      offer.count == 1 ? std::string() : totalsText(offer.count, offer.total);

  std::string lines;
  std::size_t wireBytes = toWire(header).size() + toWire(totals).size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string line = itemLine(items[i]);
    const std::size_t lineBytes = toWire(line).size();
    const std::size_t more = items.size() - i - 1;
    // Room for this line, and for the line that announces the rest if there is a rest.
    const std::size_t reserve = more > 0 ? toWire(moreItemsLine(more)).size() : 0;
    if (wireBytes + lineBytes + reserve > maxWireBytes) {
      lines += moreItemsLine(items.size() - i);
      break;
    }
    lines += line;
    wireBytes += lineBytes;
  }

  offer.message = header + lines + totals;
  // One folder: the waiting window shows its line alone, without the line break and totals.
  offer.shownBody = lines + totals;
  if (offer.count == -1) offer.shownBody = lines.substr(0, lines.size() - 2);
  return offer;
}

}  // namespace brisk
