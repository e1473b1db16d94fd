#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/notices.h"

namespace brisk {

// The per-user store of the program's seven settings: an INI file of QSettings, user
// scope, organisation "Software", application "socket" ($XDG_CONFIG_HOME/Software/socket.ini).
// Every operation opens the store, does its one value and closes it again; nothing is
// cached. A missing file is a first start and silent; a missing or unreadable value under
// an existing file is reported. Failures are shown modally and absorbed: reads fall back
// to their defaults, writes are dropped. For the user-interface thread.
class SettingsStore {
 public:
  explicit SettingsStore(const Notices& notices) : notices_(notices) {}

  int readSettingNumber(const char* name, int defaultValue) const;
  // Texts longer than 256 bytes on the wire count as unreadable.
  std::string readSettingText(const char* name, const std::string& defaultValue) const;
  // A value added after the first versions: missing or unreadable means "not chosen yet",
  // silently, since settings files written before it do not have it. No length limit.
  std::optional<std::string> readOptionalSetting(const char* name) const;
  void writeSettingNumber(const char* name, int value) const;
  void writeSettingText(const char* name, const std::string& text) const;

  // Where the store lives.
  static std::string fileName();

 private:
  template <typename Value>
  void write(const char* name, const Value& value) const;

  const Notices& notices_;
};

// Default texts and numbers of the settings.
inline constexpr const char* kDefaultPeerAddress = "对方IP地址";
inline constexpr int kDefaultPort = 6000;
inline constexpr int kDefaultWidth = 400;
inline constexpr int kDefaultHeight = 460;

// The longest address text kept: the peer address buffer holds 79 characters.
inline constexpr std::size_t kMaxAddressCharacters = 79;

// The port box read as the program reads it: its first 5 characters, an optional sign and
// the leading digits; 0 when there are none.
int portFromText(std::string_view portBoxText);

// The port the port box names: its text without leading and trailing spaces, read as
// above; nothing unless that gives 1 to 65535 (0 would listen on a random port that no
// peer can find).
std::optional<int> controlPortFromText(std::string_view portBoxText);

// The first `count` characters (not bytes) of a UTF-8 text.
std::string firstCharacters(std::string_view utf8, std::size_t count);

// The settings of the connection, read together at start and written together at exit.
struct ConnectionSettings {
  std::string peerAddress = kDefaultPeerAddress;
  int port = kDefaultPort;
  bool autoClose = false;
};

ConnectionSettings loadConnectionSettings(const SettingsStore& store);
// Saves the address box's text (cut to 79 characters), the port box's port (when it names
// one) and the auto-close choice.
void saveConnectionSettings(const SettingsStore& store, std::string_view addressBoxText,
                            std::string_view portBoxText, bool autoClose);

}  // namespace brisk
