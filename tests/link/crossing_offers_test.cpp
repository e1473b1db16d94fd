// Offers that cross, answers that never come, transfers whose data connection never does
// or whose receiver's disk fills up: every slot is freed, nothing hangs, and no verdict
// says more than happened.

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/offer_composition.h"
#include "link/peer.h"
#include "platform/text_codec.h"
#include "support/peer_pair.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::RawConnection;
using test::ScriptedFrontend;
using test::slotsEmpty;

// Accepts the peer's offers; this side's own waiting prompt stays open until closed.
PromptAnswer acceptOffers(PromptHandle& handle, const PromptRequest& request) {
  if (request.kind == PromptKind::OwnOfferWaiting) return ScriptedFrontend::waitUntilClosed(handle);
  return PromptAnswer::Accept;
}

std::optional<TransferVerdict> lastVerdict(const ScriptedFrontend& ui) {
  const auto windows = ui.transferWindows();
  if (windows.empty()) return std::nullopt;
  return ui.transferWindow(windows.back()).verdict;
}

// Waits of these tests stay well below this accept limit, so that an offer that ends only
// because its limit passed is caught.
constexpr auto kLongAcceptLimit = std::chrono::seconds(60);
constexpr auto kOfferEndLimit = std::chrono::seconds(20);

Timing longAcceptLimit() {
  Timing timing = test::fastTiming();
  timing.acceptLimit = kLongAcceptLimit;
  return timing;
}

class TwoPeers : public test::Sandbox {
 protected:
  ScriptedFrontend listenerUi;
  ScriptedFrontend connectorUi;
  Peer listener{listenerUi, longAcceptLimit()};
  Peer connector{connectorUi, longAcceptLimit()};
  int port = test::freePortRange(100);
  std::atomic<int> saved{0};  // each file received gets a name of its own

  void SetUp() override {
    Sandbox::SetUp();
    for (ScriptedFrontend* ui : {&listenerUi, &connectorUi}) {
      ui->onPrompt = acceptOffers;
      ui->onChooseSaveFile = [this](const std::string& name, const std::string&) {
        return std::optional<fs::path>(folder("in") / (std::to_string(++saved) + name));
      };
    }
    ASSERT_TRUE(test::connectPeers(listener, listenerUi, connector, connectorUi, port));
  }
};

// How many of this side's offers were sent completely in the windows opened after the
// first `windows`.
std::size_t completeSends(const ScriptedFrontend& ui, std::size_t windows) {
  std::size_t complete = 0;
  const auto opened = ui.transferWindows();
  for (std::size_t at = windows; at < opened.size(); ++at) {
    const auto window = ui.transferWindow(opened[at]);
    complete += window.setup.isSender && window.verdict && window.verdict->complete;
  }
  return complete;
}

// How many of this side's own offers have ended since the counts `notices` and `windows`:
// refused by the peer's failure answer, or transferred completely.
std::size_t offersEnded(const ScriptedFrontend& ui, std::size_t notices, std::size_t windows) {
  std::size_t ended = completeSends(ui, windows);
  const auto shown = ui.notices();
  for (std::size_t at = notices; at < shown.size(); ++at)
    ended += shown[at] == "对方接收文件出错。";
  return ended;
}

TEST_F(TwoPeers, OffersCrossingUnderOneIndexEndCleanlyAndTheNextOfferTransfers) {
  const fs::path fromListener = folder("out") / "l.txt";
  const fs::path fromConnector = folder("out") / "c.txt";
  test::writeFile(fromListener, "from the listener");
  test::writeFile(fromConnector, "from the connector");
  std::size_t collisions = 0;
  for (int run = 0; run < 20; ++run) {
    // Both sides take the same lowest Index before either offer has gone out.
    const std::optional<OfferKey> listenerKey = listener.offers().reserve();
    const std::optional<OfferKey> connectorKey = connector.offers().reserve();
    ASSERT_TRUE(listenerKey && connectorKey);
    ASSERT_EQ(listenerKey->index, connectorKey->index);
    const std::size_t listenerNotices = listenerUi.notices().size();
    const std::size_t connectorNotices = connectorUi.notices().size();
    const std::size_t listenerWindows = listenerUi.transferWindows().size();
    const std::size_t connectorWindows = connectorUi.transferWindows().size();
    std::thread other([&] { connector.offerReserved(*connectorKey, {fromConnector}); });
    listener.offerReserved(*listenerKey, {fromListener});
    other.join();

    // Each offer ends for its sender, refused by the failure answer or (when the other
    // offer was already refused when it came) transferred; nothing waits on.
    ASSERT_TRUE(listenerUi.waitFor(
        [&] {
          return offersEnded(listenerUi, listenerNotices, listenerWindows) == 1 &&
                 offersEnded(connectorUi, connectorNotices, connectorWindows) == 1 &&
                 slotsEmpty(listener) && slotsEmpty(connector);
        },
        kOfferEndLimit))
        << run;
    collisions += listenerUi.notices().size() > listenerNotices &&
                  connectorUi.notices().size() > connectorNotices;
  }
  EXPECT_GT(collisions, 0u);  // runs where each offer was refused at the other side

  const std::size_t before = connectorUi.transferWindows().size();
  connector.offerFiles({fromConnector});
  EXPECT_TRUE(connectorUi.waitFor([&] { return completeSends(connectorUi, before) == 1; }));
}

TEST_F(TwoPeers, AOneFileTransferWithoutADataConnectionIsNotComplete) {
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "abc");
  // Something else holds the data port of Index 1: the listening side cannot listen, and
  // the connecting side reaches a socket that closes at once.
  const RawConnection squatter = RawConnection::listenOn(port + 2);
  std::thread closer([&] { squatter.accept().close(); });
  listener.offerFiles({source});
  ASSERT_TRUE(listenerUi.waitFor([&] { return lastVerdict(listenerUi).has_value(); }));
  ASSERT_TRUE(connectorUi.waitFor([&] { return lastVerdict(connectorUi).has_value(); }));
  closer.join();
  EXPECT_EQ(lastVerdict(listenerUi)->status, "传送中止！");
  EXPECT_EQ(lastVerdict(connectorUi)->status, "传送中止！");
  EXPECT_TRUE(listenerUi.waitForNotice("bind failed."));
}

// A small file system of its own, mounted for one test; needs root.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const fs::path& at) : at_(at) {
    if (::geteuid() != 0) {
      reason_ = "mounting a small tmpfs needs root";
    } else if (::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64k") != 0) {
      reason_ = std::string("tmpfs cannot be mounted: ") + std::strerror(errno);
    }
  }
  ~SmallFileSystem() {
    if (reason_.empty()) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  // Why it is not mounted; empty when it is.
  const std::string& reason() const { return reason_; }

 private:
  fs::path at_;
  std::string reason_;
};

// The disk fills while the transfer runs (the offer fitted when it was accepted): both
// sides end stopped, and the receiver says why.
TEST_F(TwoPeers, AFullDiskAtTheReceiverEndsBothSidesStopped) {
  const SmallFileSystem full(folder("full"));
  if (!full.reason().empty()) GTEST_SKIP() << full.reason();
  const fs::path tree = folder("out") / "tree";
  test::writeFile(tree / "a.txt", "a");
  test::writeFile(tree / "b.bin", test::patternBytes(32 << 10));
  // The first existing file holds the transfer still while something else fills the disk.
  test::writeFile(folder("full") / "tree" / "a.txt", "old");
  test::writeFile(folder("full") / "tree" / "b.bin", "old");
  connectorUi.onChooseFolder = [&] { return std::optional<fs::path>(folder("full")); };
  connectorUi.onFileExists = [&](const fs::path&) {
    const int filler =
        ::open((folder("full") / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::string block(4096, 'f');
    while (::write(filler, block.data(), block.size()) > 0) {
    }
    ::close(filler);
    return FileExistsReply{FileExistsAnswer::TransferAgain, false};
  };
  listener.offerFiles({tree});
  ASSERT_TRUE(listenerUi.waitFor([&] { return lastVerdict(listenerUi).has_value(); }));
  ASSERT_TRUE(connectorUi.waitFor([&] { return lastVerdict(connectorUi).has_value(); }));
  EXPECT_EQ(lastVerdict(connectorUi)->status, "传送中止！");
  EXPECT_EQ(lastVerdict(listenerUi)->status, "传送中止！");
  ASSERT_FALSE(connectorUi.notices().empty());
  EXPECT_TRUE(connectorUi.notices().front().starts_with("写入文件失败："))
      << connectorUi.notices().front();
  ASSERT_TRUE(connectorUi.waitFor([&] { return !connectorUi.transferEnds().empty(); }));
  EXPECT_EQ(connectorUi.transferEnds().back().cause, TransferCause::LocalDisk);
  EXPECT_FALSE(listenerUi.notices().empty());  // the sending side says what broke off
}

// An offer that cannot fit the save folder's disk is refused before anything is written,
// a single file (whose size only its item line names) and a folder alike; both people are
// told why.
TEST_F(TwoPeers, AnOfferThatCannotFitIsRefusedBeforeAnythingIsWritten) {
  const SmallFileSystem small(folder("small"));
  if (!small.reason().empty()) GTEST_SKIP() << small.reason();
  test::writeFile(folder("out") / "big.bin", test::patternBytes(1 << 20));
  test::writeFile(folder("out") / "tree" / "big.bin", test::patternBytes(1 << 20));
  connectorUi.onChooseSaveFile = [&](const std::string& name, const std::string&) {
    return std::optional<fs::path>(folder("small") / name);
  };
  connectorUi.onChooseFolder = [&] { return std::optional<fs::path>(folder("small")); };
  for (const fs::path& item : {folder("out") / "big.bin", folder("out") / "tree"}) {
    const std::size_t ends = listenerUi.offerEnds().size();
    const std::size_t notices = listenerUi.notices().size();
    listener.offerFiles({item});
    ASSERT_TRUE(listenerUi.waitFor([&] { return listenerUi.offerEnds().size() > ends; }));
    EXPECT_EQ(listenerUi.offerEnds().back().outcome, OfferOutcome::Failed);
    // The notice may come just after the offer's end.
    ASSERT_TRUE(listenerUi.waitFor([&] { return listenerUi.notices().size() > notices; }));
    EXPECT_EQ(listenerUi.notices().back(), "对方接收文件出错。\r\n对方保存位置的磁盘空间不足。");
    ASSERT_TRUE(connectorUi.waitForNotice("保存位置的磁盘空间不足，无法接收："));
    EXPECT_TRUE(connectorUi.waitForLog("TRANSFILE:REPLY:Not enough disk space. Index:1\r\n"));
    // The refusing side lets go of the Index just after its answer left: the next offer,
    // under the same Index, must not find it still held.
    ASSERT_TRUE(connectorUi.waitFor([&] { return slotsEmpty(connector); }));
  }
  EXPECT_TRUE(fs::is_empty(folder("small")));
  EXPECT_TRUE(listenerUi.transferWindows().empty());
  EXPECT_TRUE(connectorUi.transferWindows().empty());
}

// The receiving side connects; the raw socket plays the offering, listening peer.
class AwaitedPort : public test::Sandbox {
 protected:
  // The accept limit also bounds how long the test may take to name the port of a transfer
  // that should go through.
  explicit AwaitedPort(std::chrono::milliseconds acceptLimit = test::fastTiming().acceptLimit)
      : timing([acceptLimit] {
          Timing timing = test::fastTiming();
          timing.acceptLimit = acceptLimit;
          return timing;
        }()) {}

  ScriptedFrontend ui;
  Timing timing;
  Peer peer{ui, timing};
  int port = test::freePortRange(100);
  RawConnection listening;
  RawConnection raw;

  void SetUp() override {
    Sandbox::SetUp();
    ui.onPrompt = acceptOffers;
    ui.onChooseSaveFile = [this](const std::string& name, const std::string&) {
      return std::optional<fs::path>(folder("in") / name);
    };
    listening = RawConnection::listenOn(port);
    peer.connect("127.0.0.1", port);
    raw = listening.accept();
    ASSERT_TRUE(raw.isOpen());
    ASSERT_TRUE(ui.waitForLinkState(LinkState::Connected));
  }

  // Offers one file under Index 1 and waits for the acceptance.
  void offerAndAccept() {
    ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:1\r\na.txt\t3 bytes\r\n"));
    const std::string yes = "TRANSFILE:REPLY:YES:Index:1\r\n";
    ASSERT_EQ(raw.receive(yes.size()), yes);
  }
};

TEST_F(AwaitedPort, AnAcceptanceWhosePortNeverComesFreesItsSlotAfterTheAcceptLimit) {
  offerAndAccept();
  ASSERT_TRUE(peer.offers().tsf(1));
  ASSERT_TRUE(ui.waitFor([&] { return !peer.offers().tsf(1); }));

  // The slot takes the next offer under the same Index, and that one transfers.
  offerAndAccept();
  const RawConnection dataListener = RawConnection::listenOn(port + 2);
  ASSERT_TRUE(raw.send("TRANSFILE:PORT:" + std::to_string(port + 2) + ":Index:1\r\n"));
  const RawConnection data = dataListener.accept();
  ASSERT_TRUE(data.isOpen());
  FileAttributeData attributes;
  attributes.attributes = kAttributeArchive;
  ASSERT_TRUE(data.send("\\a.txt\r\nFileSize:3\r\nFileAttr:" + attributes.toWire()));
  EXPECT_EQ(data.receiveSome(), "+0");
  ASSERT_TRUE(data.send("abc"));
  EXPECT_EQ(data.receiveSome(), "0");
  std::string end = "| Transfer file(s) finished.";
  end.resize(30, '\0');
  ASSERT_TRUE(data.send(end));
  ASSERT_TRUE(ui.waitFor([&] { return lastVerdict(ui).has_value(); }));
  EXPECT_TRUE(lastVerdict(ui)->complete);
  EXPECT_EQ(test::readFile(folder("in") / "a.txt"), "abc");
  EXPECT_TRUE(ui.notices().empty());
}

// An accept limit far beyond every wait of the test, so that only the link's end can free
// the slot.
class AwaitedPortWithoutLimit : public AwaitedPort {
 protected:
  AwaitedPortWithoutLimit() : AwaitedPort(std::chrono::minutes(10)) {}
};

TEST_F(AwaitedPortWithoutLimit, AnAcceptanceWhoseLinkEndsBeforeThePortFreesItsSlot) {
  offerAndAccept();
  raw.close();
  ASSERT_TRUE(ui.waitForLinkState(LinkState::Idle));
  EXPECT_TRUE(ui.waitFor([&] { return slotsEmpty(peer); }));
}

// Offers still waiting for an answer when the connection ends, the peer's and this side's
// own: their prompts close, they end, and the next connection's offers under the same
// Index are asked about instead of refused as "slot in use".
TEST_F(AwaitedPortWithoutLimit, OffersWaitingWhenTheLinkEndsLeaveTheirSlotsFree) {
  ui.onPrompt = [](PromptHandle& handle, const PromptRequest&) {
    return ScriptedFrontend::waitUntilClosed(handle);
  };
  const fs::path file = folder("out") / "a.txt";
  test::writeFile(file, "abc");
  const std::optional<OfferKey> own = peer.offers().reserve();
  ASSERT_EQ(own->index, 1);
  peer.offerReserved(*own, {file});
  EXPECT_EQ(raw.receiveSome().rfind("TRANSFILE:ASK:Index:1\r\n", 0), 0u);
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:2\r\nb.txt\t3 bytes\r\n"));
  ASSERT_TRUE(ui.waitFor([&] { return peer.offers().tsfwnd(1) && peer.offers().tsfwnd(2); }));

  raw.close();
  ASSERT_TRUE(ui.waitForLinkState(LinkState::Idle));
  ASSERT_TRUE(ui.waitFor([&] { return slotsEmpty(peer) && ui.offerEnds().size() == 2; }));
  for (const OfferEnd& end : ui.offerEnds()) {
    EXPECT_EQ(end.ownOffer, end.index == 1);
    EXPECT_EQ(end.outcome, end.ownOffer ? OfferOutcome::Failed : OfferOutcome::Cancelled);
  }

  peer.connect("127.0.0.1", port);
  raw = listening.accept();
  ASSERT_TRUE(ui.waitForLinkState(LinkState::Connected));
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:1\r\na.txt\t3 bytes\r\n"));
  ASSERT_TRUE(ui.waitFor([&] { return peer.offers().tsfwnd(1) != nullptr; }));
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:2\r\nb.txt\t3 bytes\r\n"));
  ASSERT_TRUE(ui.waitFor([&] { return peer.offers().tsfwnd(2) != nullptr; }));
  EXPECT_EQ(ui.offerEnds().size(), 2u);
}

}  // namespace
}  // namespace brisk
