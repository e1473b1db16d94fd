#include "common/settings_store.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

#include <unistd.h>

#include <QSettings>
#include <QString>

#include "common/diagnostics.h"
#include "platform/text_codec.h"

namespace brisk {

namespace {

constexpr std::size_t kMaxTextBytes = 256;

QSettings openStore() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Software"),
                   QStringLiteral("socket"));
}

QString key(const char* name) {
  return QString::fromLatin1(name);
}

std::optional<int> parseNumber(const QString& text) {
  const std::string digits = text.trimmed().toStdString();
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string SettingsStore::fileName() {
  return openStore().fileName().toStdString();
}

int SettingsStore::readSettingNumber(const char* name, int defaultValue) const {
  if (!std::filesystem::exists(fileName())) return defaultValue;
  const QSettings store = openStore();
  const QVariant value = store.value(key(name));
  std::optional<int> number;
  int error = ENOENT;
  if (value.isValid()) {
    number = parseNumber(value.toString());
    error = EINVAL;
  }
  if (!number) {
    std::string text = kRegOpenKeyExFailed;
    appendErrorText(error, text);
    notices_.showNoticeModal(text);
    return defaultValue;
  }
  return *number;
}

std::string SettingsStore::readSettingText(const char* name,
                                           const std::string& defaultValue) const {
  if (!std::filesystem::exists(fileName())) return defaultValue;
  const QSettings store = openStore();
  const QVariant value = store.value(key(name));
  int error = ENOENT;
  if (value.isValid()) {
    // A value with commas comes back as a list when someone edited the file by hand.
    const QString text = value.typeId() == QMetaType::QStringList
                             ? value.toStringList().join(QLatin1Char(','))
                             : value.toString();
    const std::string utf8 = text.toStdString();
    if (toWire(utf8).size() <= kMaxTextBytes) return utf8;
    error = EOVERFLOW;
  }
  std::string text = kRegOpenKeyExFailed;
  appendErrorText(error, text);
  notices_.showNoticeModal(text);
  return defaultValue;
}

std::optional<std::string> SettingsStore::readOptionalSetting(const char* name) const {
  if (!std::filesystem::exists(fileName())) return std::nullopt;
  const QVariant value = openStore().value(key(name));
  if (!value.isValid()) return std::nullopt;
  // A value with commas comes back as a list when someone edited the file by hand.
  if (value.typeId() == QMetaType::QStringList) {
    return value.toStringList().join(QLatin1Char(',')).toStdString();
  }
  return value.toString().toStdString();
}

template <typename Value>
void SettingsStore::write(const char* name, const Value& value) const {
  const std::filesystem::path file = fileName();
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    if (::access(file.c_str(), W_OK) != 0) {
      if (errno == EACCES) {
        notices_.showNoticeModal(kRegOpenKeyExAccessDenied);
      } else {
        std::string text = kRegOpenKeyExFailed;
        appendLastErrorText(text);
        notices_.showNoticeModal(text);
      }
      return;
    }
  } else {
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) {
      std::string text = kRegCreateKeyFailed;
      appendErrorText(ec.value(), text);
      notices_.showNoticeModal(text);
      return;
    }
  }
  QSettings store = openStore();
  store.setValue(key(name), value);
  store.sync();
  if (store.status() != QSettings::NoError) {
    std::string text = kRegSetValueExFailed;
    appendErrorText(store.status() == QSettings::AccessError ? EACCES : EIO, text);
    notices_.showNoticeModal(text);
  }
}

void SettingsStore::writeSettingNumber(const char* name, int value) const {
  write(name, value);
}

void SettingsStore::writeSettingText(const char* name, const std::string& text) const {
  write(name, QString::fromStdString(text));
}

int portFromText(std::string_view portBoxText) {
  const std::string head = firstCharacters(portBoxText, 5);
  std::size_t at = 0;
  bool negative = false;
  if (at < head.size() && (head[at] == '+' || head[at] == '-')) {
    negative = head[at] == '-';
    ++at;
  }
  int value = 0;
  while (at < head.size() && head[at] >= '0' && head[at] <= '9') {
    value = value * 10 + (head[at] - '0');
    ++at;
  }
  return negative ? -value : value;
}

std::optional<int> controlPortFromText(std::string_view portBoxText) {
  const std::size_t first = portBoxText.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t last = portBoxText.find_last_not_of(" \t");
  const int port = portFromText(portBoxText.substr(first, last + 1 - first));
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

std::string firstCharacters(std::string_view utf8, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t taken = 0; taken < count && at < utf8.size(); ++taken) {
    ++at;
    // Continuation bytes belong to the character just taken.
    while (at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80) ++at;
  }
  return std::string(utf8.substr(0, at));
}

ConnectionSettings loadConnectionSettings(const SettingsStore& store) {
  ConnectionSettings settings;
  settings.peerAddress =
      firstCharacters(store.readSettingText("ipa", kDefaultPeerAddress), kMaxAddressCharacters);
  settings.port = store.readSettingNumber("port", kDefaultPort);
  settings.autoClose = store.readSettingNumber("autoclose", 0) == 1;
  return settings;
}

void saveConnectionSettings(const SettingsStore& store, std::string_view addressBoxText,
                            std::string_view portBoxText, bool autoClose) {
  store.writeSettingText("ipa", firstCharacters(addressBoxText, kMaxAddressCharacters));
  // A box that names no port keeps the port stored before.
  if (const std::optional<int> port = controlPortFromText(portBoxText)) {
    store.writeSettingNumber("port", *port);
  }
  store.writeSettingNumber("autoclose", autoClose ? 1 : 0);
}

}  // namespace brisk
