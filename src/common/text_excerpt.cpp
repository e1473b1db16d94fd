#include "common/text_excerpt.h"

#include <algorithm>

namespace brisk {

namespace {

bool startsCharacter(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// The characters of a line, its break left out.
std::size_t charactersIn(std::string_view line) {
  std::size_t count = 0;
  for (const char byte : line) {
    if (byte != '\r' && byte != '\n' && startsCharacter(byte)) ++count;
  }
  return count;
}

// How many bytes of `line` hold its first `chars` characters.
std::size_t bytesOfFirst(std::string_view line, std::size_t chars) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < line.size(); ++i) {
    if (startsCharacter(line[i]) && seen++ == chars) break;
  }
  return i;
}

}  // namespace

Excerpt excerptOf(std::string_view text, const TextBounds& bounds) {
  Excerpt excerpt;
  std::size_t linesKept = 0;
  std::size_t charsKept = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    const std::string_view whole = text.substr(0, end);
    text.remove_prefix(end);
    // The line without its break, and the break as it came.
    std::string_view line = whole;
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view lineBreak = whole.substr(line.size());

    const std::size_t chars = charactersIn(line);
    if (linesKept == bounds.maxLines || charsKept == bounds.maxChars) {
      ++excerpt.linesLeftOut;
      excerpt.charsLeftOut += chars;
      continue;
    }
    ++linesKept;
    const std::size_t room = std::min(bounds.maxLineChars, bounds.maxChars - charsKept);
    if (chars <= room) {
      excerpt.text += whole;
      charsKept += chars;
      continue;
    }
    excerpt.text += line.substr(0, bytesOfFirst(line, room));
    excerpt.text += "…";
    excerpt.text += lineBreak;
    charsKept += room;
    excerpt.charsLeftOut += chars - room;
  }
  return excerpt;
}

}  // namespace brisk
