#include "platform/system_error.h"

#include <cstring>

namespace brisk {

std::string systemErrorMessage(int code) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

}  // namespace brisk
