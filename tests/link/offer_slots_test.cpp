#include "link/offer_slots.h"

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/scripted_frontend.h"

namespace brisk {
namespace {

using test::ScriptedFrontend;
using namespace std::chrono_literals;

std::shared_ptr<PromptHandle> prompt(const char* text = "offer") {
  return std::make_shared<PromptHandle>(text);
}

class OfferSlotsTest : public ::testing::Test {
 protected:
  ScriptedFrontend ui;
  OfferSlots slots{ui};

  // An offer of this side, waiting for the peer's answer.
  OfferKey offered() {
    const OfferKey key = *slots.reserve();
    EXPECT_TRUE(slots.offer(key, std::make_shared<TransferRecord>(), prompt()));
    return key;
  }
  // An offer of the peer's, accepted and waiting for its port.
  OfferKey awaitingPort(int index) {
    const OfferKey key = *slots.claimForPeer(index, prompt());
    EXPECT_TRUE(slots.move(key, OfferState::Asked, OfferState::AwaitingPort,
                           std::make_shared<TransferRecord>()));
    return key;
  }
};

TEST_F(OfferSlotsTest, TheLowestIndexNobodyUsesIsReservedAndAnEndedTransferGivesWay) {
  EXPECT_EQ(slots.reserve()->index, 1);
  const OfferKey two = *slots.reserve();
  EXPECT_EQ(two.index, 2);
  ASSERT_TRUE(slots.claimForPeer(3, prompt()));  // a prompt asking the person keeps 3
  EXPECT_EQ(slots.reserve()->index, 4);

  slots.dropReservation(two);
  const OfferKey again = *slots.reserve();
  EXPECT_EQ(again.index, 2);
  EXPECT_NE(again.id, two.id);  // a new offer, which the old key never names

  // A transfer that has ended only waits for its verdict: its Index is taken again.
  const auto record = std::make_shared<TransferRecord>();
  ASSERT_TRUE(slots.offer(again, record, prompt()));
  ASSERT_TRUE(slots.move(again, OfferState::Offered, OfferState::Transferring));
  EXPECT_EQ(slots.reserve()->index, 5);
  record->markTransferEnded();
  const OfferKey next = *slots.reserve();
  EXPECT_EQ(next.index, 2);
  slots.releaseTransfer(again);  // the old verdict is shown: the new offer stays
  EXPECT_EQ(slots.find(2).state, OfferState::Reserved);
  EXPECT_EQ(slots.find(2).key, next);
}

TEST_F(OfferSlotsTest, NinetyNineOffersAtMostAndConcurrentReservationsNeverShare) {
  std::vector<int> found[4];
  std::vector<std::thread> threads;
  for (auto& mine : found) {
    threads.emplace_back([this, &mine] {
      while (const auto key = slots.reserve()) mine.push_back(key->index);
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int> all;
  for (const auto& mine : found) all.insert(mine.begin(), mine.end());
  EXPECT_EQ(all.size(), 99u);
  EXPECT_FALSE(slots.claimForPeer(7, prompt()));  // the peer's offer meets a slot in use
  for (const int bad : {0, 100, -1}) EXPECT_FALSE(slots.claimForPeer(bad, prompt()));
}

// Several threads race to end one offer (the peer's answer, the person's Cancel, the
// connection's end): one wins, its steps run once and in order, one end is reported.
TEST_F(OfferSlotsTest, AnOfferEndsExactlyOnceWhoeverTriesFirst) {
  for (int round = 0; round < 50; ++round) {
    const OfferKey key = offered();
    const auto waiting = slots.find(key.index).prompt;
    std::atomic<int> winners{0};
    std::atomic<int> toldPeer{0};
    std::atomic<bool> heldWhileTelling{true};
    std::vector<std::thread> racers;
    for (const OfferOutcome outcome :
         {OfferOutcome::Refused, OfferOutcome::Cancelled, OfferOutcome::Failed}) {
      racers.emplace_back([&, outcome] {
        const bool won =
            slots.end(key, outcome,
                      {[&] {
                         ++toldPeer;
                         heldWhileTelling =
                             heldWhileTelling && slots.find(key.index).state == OfferState::Ending;
                       },
                       [&] { heldWhileTelling = heldWhileTelling && waiting->closeRequested(); }});
        winners += won;
      });
    }
    for (auto& racer : racers) racer.join();
    EXPECT_EQ(winners, 1);
    EXPECT_EQ(toldPeer, 1);
    EXPECT_TRUE(heldWhileTelling);
    EXPECT_EQ(slots.find(key.index).state, OfferState::Free);
    // Too late for everyone else, including a move to a transfer.
    EXPECT_FALSE(slots.move(key, OfferState::Offered, OfferState::Transferring));
  }
  EXPECT_EQ(ui.offerEnds().size(), 50u);
}

TEST_F(OfferSlotsTest, AStaleKeyNeverTouchesTheNextOfferInItsSlot) {
  const OfferKey old = offered();
  ASSERT_TRUE(slots.end(old, OfferOutcome::Refused));
  const OfferKey next = *slots.claimForPeer(old.index, prompt("the peer's"));
  EXPECT_FALSE(slots.end(old, OfferOutcome::Failed));
  EXPECT_FALSE(slots.move(old, OfferState::Asked, OfferState::Transferring));
  slots.dropReservation(old);
  slots.releaseTransfer(old);
  EXPECT_EQ(slots.find(next.index).key, next);
  EXPECT_EQ(slots.tsfwnd(next.index)->text(), "the peer's");
}

TEST_F(OfferSlotsTest, MovingOnClosesThePromptAndATransferReportsTheOfferAccepted) {
  const OfferKey key = offered();
  const auto waiting = slots.tsfwnd(key.index);
  EXPECT_FALSE(slots.move(key, OfferState::Asked, OfferState::Transferring));  // wrong state
  ASSERT_TRUE(slots.move(key, OfferState::Offered, OfferState::Transferring));
  EXPECT_TRUE(waiting->closeRequested());
  EXPECT_EQ(slots.tsfwnd(key.index), nullptr);
  ASSERT_EQ(ui.offerEnds().size(), 1u);
  EXPECT_EQ(ui.offerEnds()[0].outcome, OfferOutcome::Accepted);
  EXPECT_TRUE(ui.offerEnds()[0].ownOffer);
  // A transfer under way is not ended as an offer; its verdict frees the Index.
  EXPECT_FALSE(slots.end(key, OfferOutcome::Failed));
  slots.releaseTransfer(key);
  EXPECT_FALSE(slots.anyInUse());
}

TEST_F(OfferSlotsTest, TheEndOfTheConnectionEndsWhatWaitsOnItAndNothingElse) {
  const OfferKey reserved = *slots.reserve();               // 1: still being composed
  const OfferKey own = offered();                           // 2
  const OfferKey asked = *slots.claimForPeer(3, prompt());  // 3
  const OfferKey awaiting = awaitingPort(4);                // 4
  const OfferKey running = awaitingPort(5);                 // 5
  ASSERT_TRUE(slots.move(running, OfferState::AwaitingPort, OfferState::Transferring));
  const std::size_t before = ui.offerEnds().size();

  slots.endWaitingOffers();
  const struct {
    OfferKey key;
    OfferState state;
  } expected[] = {{reserved, OfferState::Reserved},
                  {own, OfferState::Free},
                  {asked, OfferState::Free},
                  {awaiting, OfferState::Free},
                  {running, OfferState::Transferring}};
  for (const auto& [key, state] : expected) {
    EXPECT_EQ(slots.find(key.index).state, state) << key.index;
  }
  const auto ends = ui.offerEnds();
  ASSERT_EQ(ends.size(), before + 3);
  for (std::size_t at = before; at < ends.size(); ++at) {
    const OfferOutcome expectedOutcome =
        ends[at].index == asked.index ? OfferOutcome::Cancelled : OfferOutcome::Failed;
    EXPECT_EQ(ends[at].outcome, expectedOutcome) << ends[at].index;
  }
}

TEST_F(OfferSlotsTest, AWaitForThePortEndsOnTheMoveTheDeadlineOrTheStop) {
  const OfferKey moved = awaitingPort(1);
  std::thread port([&] {
    std::this_thread::sleep_for(20ms);  // the PORT arrives while the wait is on
    (void)slots.move(moved, OfferState::AwaitingPort, OfferState::Transferring);
  });
  EXPECT_TRUE(
      slots.waitWhile(moved, OfferState::AwaitingPort, std::chrono::steady_clock::now() + 10s));
  port.join();

  const OfferKey never = awaitingPort(2);
  EXPECT_FALSE(
      slots.waitWhile(never, OfferState::AwaitingPort, std::chrono::steady_clock::now() + 20ms));

  std::thread stopper([&] { slots.stop(); });
  EXPECT_FALSE(
      slots.waitWhile(never, OfferState::AwaitingPort, std::chrono::steady_clock::now() + 10s));
  stopper.join();
  EXPECT_FALSE(slots.reserve());  // nothing new once stopped
  EXPECT_FALSE(slots.claimForPeer(9, prompt()));
}

TEST(PromptHandle, CloseRunsTheHookOnceEvenWhenItCameBeforeTheHook) {
  PromptHandle handle("text");
  handle.close();
  int calls = 0;
  handle.setCloseHook([&] { ++calls; });
  handle.close();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(handle.closeRequested());
  EXPECT_EQ(handle.text(), "text");
}

}  // namespace
}  // namespace brisk
