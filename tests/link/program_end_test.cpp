// The order in which a program stops: the front end's first steps, then the front end lets
// go of the questions it holds, then the Peer joins its threads; and only once.

#include "link/program_end.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/peer.h"
#include "support/peer_pair.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::ScriptedFrontend;

// A scripted front end that also hears that the program ends.
class EndingFrontend : public ScriptedFrontend {
 public:
  std::function<void()> onBeginShutdown = [] {};
  void beginShutdown() override { onBeginShutdown(); }
};

class ProgramEndTest : public test::Sandbox {
 protected:
  EndingFrontend ui;
  Peer peer{ui, test::fastTiming()};
  ProgramEnd end{peer, ui};

  // Keeps what happened, and whether the Peer had begun to stop by then.
  void note(const std::string& what) {
    std::lock_guard lock(mutex_);
    events_.push_back(peer.stopping() ? what + " after the Peer stopped" : what);
  }
  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

// The peer's offer is accepted and its save dialog stays open on the question thread, which
// the Peer joins at shutdown: were the Peer stopped before the front end let go, the end
// would wait for the dialog until the test's limit.
TEST_F(ProgramEndTest, FirstStepsThenTheFrontEndThenThePeerAndOnlyOnce) {
  ScriptedFrontend offererUi;
  Peer offerer{offererUi, test::fastTiming()};
  ASSERT_TRUE(test::connectPeers(peer, ui, offerer, offererUi, test::freePortRange(100)));

  std::atomic<bool> dialogOpen{false};
  std::atomic<bool> released{false};
  ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Accept; };
  ui.onChooseSaveFile = [&](const std::string&, const std::string&) {
    dialogOpen = true;
    test::waitFor([&] { return released.load(); });
    return std::optional<fs::path>();
  };
  ui.onBeginShutdown = [&] {
    note("front end released");
    released = true;
  };
  end.addFirstStep([&] { note("announcement withdrawn"); });
  end.addFirstStep([&] { note("browsing stopped"); });

  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, test::patternBytes(10));
  offerer.offerFiles({source});
  ASSERT_TRUE(test::waitFor([&] { return dialogOpen.load(); }));

  const auto started = std::chrono::steady_clock::now();
  end.run();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(peer.stopping());
  // The window's close and main() both run it; the second finds it done.
  end.run();
  const std::vector<std::string> expected = {"announcement withdrawn", "browsing stopped",
                                             "front end released"};
  EXPECT_EQ(events(), expected);
}

}  // namespace
}  // namespace brisk
