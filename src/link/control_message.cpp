#include "link/control_message.h"

#include <algorithm>

#include "common/data_port.h"
#include "common/size_text.h"
#include "link/offer_slots.h"
#include "link/wire_keys.h"
#include "platform/text_codec.h"

namespace brisk {

namespace {

// Each kind names a missing Index in words of its own.
const char* missingIndexNotice(ControlKind kind) {
  switch (kind) {
    case ControlKind::Ask:
    case ControlKind::Cancel:
      return "Can not find Index";
    case ControlKind::Stop:
      return "Can not find Index:";
    default:
      return "找不到关键字“Index:”";
  }
}

// Reads the Index; an Index that is no slot (outside 1 to 99, or too long a number) is
// reported and never used.
void readIndex(std::string_view wire, ControlMessage& message) {
  const MessageNumber index = numberAfter(wire, kIndexKey);
  if (!index.found) {
    message.problem = missingIndexNotice(message.kind);
    return;
  }
  if (index.overflow || !OfferSlots::isValidIndex(index.value)) {
    const std::size_t at = wire.find(kIndexKey) + kIndexKey.size();
    const std::string_view digits = wire.substr(at, wire.find_first_of("\r\n", at) - at);
    message.problem = "Index out of range: " + fromWire(digits.substr(0, 20));
    return;
  }
  message.index = static_cast<int>(index.value);
}

// The totals and body of an offer whose Index has been read.
void readOffer(std::string_view wire, ControlMessage& message) {
  const std::size_t headerEnd = wire.find("\r\n");
  if (headerEnd == std::string_view::npos) {
    // Nothing to show and no name to save under: not an offer this program can take.
    message.problem = "Can not find \\r\\n after Index";
    return;
  }
  OfferTerms& terms = message.offer;
  std::string_view shown = wire;
  const std::size_t totals = wire.find(kTotalsMarker);
  if (totals != std::string_view::npos) {
    const std::size_t countKey = wire.find(kFileCountKey, totals);
    if (countKey == std::string_view::npos) {
      message.problem = "Can not find 文件个数";
      return;
    }
    const MessageNumber count = numberAfter(wire.substr(countKey), kFileCountKey);
    const MessageNumber total = unsignedAfter(wire, kFileSizeKey, countKey);
    if (count.overflow || count.value < -1 || count.value > 0x7FFFFFFF) {
      message.problem = "文件个数 out of range";
      return;
    }
    terms.fileCount = static_cast<int>(count.value);
    // A single item is shown without its totals.
    if (terms.fileCount == 1 || terms.fileCount == -1) shown = wire.substr(0, totals);
    if (!total.found) {
      message.problem = "Can not find 文件大小";
      return;
    }
    if (total.overflow) {
      message.problem = "文件大小 out of range";
      return;
    }
    terms.totalSize = static_cast<std::uint64_t>(total.value);
  }
  if (totals == std::string_view::npos) {
    // One file: "name<tab>size", the size written as the person reads it.
    const std::string_view firstLine =
        wire.substr(headerEnd + 2, wire.find("\r\n", headerEnd + 2) - headerEnd - 2);
    const std::size_t tab = firstLine.rfind('\t');
    if (tab != std::string_view::npos) {
      terms.offeredBytes = leastBytesOf(firstLine.substr(tab + 1)).value_or(0);
    }
  } else {
    terms.offeredBytes = terms.totalSize;
  }
  // An offer may carry no item line, its totals starting with the header's own line
  // break; cutting the totals off then leaves no body at all.
  const std::string_view bodyWire = shown.substr(std::min(headerEnd + 2, shown.size()));
  terms.firstNameWire = bodyWire.substr(0, bodyWire.find_first_of("\t\r\n"));
  terms.body = fromWire(bodyWire);
}

}  // namespace

ControlMessage parseControlMessage(std::string_view wire) {
  ControlMessage message;
  message.kind = controlKindOf(wire);
  if (message.kind == ControlKind::Unknown) return message;
  readIndex(wire, message);
  if (!message.problem.empty()) return message;
  if (message.kind == ControlKind::Port || message.kind == ControlKind::ReplyYes) {
    const MessageNumber port = numberAfter(wire, kPortKey);
    message.port = PortField{port.found, port.overflow, port.value};
  }
  if (message.kind == ControlKind::Ask) readOffer(wire, message);
  if (message.kind == ControlKind::ReplyFailed) {
    const std::size_t start = std::min(kReplyMessage.size(), wire.size());
    const std::size_t end = wire.find(" Index:", start);
    message.reason = fromWire(wire.substr(start, end == std::string_view::npos ? 0 : end - start));
  }
  return message;
}

std::optional<std::string> portProblem(const PortField& port) {
  if (!port.found) return "找不到关键字“PORT:”";
  if (port.overflow) return "PORT out of range";
  return namedPortProblem(port.named);
}

std::optional<std::string> namedPortProblem(std::int64_t named) {
  if (dataPortNumber(named) != 0) return std::nullopt;
  return "Invalid data port: " + std::to_string(named) + " (port 0)";
}

}  // namespace brisk
