#include "common/slot_tables.h"

#include <utility>

namespace brisk {

namespace {
std::size_t at(int index) {
  return static_cast<std::size_t>(index);
}
}  // namespace

std::optional<int> SlotTables::findFreeIndex() {
  std::lock_guard lock(mutex_);
  for (int index = kFirstIndex; index <= kLastIndex; ++index) {
    if (!records_[at(index)] && !prompts_[at(index)] && !reserved_[at(index)]) {
      reserved_[at(index)] = true;
      return index;
    }
  }
  return std::nullopt;
}

void SlotTables::dropReservation(int index) {
  if (!isValidIndex(index)) return;
  std::lock_guard lock(mutex_);
  reserved_[at(index)] = false;
}

std::shared_ptr<TransferRecord> SlotTables::tsf(int index) const {
  if (!isValidIndex(index)) return nullptr;
  std::lock_guard lock(mutex_);
  return records_[at(index)];
}

bool SlotTables::storeRecord(int index, std::shared_ptr<TransferRecord> record) {
  if (!isValidIndex(index)) return false;
  std::lock_guard lock(mutex_);
  // A record whose transfer has ended only waits for its progress display to let it go
  // (which leaves a new record alone): it does not hold the slot against a new transfer.
  if (records_[at(index)] && !records_[at(index)]->transferEnded) return false;
  records_[at(index)] = std::move(record);
  reserved_[at(index)] = false;
  return true;
}

std::shared_ptr<TransferRecord> SlotTables::takeRecord(int index) {
  if (!isValidIndex(index)) return nullptr;
  std::lock_guard lock(mutex_);
  return std::exchange(records_[at(index)], nullptr);
}

void SlotTables::releaseRecord(int index, const TransferRecord* record) {
  if (!isValidIndex(index)) return;
  std::lock_guard lock(mutex_);
  if (records_[at(index)].get() == record) records_[at(index)] = nullptr;
}

std::shared_ptr<PromptHandle> SlotTables::tsfwnd(int index) const {
  if (!isValidIndex(index)) return nullptr;
  std::lock_guard lock(mutex_);
  return prompts_[at(index)];
}

void SlotTables::setPrompt(int index, std::shared_ptr<PromptHandle> prompt) {
  if (!isValidIndex(index)) return;
  std::lock_guard lock(mutex_);
  prompts_[at(index)] = std::move(prompt);
}

bool SlotTables::claimPrompt(int index, std::shared_ptr<PromptHandle> prompt) {
  if (!isValidIndex(index)) return false;
  std::lock_guard lock(mutex_);
  const std::shared_ptr<TransferRecord>& record = records_[at(index)];
  if (prompts_[at(index)] || reserved_[at(index)] || (record && !record->transferEnded)) {
    return false;
  }
  prompts_[at(index)] = std::move(prompt);
  return true;
}

std::shared_ptr<PromptHandle> SlotTables::takePrompt(int index) {
  if (!isValidIndex(index)) return nullptr;
  std::lock_guard lock(mutex_);
  return std::exchange(prompts_[at(index)], nullptr);
}

void SlotTables::clearPrompt(int index, const PromptHandle* prompt) {
  if (!isValidIndex(index)) return;
  std::lock_guard lock(mutex_);
  if (prompts_[at(index)].get() == prompt) prompts_[at(index)] = nullptr;
}

std::vector<std::shared_ptr<TransferRecord>> SlotTables::takeAllRecords() {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<TransferRecord>> taken;
  for (auto& record : records_) {
    if (record) taken.push_back(std::exchange(record, nullptr));
  }
  return taken;
}

bool SlotTables::anyInUse() const {
  std::lock_guard lock(mutex_);
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    if (records_[slot] || prompts_[slot] || reserved_[slot]) return true;
  }
  return false;
}

std::vector<SlotTables::OpenPrompt> SlotTables::openPrompts() const {
  std::lock_guard lock(mutex_);
  std::vector<OpenPrompt> open;
  for (int index = kFirstIndex; index <= kLastIndex; ++index) {
    if (prompts_[at(index)]) open.push_back({index, prompts_[at(index)], records_[at(index)]});
  }
  return open;
}

std::vector<std::shared_ptr<PromptHandle>> SlotTables::takeAllPrompts() {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<PromptHandle>> taken;
  for (auto& prompt : prompts_) {
    if (prompt) taken.push_back(std::exchange(prompt, nullptr));
  }
  return taken;
}

}  // namespace brisk
