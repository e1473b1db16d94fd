#include "ui/shown_text.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "common/text_excerpt.h"

namespace brisk {

namespace {

// Where an offer's totals begin: its last "\r\n\r\n总计", past the item lines' last break.
constexpr std::string_view kTotalsMark = "\r\n\r\n总计";
// The line an offer cut by its sender ends its items with: "……另有 N 项".
constexpr std::string_view kMoreItemsStart = "……另有 ";
constexpr std::string_view kMoreItemsEnd = " 项";

std::string leftOutNote(std::size_t chars) {
  return "……（另有 " + std::to_string(chars) + " 个字符未显示）\r\n";
}

// The number of items a sender's "……另有 N 项" line stands for, when `line` is one.
std::optional<std::size_t> moreItemsOf(std::string_view line) {
  if (!line.starts_with(kMoreItemsStart) || !line.ends_with(kMoreItemsEnd)) return std::nullopt;
  line.remove_prefix(kMoreItemsStart.size());
  line.remove_suffix(kMoreItemsEnd.size());
  std::size_t more = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), more);
  if (error != std::errc() || end != line.data() + line.size()) return std::nullopt;
  return more;
}

// The last line of `text`, without its break.
std::string_view lastLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  const std::size_t before = text.rfind('\n');
  return before == std::string_view::npos ? text : text.substr(before + 1);
}

std::string withBreak(std::string text) {
  if (!text.empty() && text.back() != '\n') text += "\r\n";
  return text;
}

}  // namespace

std::string shownPromptText(const std::string& text) {
  const std::string_view all = text;
  const std::size_t totalsAt = all.rfind(kTotalsMark);
  // The item lines end with their own break; the totals begin with the empty line.
  const std::size_t itemsEnd = totalsAt == std::string_view::npos ? all.size() : totalsAt + 2;
  const std::string_view items = all.substr(0, itemsEnd);
  const Excerpt shownItems =
      excerptOf(items, {kPromptItemLines, kPromptLineChars, kPromptItemLines * kPromptLineChars});
  // The totals are a few short lines; a stranger's may be anything, so they are bounded too.
  const Excerpt shownTotals =
      excerptOf(all.substr(itemsEnd), {4, kPromptLineChars, 4 * kPromptLineChars});
  if (!shownItems.shortened() && !shownTotals.shortened()) return text;

  std::string result = shownItems.text;
  if (shownItems.linesLeftOut > 0) {
    // Items that the sender left out already are counted too.
    std::size_t more = shownItems.linesLeftOut;
    const auto already = moreItemsOf(lastLine(items));
    if (already && *already < SIZE_MAX - more) more = more - 1 + *already;
    result = withBreak(std::move(result)) + std::string(kMoreItemsStart) + std::to_string(more) +
             std::string(kMoreItemsEnd) + "\r\n";
  }
  return result + shownTotals.text;
}

std::string shownNoticeText(const std::string& text) {
  const Excerpt shown = excerptOf(text, {kNoticeLines, kNoticeChars, kNoticeChars});
  if (!shown.shortened()) return text;
  return withBreak(shown.text) + leftOutNote(shown.charsLeftOut);
}

ShownLogText shownLogText(const std::string& text) {
  Excerpt shown = excerptOf(text, {kLogLines, kLogChars, kLogChars});
  if (!shown.shortened()) return {text, std::nullopt};
  return {withBreak(std::move(shown.text)), leftOutNote(shown.charsLeftOut)};
}

}  // namespace brisk
