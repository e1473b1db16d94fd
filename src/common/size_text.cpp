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

}  // namespace brisk
