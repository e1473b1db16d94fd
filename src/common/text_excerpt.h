#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brisk {

// How much of a text a person is shown at most. Characters are Unicode characters of the
// UTF-8 text; line breaks ("\n", with a "\r" before it) are not counted.
struct TextBounds {
  std::size_t maxLines = 0;      // lines kept from the start
  std::size_t maxLineChars = 0;  // characters kept of each line
  std::size_t maxChars = 0;      // characters kept in all
};

// The start of a text that fits its bounds, and how much was left out.
struct Excerpt {
  std::string text;              // whole lines, with their breaks; a cut line ends in "…"
  std::size_t charsLeftOut = 0;  // characters not kept, those of the lines left out included
  std::size_t linesLeftOut = 0;  // lines not kept at all
  bool shortened() const { return charsLeftOut > 0 || linesLeftOut > 0; }
};

// Keeps what of `text` fits `bounds`, in one pass over it. Shows texts of any size (a
// stranger's offer of thousands of lines, a control message of 256 KiB) at a bounded cost
// to the window that shows them.
Excerpt excerptOf(std::string_view text, const TextBounds& bounds);

}  // namespace brisk
