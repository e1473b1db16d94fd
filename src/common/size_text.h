#pragma once

#include <cstdint>
#include <string>

namespace brisk {

// A byte count as the person reads it: "1023 bytes", "2 KB" (kilobytes rounded up),
// "1.9 MB", "1.0 GB" (one decimal, cut off, never rounded into the next unit).
// Units are powers of 1024.
std::string sizeText(std::uint64_t bytes);

}  // namespace brisk
