#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisk {

// A byte count as the person reads it: "1023 bytes", "2 KB" (kilobytes rounded up),
// "1.9 MB", "1.0 GB" (one decimal, cut off, never rounded into the next unit).
// Units are powers of 1024.
std::string sizeText(std::uint64_t bytes);

// The fewest bytes a size text as sizeText writes it can stand for ("2 KB": 1025, "1.9 MB":
// 1.9 MiB); nothing for a text that is no size.
std::optional<std::uint64_t> leastBytesOf(std::string_view text);

}  // namespace brisk
