// The settings file as anyone may have edited it: every value the program reads back at
// start must come back as a default or a value, with a notice at most, never a crash.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/notices.h"
#include "common/settings_store.h"
#include "fuzz_frontend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisk;
  static const bool configured = [] {
    ::setenv("XDG_CONFIG_HOME", fuzz::scratchFolder("settings_fuzzer").c_str(), 1);
    return true;
  }();
  (void)configured;
  static const std::filesystem::path file = SettingsStore::fileName();
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  fuzz::FuzzFrontend frontend(0);
  Timing timing;
  timing.noticePause = Timing::ms(0);
  const Notices notices(frontend, timing);
  const SettingsStore store(notices);
  const ConnectionSettings settings = loadConnectionSettings(store);
  if (settings.peerAddress.size() > 4 * kMaxAddressCharacters) std::abort();
  for (const char* name : {"zoomed", "width", "height", "StayOnTop"}) {
    (void)store.readSettingNumber(name, 0);
  }
  return 0;
}
