#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/prompt_handle.h"
#include "common/transfer_record.h"

namespace brisk {

// Every offer and transfer has an Index from 1 to 99, the same on both sides. `tsf` holds
// its record, `tsfwnd` the prompt that waits for a decision about it. One mutex guards
// both tables; a slot handed out by findFreeIndex stays reserved until a record is stored
// in it or the reservation is dropped, so two offers never pick the same slot.
class SlotTables {
 public:
  static constexpr int kFirstIndex = 1;
  static constexpr int kLastIndex = 99;
  static bool isValidIndex(long long index) { return index >= kFirstIndex && index <= kLastIndex; }

  // The lowest Index whose record, prompt and reservation are all empty, now reserved.
  std::optional<int> findFreeIndex();
  // Drops a reservation that did not become a record (the offer was abandoned).
  void dropReservation(int index);

  std::shared_ptr<TransferRecord> tsf(int index) const;
  // Stores a record (ends a reservation). Returns false, storing nothing, when the slot
  // already holds one whose transfer has not ended.
  [[nodiscard]] bool storeRecord(int index, std::shared_ptr<TransferRecord> record);
  // Empties the slot and returns what it held.
  std::shared_ptr<TransferRecord> takeRecord(int index);
  // Empties the slot only if it still holds `record`.
  void releaseRecord(int index, const TransferRecord* record);

  std::shared_ptr<PromptHandle> tsfwnd(int index) const;
  void setPrompt(int index, std::shared_ptr<PromptHandle> prompt);
  // Stores the prompt of the peer's offer, unless this side uses the slot: a prompt, a
  // reservation or a record there (a record whose transfer has ended is on its way out and
  // does not count). Returns false, storing nothing, when the slot is in use, which
  // happens when both sides offer at the same moment and pick the same Index.
  [[nodiscard]] bool claimPrompt(int index, std::shared_ptr<PromptHandle> prompt);
  std::shared_ptr<PromptHandle> takePrompt(int index);
  // Empties the prompt slot only if it still holds `prompt`.
  void clearPrompt(int index, const PromptHandle* prompt);

  // Whether any slot holds a record, a prompt or a reservation: an offer or transfer
  // under way.
  bool anyInUse() const;

  // A prompt in its slot, with the record of this side's own offer beside it (none for a
  // prompt asking about the peer's offer).
  struct OpenPrompt {
    int index = 0;
    std::shared_ptr<PromptHandle> prompt;
    std::shared_ptr<TransferRecord> record;
  };
  std::vector<OpenPrompt> openPrompts() const;

  // Empties every slot; returns the records and prompts they held.
  std::vector<std::shared_ptr<TransferRecord>> takeAllRecords();
  std::vector<std::shared_ptr<PromptHandle>> takeAllPrompts();

 private:
  static constexpr std::size_t kSlots = 100;
  mutable std::mutex mutex_;
  std::array<std::shared_ptr<TransferRecord>, kSlots> records_;
  std::array<std::shared_ptr<PromptHandle>, kSlots> prompts_;
  std::array<bool, kSlots> reserved_{};
};

}  // namespace brisk
