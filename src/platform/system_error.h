#pragma once

#include <string>

namespace brisk {

// The system's message for an error number (strerror's text), without a line break.
std::string systemErrorMessage(int code);

}  // namespace brisk
