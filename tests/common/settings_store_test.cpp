#include "common/settings_store.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

class SettingsStoreTest : public test::Sandbox {
 protected:
  test::ScriptedFrontend frontend;
  Timing timing = test::fastTiming();
  Notices notices{frontend, timing};
  SettingsStore store{notices};

  void writeStoreFile(const std::string& content) {
    test::writeFile(SettingsStore::fileName(), content);
  }
};

TEST_F(SettingsStoreTest, LivesInTheUsersConfigFolder) {
  EXPECT_EQ(std::filesystem::path(SettingsStore::fileName()),
            root() / "config" / "Software" / "socket.ini");
}

TEST_F(SettingsStoreTest, FirstStartGivesEveryDefaultSilentlyAndTheFirstWriteCreatesTheStore) {
  const ConnectionSettings settings = loadConnectionSettings(store);
  EXPECT_EQ(settings.peerAddress, "对方IP地址");
  EXPECT_EQ(settings.port, 6000);
  EXPECT_FALSE(settings.autoClose);
  EXPECT_EQ(store.readSettingNumber("width", 400), 400);
  EXPECT_TRUE(frontend.notices().empty());
  EXPECT_FALSE(std::filesystem::exists(SettingsStore::fileName()));

  store.writeSettingNumber("zoomed", 0);
  EXPECT_TRUE(std::filesystem::exists(SettingsStore::fileName()));
  EXPECT_TRUE(frontend.notices().empty());
}

TEST_F(SettingsStoreTest, AMissingValueUnderAnExistingStoreIsReportedAndDefaulted) {
  // The window was maximised at its first exit, so no width was ever stored.
  store.writeSettingNumber("zoomed", 1);
  EXPECT_EQ(store.readSettingNumber("width", 400), 400);
  EXPECT_EQ(store.readSettingText("ipa", "对方IP地址"), "对方IP地址");
  const auto shown = frontend.notices();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "RegOpenKeyEx failed\r\nError code: 2\r\nNo such file or directory\r\n");
}

TEST_F(SettingsStoreTest, TextsAndNumbersReadBackExactly) {
  store.writeSettingText("ipa", "192.168.1.20");
  store.writeSettingText("other", "中文, with a comma");
  store.writeSettingNumber("port", -5);
  EXPECT_EQ(store.readSettingText("ipa", ""), "192.168.1.20");
  EXPECT_EQ(store.readSettingText("other", ""), "中文, with a comma");
  EXPECT_EQ(store.readSettingNumber("port", 0), -5);
  EXPECT_TRUE(frontend.notices().empty());
}

TEST_F(SettingsStoreTest, UnreadableValuesFallBackWithANotice) {
  writeStoreFile("[General]\nport=12a\nipa=" + std::string(300, 'x') + "\n");
  EXPECT_EQ(store.readSettingNumber("port", 6000), 6000);
  EXPECT_EQ(store.readSettingText("ipa", "default"), "default");
  EXPECT_EQ(frontend.notices().size(), 2u);
}

TEST_F(SettingsStoreTest, PortBoxTextIsSavedAsItsLeadingDigitsUnlessItNamesNoPort) {
  // In order: a box that names no port keeps the port stored before it.
  const std::pair<const char*, int> rows[] = {{"12a", 12},       {"letters", 12}, {"", 12},
                                              {"123456", 12345}, {"6000", 6000},  {"-12", 6000},
                                              {"0", 6000},       {" 7000 ", 7000}};
  for (const auto& [box, saved] : rows) {
    saveConnectionSettings(store, "host", box, false);
    EXPECT_EQ(loadConnectionSettings(store).port, saved) << box;
  }
}

TEST_F(SettingsStoreTest, AddressIsCutTo79CharactersAndAutoCloseIsOnOnlyForOne) {
  std::string address;
  for (int i = 0; i < 85; ++i) address += "地";
  saveConnectionSettings(store, address, "6000", true);
  ConnectionSettings settings = loadConnectionSettings(store);
  EXPECT_EQ(settings.peerAddress, firstCharacters(address, 79));
  EXPECT_EQ(settings.peerAddress.size(), 79u * 3);
  EXPECT_TRUE(settings.autoClose);

  store.writeSettingNumber("autoclose", 2);
  EXPECT_FALSE(loadConnectionSettings(store).autoClose);
}

TEST(PortFromText, ReadsTheFirstFiveCharactersLikeTheStandardConversion) {
  EXPECT_EQ(portFromText("6000"), 6000);
  EXPECT_EQ(portFromText("12a"), 12);
  EXPECT_EQ(portFromText("abc"), 0);
  EXPECT_EQ(portFromText("123456"), 12345);
  EXPECT_EQ(portFromText("+80"), 80);
  EXPECT_EQ(portFromText("  80"), 0);
}

}  // namespace
}  // namespace brisk
