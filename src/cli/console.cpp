#include "cli/console.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace brisk {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool isWide(std::uint32_t point) {
  return (point >= 0x1100 && point <= 0x115F) || (point >= 0x2E80 && point <= 0xA4CF) ||
         (point >= 0xAC00 && point <= 0xD7A3) || (point >= 0xF900 && point <= 0xFAFF) ||
         (point >= 0xFE30 && point <= 0xFE4F) || (point >= 0xFF00 && point <= 0xFF60) ||
         (point >= 0xFFE0 && point <= 0xFFE6) || (point >= 0x20000 && point <= 0x3FFFD);
}

// The longest prefix of `text` that fits `columns` of a terminal, where East Asian
// characters take two.
std::string_view fitToWidth(std::string_view text, std::size_t columns) {
  std::size_t width = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto character = decodeUtf8At(text, at);
    const std::size_t length = character ? character->second : 1;
    const std::size_t add = character && isWide(character->first) ? 2 : 1;
    if (width + add > columns) break;
    width += add;
    at += length;
  }
  return text.substr(0, at);
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::size_t>> decodeUtf8At(std::string_view text,
                                                                  std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return std::pair{std::uint32_t{lead}, std::size_t{1}};
  std::size_t length = 0;
  std::uint32_t point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (at + length > text.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
    point = (point << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are not characters.
  static constexpr std::array<std::uint32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
  if (point < kSmallest[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
    return std::nullopt;
  }
  return std::pair{point, length};
}

std::string printableText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    // Printable ASCII, most of every line (a transfer prints one per file), is taken in
    // runs rather than a character at a time.
    std::size_t plain = at;
    while (plain < utf8.size() && utf8[plain] >= 0x20 && utf8[plain] < 0x7F) ++plain;
    if (plain > at) {
      out.append(utf8, at, plain - at);
      at = plain;
      continue;
    }
    if (utf8.compare(at, 2, "\r\n") == 0) {
      out += '\n';
      at += 2;
      continue;
    }
    const auto character = decodeUtf8At(utf8, at);
    if (!character) {
      out += kReplacement;
      ++at;
      continue;
    }
    const auto [point, length] = *character;
    if (point == '\n' || point == '\t') {
      out += static_cast<char>(point);
    } else if (point < 0x20) {
      out += '^';
      out += static_cast<char>(point + 0x40);
    } else if (point == 0x7F) {
      out += "^?";
    } else if (point >= 0x80 && point <= 0x9F) {
      out += kReplacement;
    } else {
      out.append(utf8.substr(at, length));
    }
    at += length;
  }
  return out;
}

Console::Console(std::ostream& out, bool terminal, std::function<int()> columns)
    : out_(out), terminal_(terminal), columns_(std::move(columns)) {}

void Console::print(std::string_view text) {
  const std::string shown = printableText(text);
  if (shown.empty()) return;
  std::lock_guard lock(mutex_);
  eraseLive();
  out_ << shown;
  lineOpen_ = shown.back() != '\n';
  drawLive();
  out_.flush();
}

void Console::printLine(std::string_view text) {
  std::string shown = printableText(text);
  if (shown.empty() || shown.back() != '\n') shown += '\n';
  std::lock_guard lock(mutex_);
  eraseLive();
  if (lineOpen_) out_ << '\n';
  out_ << shown;
  lineOpen_ = false;
  drawLive();
  out_.flush();
}

void Console::setLiveLine(std::string_view text) {
  if (!terminal_) return;
  std::string shown = printableText(text);
  // The live line is one line: anything after a line break is dropped.
  shown.resize(std::min(shown.size(), shown.find('\n')));
  std::lock_guard lock(mutex_);
  if (shown == live_ && liveShown_ == !live_.empty()) return;
  eraseLive();
  live_ = std::move(shown);
  drawLive();
  out_.flush();
}

void Console::finish() {
  std::lock_guard lock(mutex_);
  eraseLive();
  live_.clear();
  if (lineOpen_) out_ << '\n';
  lineOpen_ = false;
  out_.flush();
}

void Console::eraseLive() {
  if (!liveShown_) return;
  out_ << "\r\x1B[K";
  liveShown_ = false;
}

void Console::drawLive() {
  if (live_.empty()) return;
  // An open line of other output is ended first, or the redraw would erase it.
  if (lineOpen_) {
    out_ << '\n';
    lineOpen_ = false;
  }
  const int columns = columns_ ? columns_() : 0;
  // One column is left free: writing into the last one makes some terminals wrap.
  out_ << (columns > 1 ? fitToWidth(live_, static_cast<std::size_t>(columns - 1))
                       : std::string_view(live_));
  liveShown_ = true;
}

}  // namespace brisk
