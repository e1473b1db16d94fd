#include "secure/identity.h"

#include <filesystem>
#include <future>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "secure/private_file.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;

fs::perms permissionsOf(const fs::path& path) {
  return fs::status(path).permissions() & fs::perms::mask;
}

// Every file of the folder, so that a test sees any temporary file left behind.
std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  return files;
}

class IdentityTest : public test::Sandbox {
 protected:
  fs::path folder() const { return root() / "config" / "Software"; }
  fs::path file() const { return Identity::fileIn(folder()); }
};

TEST_F(IdentityTest, IsMadeOnceBesideTheSettingsForTheOwnerOnlyAndStaysTheSame) {
  EXPECT_EQ(settingsFolder(), folder());
  const Identity::Loaded first = Identity::loadOrCreate(folder());
  ASSERT_TRUE(first.identity) << first.error;
  EXPECT_TRUE(first.created);
  EXPECT_EQ(permissionsOf(file()), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(filesIn(folder()), std::vector<fs::path>{file()});

  const Identity::Loaded again = Identity::loadOrCreate(folder());
  ASSERT_TRUE(again.identity) << again.error;
  EXPECT_FALSE(again.created);
  EXPECT_FALSE(again.tightened);
  EXPECT_EQ(again.identity->fingerprint(), first.identity->fingerprint());
  EXPECT_EQ(EVP_PKEY_get_id(again.identity->key()), EVP_PKEY_ED25519);
}

TEST_F(IdentityTest, IsNeverReadableByOthersWhateverTheUmask) {
  const mode_t previous = ::umask(0);
  const Identity::Loaded made = Identity::loadOrCreate(folder());
  ::umask(previous);
  ASSERT_TRUE(made.identity) << made.error;
  EXPECT_EQ(permissionsOf(file()), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(IdentityTest, ProgramsStartingAtOnceEndUpWithOneIdentity) {
  std::vector<std::future<Identity::Loaded>> starts;
  for (int i = 0; i < 4; ++i) {
    starts.push_back(
        std::async(std::launch::async, [&] { return Identity::loadOrCreate(folder()); }));
  }
  std::vector<Fingerprint> seen;
  for (auto& start : starts) {
    const Identity::Loaded loaded = start.get();
    ASSERT_TRUE(loaded.identity) << loaded.error;
    seen.push_back(loaded.identity->fingerprint());
  }
  for (const Fingerprint& fingerprint : seen) EXPECT_EQ(fingerprint, seen.front());
  EXPECT_EQ(Identity::loadOrCreate(folder()).identity->fingerprint(), seen.front());
}

TEST_F(IdentityTest, AFileOthersCouldReadIsTightenedAndKept) {
  const auto made = Identity::loadOrCreate(folder());
  ASSERT_TRUE(made.identity);
  fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
  const auto loaded = Identity::loadOrCreate(folder());
  ASSERT_TRUE(loaded.identity) << loaded.error;
  EXPECT_TRUE(loaded.tightened);
  EXPECT_EQ(permissionsOf(file()), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(loaded.identity->fingerprint(), made.identity->fingerprint());
}

TEST_F(IdentityTest, ADamagedFileIsRefusedAndNeverReplaced) {
  ASSERT_TRUE(Identity::loadOrCreate(folder()).identity);
  const std::string good = test::readFile(file());
  ASSERT_TRUE(Identity::loadOrCreate(root() / "other").identity);
  const std::string other = test::readFile(Identity::fileIn(root() / "other"));
  const auto certificateOf = [](const std::string& pem) {
    return pem.substr(pem.find("-----BEGIN CERTIFICATE-----"));
  };
  const auto keyOf = [&](const std::string& pem) {
    return pem.substr(0, pem.size() - certificateOf(pem).size());
  };
  EVP_PKEY* ecKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  BIO* ecOut = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(ecOut, ecKey, nullptr, nullptr, 0, nullptr, nullptr);
  char* ecData = nullptr;
  const std::string ecPem(ecData, static_cast<std::size_t>(BIO_get_mem_data(ecOut, &ecData)));
  BIO_free(ecOut);
  EVP_PKEY_free(ecKey);

  const std::pair<const char*, std::string> rows[] = {
      {"empty", ""},
      {"not PEM at all", "hello\n"},
      {"cut in the middle", good.substr(0, good.size() / 2)},
      {"key without certificate", keyOf(good)},
      {"another installation's certificate", keyOf(good) + certificateOf(other)},
      {"not an Ed25519 key", ecPem + certificateOf(good)},
      {"something after the certificate", good + "extra\n"},
  };
  for (const auto& [damage, content] : rows) {
    test::writeFile(file(), content);
    ::chmod(file().c_str(), 0600);
    const Identity::Loaded loaded = Identity::loadOrCreate(folder());
    EXPECT_FALSE(loaded.identity) << damage;
    EXPECT_NE(loaded.error.find(file().string()), std::string::npos) << damage << loaded.error;
    EXPECT_EQ(test::readFile(file()), content) << damage;
  }
}

TEST_F(IdentityTest, ALinkPlantedInItsPlaceIsNotFollowed) {
  const auto elsewhere = Identity::loadOrCreate(root() / "elsewhere");
  ASSERT_TRUE(elsewhere.identity);
  fs::create_directories(folder());
  fs::create_symlink(Identity::fileIn(root() / "elsewhere"), file());
  const Identity::Loaded loaded = Identity::loadOrCreate(folder());
  EXPECT_FALSE(loaded.identity);
  EXPECT_FALSE(loaded.error.empty());
}

TEST(FingerprintTest, IsTheSha256OfTheCertificatesPublicKey) {
  const auto identity = Identity::generate();
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(identity->certificate()), &der);
  ASSERT_GT(length, 0);
  Digest expected{};
  unsigned int size = 0;
  EVP_Digest(der, static_cast<std::size_t>(length), expected.data(), &size, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  EXPECT_EQ(identity->fingerprint().bytes, expected);
  EXPECT_NE(Identity::generate()->fingerprint(), identity->fingerprint());
}

TEST(FingerprintTest, TextsAndTheirReading) {
  Fingerprint fingerprint;
  for (std::size_t i = 0; i < fingerprint.bytes.size(); ++i) {
    fingerprint.bytes[i] = static_cast<std::uint8_t>(0x3F + i * 0x51);
  }
  const std::string grouped = fingerprint.groupedText();
  EXPECT_EQ(grouped,
            "3F90 E132 83D4 2576 C718 69BA 0B5C ADFE 4FA0 F142 93E4 3586 D728 79CA 1B6C BD0E");
  EXPECT_EQ(fingerprint.shortText(), "3F90E132");
  EXPECT_EQ(fingerprint.hexText(),
            "3f90e13283d42576c71869ba0b5cadfe4fa0f14293e43586d72879ca1b6cbd0e");

  const std::pair<std::string, bool> readings[] = {
      {grouped, true},
      {fingerprint.hexText(), true},
      {" " + grouped + " ", true},
      {grouped.substr(0, grouped.size() - 1), false},  // 63 digits
      {grouped + "0", false},                          // 65 digits
      {"3G" + grouped.substr(2), false},
      {grouped.substr(0, 4) + ":" + grouped.substr(5), false},
      {"", false},
  };
  for (const auto& [text, readable] : readings) {
    const auto read = Fingerprint::parse(text);
    EXPECT_EQ(read.has_value(), readable) << text;
    if (read) {
      EXPECT_EQ(*read, fingerprint) << text;
    }
  }
}

}  // namespace
}  // namespace brisk
