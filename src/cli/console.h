#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace brisk {

// Decodes the UTF-8 character at `at`: its code point and length, or nothing for a byte
// that does not begin a well-formed character (overlong forms, surrogates and values
// beyond Unicode are not).
std::optional<std::pair<std::uint32_t, std::size_t>> decodeUtf8At(std::string_view text,
                                                                  std::size_t at);

// Text fit for a terminal: "\r\n" becomes "\n", and control characters other than line
// feed and tab are shown as "^X" (C0) or U+FFFD (C1, and bytes that are not UTF-8), so
// that nothing the peer sends can move the cursor or change the terminal's settings.
std::string printableText(std::string_view utf8);

// The program's standard output, shared by every thread. On a terminal it can keep one
// live line at the bottom (the progress of running transfers), redrawn in place with
// "\r" while other output scrolls above it.
class Console {
 public:
  // `columns` gives the terminal's width (0 when unknown); the live line is cut to fit,
  // since a line that wraps could no longer be redrawn in place.
  Console(std::ostream& out, bool terminal, std::function<int()> columns = {});
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  bool terminal() const { return terminal_; }

  // Prints text as printableText makes it; a text without a final line break leaves its
  // line open for the next print.
  void print(std::string_view text);
  // Prints text and ends its line.
  void printLine(std::string_view text);
  // Terminal only: shows `text` as the live line; an empty text removes it.
  void setLiveLine(std::string_view text);
  // Removes the live line and ends an open line, for the program's last output.
  void finish();

 private:
  void eraseLive();  // with mutex_ held
  void drawLive();   // with mutex_ held

  std::mutex mutex_;
  std::ostream& out_;
  const bool terminal_;
  const std::function<int()> columns_;
  std::string live_;
  bool liveShown_ = false;
  bool lineOpen_ = false;
};

}  // namespace brisk
