#include "common/size_text.h"

namespace brisk {

namespace {

// Whole units and the first decimal of the remainder, cut off.
std::string withOneDecimal(std::uint64_t bytes, int shift, const char* unit) {
  const std::uint64_t whole = bytes >> shift;
  const std::uint64_t remainder = bytes & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t digit = (remainder * 10) >> shift;  // remainder < 2^30: no overflow
  return std::to_string(whole) + '.' + std::to_string(digit) + unit;
}

}  // namespace

std::string sizeText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  if (bytes < (std::uint64_t{1} << 20)) {
    const std::uint64_t kilobytes = (bytes >> 10) + ((bytes & 0x3FF) != 0 ? 1 : 0);
    return std::to_string(kilobytes) + " KB";
  }
  if (bytes < (std::uint64_t{1} << 30)) return withOneDecimal(bytes, 20, " MB");
  return withOneDecimal(bytes, 30, " GB");
}

std::optional<std::uint64_t> leastBytesOf(std::string_view text) {
  std::uint64_t whole = 0;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (whole > (UINT64_MAX - 9) / 10) return std::nullopt;
    whole = whole * 10 + static_cast<std::uint64_t>(text[at] - '0');
  }
  if (at == 0) return std::nullopt;
  const std::string_view rest = text.substr(at);
  if (rest == " bytes") return whole;
  // Kilobytes were rounded up, and fewer than 1024 bytes are written as bytes.
  if (rest == " KB") return whole <= 1 ? 1024 : ((whole - 1) << 10) + 1;
  // "1.9 MB": the decimal was cut off, so 1.9 MiB is the least it stands for.
  if (rest.size() != 5 || rest[0] != '.' || rest[1] < '0' || rest[1] > '9') return std::nullopt;
  const std::uint64_t tenth = static_cast<std::uint64_t>(rest[1] - '0');
  const std::string_view unit = rest.substr(2);
  const int shift = unit == " MB" ? 20 : unit == " GB" ? 30 : 0;
  if (shift == 0 || whole > (UINT64_MAX >> shift)) return std::nullopt;
  return (whole << shift) + ((tenth << shift) + 9) / 10;
}

}  // namespace brisk
