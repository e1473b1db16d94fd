#include "secure/trust_store.h"

#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "secure/trusted_prefixes.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using Status = TrustStore::ChangeStatus;

Fingerprint fingerprintOf(int n) {
  Fingerprint fingerprint;
  fingerprint.bytes.fill(static_cast<std::uint8_t>(n));
  fingerprint.bytes[0] = static_cast<std::uint8_t>(n >> 8);
  return fingerprint;
}

std::chrono::sys_seconds at(long seconds) {
  return std::chrono::sys_seconds(std::chrono::seconds(seconds));
}

class TrustStoreTest : public test::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    store = std::make_unique<TrustStore>(TrustStore::fileIn(root() / "config"));
  }

  std::unique_ptr<TrustStore> store;
};

TEST_F(TrustStoreTest, NoFileIsAnEmptyStoreWithoutComplaint) {
  const auto all = store->list();
  EXPECT_TRUE(all.ok()) << all.error;
  EXPECT_TRUE(all.peers.empty());
  const auto lookup = store->find(fingerprintOf(1));
  EXPECT_TRUE(lookup.ok());
  EXPECT_FALSE(lookup.peer);
  EXPECT_EQ(store->forget(fingerprintOf(1)).status, Status::NotFound);
  EXPECT_FALSE(fs::exists(store->file()));
}

TEST_F(TrustStoreTest, PeersComeBackExactlyAsRememberedWhateverTheirNames) {
  const std::vector<TrustedPeer> peers = {
      {fingerprintOf(1), "书房的电脑", {"192.168.1.20"}, at(1700000000)},
      {fingerprintOf(2), "tab\there, comma, 100% and\r\nnew line", {"10.0.0.7"}, at(0)},
      {fingerprintOf(3), "", {}, at(1)},
  };
  for (const TrustedPeer& peer : peers) {
    const std::string address = peer.addresses.empty() ? "" : peer.addresses.front();
    ASSERT_EQ(store->remember(peer.fingerprint, peer.name, address, peer.verifiedAt).status,
              Status::Done);
  }
  EXPECT_EQ(store->list().peers, peers);
  EXPECT_EQ(TrustStore(store->file()).find(fingerprintOf(2)).peer, peers[1]);
  EXPECT_EQ(fs::status(store->file()).permissions() & fs::perms::mask,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(TrustStoreTest, RememberingAgainRenewsThePeerAndKeepsItsLatestAddresses) {
  ASSERT_EQ(store->remember(fingerprintOf(1), "old", "10.0.0.1", at(10)).status, Status::Done);
  for (const char* address : {"10.0.0.2", "10.0.0.3", "10.0.0.1", "10.0.0.4", "10.0.0.5"}) {
    ASSERT_EQ(store->noteSeen(fingerprintOf(1), address).status, Status::Done);
  }
  ASSERT_EQ(store->remember(fingerprintOf(1), "new", "10.0.0.6", at(20)).status, Status::Done);
  const auto peer = store->find(fingerprintOf(1)).peer;
  ASSERT_TRUE(peer);
  EXPECT_EQ(peer->name, "new");
  EXPECT_EQ(peer->verifiedAt, at(20));
  EXPECT_EQ(peer->addresses,
            (std::vector<std::string>{"10.0.0.6", "10.0.0.5", "10.0.0.4", "10.0.0.1"}));
  EXPECT_EQ(store->list().peers.size(), 1u);
  EXPECT_EQ(store->noteSeen(fingerprintOf(9), "10.0.0.9").status, Status::NotFound);
}

TEST_F(TrustStoreTest, RenameAndForget) {
  ASSERT_EQ(store->remember(fingerprintOf(1), "one", "10.0.0.1", at(1)).status, Status::Done);
  ASSERT_EQ(store->remember(fingerprintOf(2), "two", "10.0.0.2", at(2)).status, Status::Done);
  EXPECT_EQ(store->rename(fingerprintOf(1), "客厅").status, Status::Done);
  EXPECT_EQ(store->find(fingerprintOf(1)).peer->name, "客厅");
  EXPECT_EQ(store->forget(fingerprintOf(1)).status, Status::Done);
  EXPECT_FALSE(store->find(fingerprintOf(1)).peer);
  EXPECT_EQ(store->rename(fingerprintOf(1), "x").status, Status::NotFound);
  EXPECT_EQ(store->forget(fingerprintOf(1)).status, Status::NotFound);
  EXPECT_EQ(store->list().peers.size(), 1u);
  // A name sent by a peer cannot make the file grow without bound.
  EXPECT_EQ(store->rename(fingerprintOf(2), std::string(1000, 'x')).status, Status::Done);
  EXPECT_EQ(store->find(fingerprintOf(2)).peer->name.size(), TrustStore::kMaxNameBytes);
}

TEST_F(TrustStoreTest, AKnownNameOrAddressIsFoundWhateverKeyItNowPresents) {
  ASSERT_EQ(store->remember(fingerprintOf(1), "study", "10.0.0.1", at(1)).status, Status::Done);
  ASSERT_EQ(store->remember(fingerprintOf(2), "kitchen", "10.0.0.2", at(2)).status, Status::Done);
  const auto byName = store->findByNameOrAddress("study", "10.9.9.9").peers;
  ASSERT_EQ(byName.size(), 1u);
  EXPECT_EQ(byName[0].fingerprint, fingerprintOf(1));
  const auto byAddress = store->findByNameOrAddress("", "10.0.0.2").peers;
  ASSERT_EQ(byAddress.size(), 1u);
  EXPECT_EQ(byAddress[0].fingerprint, fingerprintOf(2));
  EXPECT_EQ(store->findByNameOrAddress("study", "10.0.0.2").peers.size(), 2u);
  EXPECT_TRUE(store->findByNameOrAddress("", "").peers.empty());
}

TEST_F(TrustStoreTest, ADamagedFileIsAnErrorAndIsNeverEmptiedOrOverwritten) {
  const std::string peer = std::string(64, 'a') + "\t5\tname\t10.0.0.1\n";
  const std::pair<const char*, std::string> rows[] = {
      {"another format", "something else\n" + peer},
      {"three fields", "brisk trusted peers 1\n" + std::string(64, 'a') + "\t5\tname\n"},
      {"short fingerprint", "brisk trusted peers 1\n" + std::string(63, 'a') + "\t5\tn\t\n"},
      {"upper-case fingerprint", "brisk trusted peers 1\n" + std::string(64, 'A') + "\t5\tn\t\n"},
      {"negative time", "brisk trusted peers 1\n" + std::string(64, 'a') + "\t-5\tn\t\n"},
      {"time with a leading zero",
       "brisk trusted peers 1\n" + std::string(64, 'a') + "\t05\tn\t\n"},
      {"cut escape", "brisk trusted peers 1\n" + std::string(64, 'a') + "\t5\tn%2\t\n"},
      {"needless escape", "brisk trusted peers 1\n" + std::string(64, 'a') + "\t5\t%41\t\n"},
      {"empty address", "brisk trusted peers 1\n" + std::string(64, 'a') + "\t5\tn\ta,,b\n"},
      {"duplicate peer", "brisk trusted peers 1\n" + peer + peer},
      {"last line cut", "brisk trusted peers 1\n" + peer.substr(0, peer.size() - 1)},
  };
  for (const auto& [damage, content] : rows) {
    test::writeFile(store->file(), content);
    fs::permissions(store->file(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(store->list().ok()) << damage;
    EXPECT_FALSE(store->find(fingerprintOf(1)).ok()) << damage;
    EXPECT_NE(store->list().error.find(store->file().string()), std::string::npos) << damage;
    EXPECT_EQ(store->remember(fingerprintOf(1), "n", "", at(1)).status, Status::Failed) << damage;
    EXPECT_EQ(store->forget(fingerprintOf(0xAAAA)).status, Status::Failed) << damage;
    EXPECT_EQ(test::readFile(store->file()), content) << damage;
  }
}

TEST_F(TrustStoreTest, ChangesFromManyThreadsAndProcessesAreAllKept) {
  // A second store object on the same file stands for another Brisk process: it shares no
  // mutex with the first, only the lock file.
  TrustStore otherProcess(store->file());
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      TrustStore& target = t % 2 == 0 ? *store : otherProcess;
      for (int i = 0; i < 8; ++i) {
        const int n = 1 + t * 8 + i;
        EXPECT_EQ(target.remember(fingerprintOf(n), "p" + std::to_string(n), "", at(n)).status,
                  Status::Done);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(store->list().peers.size(), 48u);
}

TEST_F(TrustStoreTest, TrustedPrefixesFollowTheFileAsItChanges) {
  auto shared = std::make_shared<TrustStore>(store->file());
  TrustedPrefixes prefixes(shared);
  EXPECT_TRUE(prefixes.current().empty());
  ASSERT_EQ(shared->remember(fingerprintOf(0x3F7A), "Alice", "10.0.0.1", at(1)).status,
            Status::Done);
  EXPECT_EQ(prefixes.current(), std::vector<std::string>{"3F7A7A7A"});
  // Another process adds a peer.
  ASSERT_EQ(TrustStore(store->file()).remember(fingerprintOf(2), "Bob", "", at(2)).status,
            Status::Done);
  EXPECT_EQ(prefixes.current(), (std::vector<std::string>{"3F7A7A7A", "00020202"}));
  ASSERT_EQ(shared->forget(fingerprintOf(0x3F7A)).status, Status::Done);
  EXPECT_EQ(prefixes.current(), std::vector<std::string>{"00020202"});
  // A damaged or missing store marks nothing, and says nothing: the marks are a hint.
  test::writeFile(store->file(), "not a store\n");
  EXPECT_TRUE(prefixes.current().empty());
  fs::remove(store->file());
  EXPECT_TRUE(prefixes.current().empty());
}

}  // namespace
}  // namespace brisk
