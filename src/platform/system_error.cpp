#include "platform/system_error.h"

#include <cstring>
#include <string_view>

#include <iconv.h>
#include <langinfo.h>

namespace brisk {

namespace {

bool isAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string localeTextToUtf8(const char* text) {
  const std::string_view in = text ? std::string_view(text) : std::string_view();
  // Under a GBK or other non-UTF-8 locale the C library answers in that character set;
  // the rest of the program, the window and the terminal lines, expect UTF-8.
  const char* codeset = ::nl_langinfo(CODESET);
  if (isAscii(in) || !codeset || std::strcmp(codeset, "UTF-8") == 0) return std::string(in);
  const iconv_t converter = ::iconv_open("UTF-8", codeset);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out(in.size() * 4, '\0');
  char* from = const_cast<char*>(in.data());
  std::size_t fromLeft = in.size();
  char* to = out.data();
  std::size_t toLeft = out.size();
  const std::size_t converted = ::iconv(converter, &from, &fromLeft, &to, &toLeft);
  ::iconv_close(converter);
  if (converted == static_cast<std::size_t>(-1)) return std::string(in);
  out.resize(out.size() - toLeft);
  return out;
}

std::string systemErrorMessage(int code) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static string instead of filling the buffer.
  return localeTextToUtf8(strerror_r(code, buffer, sizeof buffer));
}

}  // namespace brisk
