// System error texts read in the person's language and always reach the program as UTF-8,
// whatever character set the locale uses.

#include <cerrno>
#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <netdb.h>

#include "platform/system_error.h"

namespace brisk {
namespace {

// Puts the process into a locale for one scope and back into the one it had.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
    entered_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~LocaleScope() { std::setlocale(LC_ALL, previous_.c_str()); }
  bool entered() const { return entered_; }

 private:
  std::string previous_;
  bool entered_ = false;
};

TEST(SystemErrorText, FollowsTheLocaleAndIsAlwaysUtf8) {
  struct Case {
    const char* locale;
    std::string refused;      // ECONNREFUSED
    std::string unknownName;  // EAI_NONAME
  };
  const std::vector<Case> cases = {
      {"C", "Connection refused", "Name or service not known"},
      {"zh_CN.UTF-8", "拒绝连接", "未知的名称或服务"},
      {"zh_CN.GBK", "拒绝连接", "未知的名称或服务"},
  };
  std::vector<std::string> missing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    const LocaleScope scope(c.locale);
    if (!scope.entered()) {
      missing.push_back(c.locale);
      continue;
    }
    EXPECT_EQ(systemErrorMessage(ECONNREFUSED), c.refused);
    EXPECT_EQ(localeTextToUtf8(::gai_strerror(EAI_NONAME)), c.unknownName);
  }
  if (!missing.empty()) {
    GTEST_SKIP() << "locales not installed here (scripts/install-deps.sh makes them): "
                 << testing::PrintToString(missing);
  }
}

}  // namespace
}  // namespace brisk
