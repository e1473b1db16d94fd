#pragma once

#include <optional>
#include <string>

namespace brisk {

// What the windows show of the engine's texts, whatever their size: a stranger's offer or
// control message may be a quarter of a megabyte, and a window (or the chat log) that
// took it whole would keep the window's thread busy and its memory growing. Each keeps
// the start of the text and says how much it left out. Engine text (UTF-8, "\r\n") in
// and out; any thread.

// The prompt's text: at most kPromptItemLines item lines, each cut at kPromptLineChars
// characters, then a line "……另有 N 项" for the items left out, then the offer's totals.
inline constexpr std::size_t kPromptItemLines = 200;
inline constexpr std::size_t kPromptLineChars = 300;
std::string shownPromptText(const std::string& text);

// A notice's text: at most kNoticeLines lines and kNoticeChars characters, then a line
// saying how many characters were left out.
inline constexpr std::size_t kNoticeLines = 40;
inline constexpr std::size_t kNoticeChars = 4000;
std::string shownNoticeText(const std::string& text);

// What one appended piece of the chat log shows: at most kLogLines lines and kLogChars
// characters; `note` then says how many characters were left out.
inline constexpr std::size_t kLogLines = 40;
inline constexpr std::size_t kLogChars = 4000;
struct ShownLogText {
  std::string text;
  std::optional<std::string> note;
};
ShownLogText shownLogText(const std::string& text);

}  // namespace brisk
