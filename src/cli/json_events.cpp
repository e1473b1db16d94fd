#include "cli/json_events.h"

#include <chrono>
#include <cstdio>

namespace brisk {

namespace {

const char* stateName(LinkState state) {
  switch (state) {
    case LinkState::Listening:
      return "listening";
    case LinkState::Connecting:
      return "connecting";
    case LinkState::Connected:
      return "connected";
    case LinkState::Idle:
      break;
  }
  return "idle";
}

const char* outcomeName(OfferOutcome outcome) {
  switch (outcome) {
    case OfferOutcome::Accepted:
      return "accepted";
    case OfferOutcome::Refused:
      return "refused";
    case OfferOutcome::Cancelled:
      return "cancelled";
    case OfferOutcome::Failed:
      break;
  }
  return "failed";
}

const char* causeName(TransferCause cause) {
  switch (cause) {
    case TransferCause::Complete:
      return "complete";
    case TransferCause::StoppedHere:
      return "stopped-here";
    case TransferCause::StoppedByPeer:
      return "stopped-by-peer";
    case TransferCause::ConnectionLost:
      return "connection-lost";
    case TransferCause::LocalDisk:
      return "local-disk";
    case TransferCause::PeerFailed:
      return "peer-failed";
    case TransferCause::Incomplete:
      break;
  }
  return "incomplete";
}

std::string colourName(Rgb colour) {
  if (colour == kRed) return "red";
  if (colour == kGreen) return "green";
  if (colour == kBlue) return "blue";
  return "black";
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      if (byte == '"' || byte == '\\') {
        out += '\\';
        out += static_cast<char>(byte);
      } else if (byte < 0x20 || byte == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        out += escaped;
      } else {
        out += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    const auto character = decodeUtf8At(text, at);
    if (!character) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++at;
      continue;
    }
    out.append(text.substr(at, character->second));
    at += character->second;
  }
  return out + "\"";
}

std::int64_t JsonEvents::steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void JsonEvents::emit(std::string_view event,
                      std::initializer_list<std::pair<std::string_view, Value>> fields) {
  std::string line = "{\"event\":" + jsonString(event);
  for (const auto& [name, value] : fields) {
    line += "," + jsonString(name) + ":";
    if (const auto* text = std::get_if<std::string_view>(&value)) {
      line += jsonString(*text);
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
      line += std::to_string(*number);
    } else if (const auto* count = std::get_if<std::uint64_t>(&value)) {
      line += std::to_string(*count);
    } else {
      line += std::get<bool>(value) ? "true" : "false";
    }
  }
  console_.printLine(line + "}");
}

void JsonEvents::link(LinkState state) {
  emit("link", {{"state", std::string_view(stateName(state))}});
}

void JsonEvents::log(const std::string& text, Rgb colour) {
  const std::string name = colourName(colour);
  emit("log", {{"text", std::string_view(text)}, {"colour", std::string_view(name)}});
}

void JsonEvents::notice(const std::string& text) {
  emit("notice", {{"text", std::string_view(text)}});
}

void JsonEvents::offer(const PromptRequest& request) {
  const std::int64_t index = request.index;
  if (request.kind == PromptKind::OwnOfferWaiting) {
    emit("offer", {{"index", index}, {"own", true}, {"text", std::string_view(request.text)}});
    return;
  }
  emit("offer", {{"index", index},
                 {"own", false},
                 {"text", std::string_view(request.text)},
                 {"bytes", request.offeredBytes}});
}

void JsonEvents::offerEnded(const OfferEnd& end) {
  emit("offer-end", {{"index", std::int64_t{end.index}},
                     {"own", end.ownOffer},
                     {"outcome", std::string_view(outcomeName(end.outcome))}});
}

void JsonEvents::question(const std::string& text) {
  emit("question", {{"text", std::string_view(text)}});
}

void JsonEvents::openTransfer(TransferWindowId window, const TransferWindowSetup& setup) {
  std::lock_guard lock(mutex_);
  transfers_[window] = Transfer{setup.index, setup.isSender};
}

void JsonEvents::fileName(TransferWindowId window, const std::string& name) {
  Transfer transfer;
  {
    std::lock_guard lock(mutex_);
    transfer = transfers_[window];
  }
  emit("transfer", {{"index", std::int64_t{transfer.index}},
                    {"sender", transfer.sender},
                    {"file", std::string_view(name)},
                    {"ms", elapsedMs()}});
}

void JsonEvents::figures(TransferWindowId window, const TransferFigures& figures) {
  if (!figures.numbers) return;
  Transfer transfer;
  {
    std::lock_guard lock(mutex_);
    transfer = transfers_[window];
  }
  const TransferNumbers& n = *figures.numbers;
  emit("progress", {{"index", std::int64_t{transfer.index}},
                    {"sender", transfer.sender},
                    {"fileDone", n.fileDone},
                    {"fileSize", n.fileSize},
                    {"done", n.totalDone},
                    {"total", n.totalSize},
                    {"bytesPerSecond", n.bytesPerSecond},
                    {"seconds", n.seconds}});
}

void JsonEvents::resumed(TransferWindowId window, std::uint64_t offset) {
  Transfer transfer;
  {
    std::lock_guard lock(mutex_);
    transfer = transfers_[window];
  }
  emit("resume",
       {{"index", std::int64_t{transfer.index}}, {"sender", transfer.sender}, {"offset", offset}});
}

void JsonEvents::transferEnded(const TransferEnd& end) {
  emit("verdict", {{"index", std::int64_t{end.index}},
                   {"sender", end.isSender},
                   {"complete", end.complete},
                   {"cause", std::string_view(causeName(end.cause))},
                   {"ms", elapsedMs()}});
}

}  // namespace brisk
