#pragma once

#include <string>

namespace brisk {

// The system's message for an error number (strerror's text), without a line break, in
// UTF-8 whatever the person's locale: its language follows the locale, its bytes do not.
std::string systemErrorMessage(int code);

// A message the C library wrote in the locale's character set (strerror, gai_strerror),
// as UTF-8. Bytes that do not convert are kept as they are.
std::string localeTextToUtf8(const char* text);

}  // namespace brisk
