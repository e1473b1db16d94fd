#include "common/slot_tables.h"

#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(SlotTables, TheLowestSlotWithoutRecordPromptOrReservationIsChosenAndReserved) {
  SlotTables slots;
  EXPECT_EQ(slots.findFreeIndex(), 1);
  EXPECT_EQ(slots.findFreeIndex(), 2);  // 1 is reserved now
  slots.setPrompt(3, std::make_shared<PromptHandle>("offer"));
  EXPECT_EQ(slots.findFreeIndex(), 4);  // a prompt still open on this side keeps 3

  slots.dropReservation(2);
  EXPECT_EQ(slots.findFreeIndex(), 2);
  ASSERT_TRUE(slots.storeRecord(1, std::make_shared<TransferRecord>()));
  slots.takeRecord(1);
  EXPECT_EQ(slots.findFreeIndex(), 1);  // the record ended the reservation
}

TEST(SlotTables, ARecordWhoseTransferEndedGivesWayToANewOne) {
  SlotTables slots;
  const auto old = std::make_shared<TransferRecord>();
  ASSERT_TRUE(slots.storeRecord(1, old));
  EXPECT_FALSE(slots.storeRecord(1, std::make_shared<TransferRecord>()));  // still running
  old->markTransferEnded();
  const auto next = std::make_shared<TransferRecord>();
  ASSERT_TRUE(slots.storeRecord(1, next));
  slots.releaseRecord(1, old.get());  // the old transfer's display lets go: the new one stays
  EXPECT_EQ(slots.tsf(1), next);
}

TEST(SlotTables, WithNinetyNineTakenThereIsNoFreeSlot) {
  SlotTables slots;
  for (int i = 1; i <= 98; ++i) ASSERT_TRUE(slots.findFreeIndex());
  slots.setPrompt(99, std::make_shared<PromptHandle>("incoming"));
  EXPECT_FALSE(slots.findFreeIndex());
  slots.takePrompt(99);
  EXPECT_EQ(slots.findFreeIndex(), 99);
}

TEST(SlotTables, ConcurrentSearchesNeverShareASlot) {
  SlotTables slots;
  std::vector<int> found[4];
  std::vector<std::thread> threads;
  for (auto& mine : found) {
    threads.emplace_back([&slots, &mine] {
      while (const auto index = slots.findFreeIndex()) mine.push_back(*index);
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int> all;
  for (const auto& mine : found) all.insert(mine.begin(), mine.end());
  EXPECT_EQ(all.size(), 99u);
}

TEST(SlotTables, IndexesOutsideOneToNinetyNineNeverReachTheTables) {
  SlotTables slots;
  for (const int bad : {0, 100, -1, 1000000}) {
    EXPECT_FALSE(slots.storeRecord(bad, std::make_shared<TransferRecord>()));
    EXPECT_EQ(slots.tsf(bad), nullptr);
    slots.setPrompt(bad, std::make_shared<PromptHandle>(""));
    EXPECT_EQ(slots.tsfwnd(bad), nullptr);
  }
}

TEST(SlotTables, ReleasingByIdentityLeavesANewerOccupantAlone) {
  SlotTables slots;
  auto first = std::make_shared<TransferRecord>();
  ASSERT_TRUE(slots.storeRecord(5, first));
  EXPECT_FALSE(slots.storeRecord(5, std::make_shared<TransferRecord>()));
  slots.takeRecord(5);
  auto second = std::make_shared<TransferRecord>();
  ASSERT_TRUE(slots.storeRecord(5, second));
  slots.releaseRecord(5, first.get());
  EXPECT_EQ(slots.tsf(5), second);
  slots.releaseRecord(5, second.get());
  EXPECT_EQ(slots.tsf(5), nullptr);
}

TEST(SlotTables, ThePeersOfferTakesOnlyASlotThisSideDoesNotUse) {
  SlotTables slots;
  const int reserved = *slots.findFreeIndex();
  ASSERT_TRUE(slots.storeRecord(2, std::make_shared<TransferRecord>()));
  auto ended = std::make_shared<TransferRecord>();
  ended->transferEnded = true;
  ASSERT_TRUE(slots.storeRecord(3, ended));
  slots.setPrompt(4, std::make_shared<PromptHandle>("own"));
  const std::pair<int, bool> cases[] = {{reserved, false}, {2, false}, {3, true},
                                        {4, false},        {5, true},  {100, false}};
  for (const auto& [index, claimed] : cases) {
    const auto prompt = std::make_shared<PromptHandle>("peer's");
    EXPECT_EQ(slots.claimPrompt(index, prompt), claimed) << index;
    EXPECT_EQ(slots.tsfwnd(index) == prompt, claimed) << index;
  }
  EXPECT_EQ(slots.tsfwnd(4)->text(), "own");
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
