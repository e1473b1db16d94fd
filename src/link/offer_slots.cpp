#include "link/offer_slots.h"

#include <algorithm>
#include <utility>

namespace brisk {

namespace {

std::size_t at(int index) {
  return static_cast<std::size_t>(index);
}

bool endable(OfferState state) {
  switch (state) {
    case OfferState::Reserved:
    case OfferState::Offered:
    case OfferState::Asked:
    case OfferState::AwaitingPort:
      return true;
    case OfferState::Free:
    case OfferState::Transferring:
    case OfferState::Ending:
      return false;
  }
  return false;
}

}  // namespace

OfferSlots::OfferSlots(Frontend& frontend) : frontend_(frontend) {}

void OfferSlots::setChangeListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

bool OfferSlots::takeable(const Slot& slot) {
  if (slot.state == OfferState::Free) return true;
  return slot.state == OfferState::Transferring && slot.record && slot.record->transferEnded;
}

OfferSlots::Slot* OfferSlots::slotOf(const OfferKey& key) {
  if (!isValidIndex(key.index)) return nullptr;
  Slot& slot = slots_[at(key.index)];
  return slot.id == key.id && slot.state != OfferState::Free ? &slot : nullptr;
}

OfferView OfferSlots::viewOf(int index) const {
  const Slot& slot = slots_[at(index)];
  return OfferView{{index, slot.id}, slot.state, slot.ownOffer, slot.record, slot.prompt};
}

std::optional<OfferKey> OfferSlots::reserve() {
  std::optional<OfferKey> key;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return std::nullopt;
    for (int index = kFirstIndex; index <= kLastIndex; ++index) {
      Slot& slot = slots_[at(index)];
      if (!takeable(slot)) continue;
      slot = Slot{++lastId_, OfferState::Reserved, true, nullptr, nullptr};
      key = OfferKey{index, slot.id};
      break;
    }
  }
  if (key) changed();
  return key;
}

void OfferSlots::dropReservation(const OfferKey& key) {
  {
    std::lock_guard lock(mutex_);
    Slot* slot = slotOf(key);
    if (!slot || slot->state != OfferState::Reserved) return;
    *slot = Slot{};
  }
  changed();
}

bool OfferSlots::offer(const OfferKey& key, std::shared_ptr<TransferRecord> record,
                       std::shared_ptr<PromptHandle> prompt) {
  {
    std::lock_guard lock(mutex_);
    Slot* slot = slotOf(key);
    if (!slot || slot->state != OfferState::Reserved) return false;
    slot->state = OfferState::Offered;
    slot->record = std::move(record);
    slot->prompt = std::move(prompt);
  }
  changed();
  return true;
}

std::optional<OfferKey> OfferSlots::claimForPeer(int index, std::shared_ptr<PromptHandle> prompt) {
  if (!isValidIndex(index)) return std::nullopt;
  OfferKey key{index, 0};
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[at(index)];
    if (stopped_ || !takeable(slot)) return std::nullopt;
    slot = Slot{++lastId_, OfferState::Asked, false, nullptr, std::move(prompt)};
    key.id = slot.id;
  }
  changed();
  return key;
}

void OfferSlots::endUnclaimed(int index, OfferOutcome outcome) {
  report(index, false, outcome);
}

bool OfferSlots::move(const OfferKey& key, OfferState from, OfferState to,
                      std::shared_ptr<TransferRecord> record) {
  std::shared_ptr<PromptHandle> prompt;
  bool ownOffer = false;
  {
    std::lock_guard lock(mutex_);
    Slot* slot = slotOf(key);
    if (!slot || slot->state != from) return false;
    slot->state = to;
    if (record) slot->record = std::move(record);
    // The decision the prompt waited for has been made.
    if (to == OfferState::AwaitingPort || to == OfferState::Transferring) {
      prompt = std::exchange(slot->prompt, nullptr);
    }
    ownOffer = slot->ownOffer;
  }
  if (prompt) prompt->close();
  changed();
  if (to == OfferState::Transferring) report(key.index, ownOffer, OfferOutcome::Accepted);
  return true;
}

bool OfferSlots::end(const OfferKey& key, OfferOutcome outcome, const OfferEndSteps& steps) {
  bool ownOffer = false;
  {
    std::lock_guard lock(mutex_);
    Slot* slot = slotOf(key);
    if (!slot || !endable(slot->state)) return false;
    slot->state = OfferState::Ending;
    ownOffer = slot->ownOffer;
  }
  changed();
  if (steps.tellPeer) steps.tellPeer();
  std::shared_ptr<PromptHandle> prompt;
  {
    std::lock_guard lock(mutex_);
    prompt = std::exchange(slots_[at(key.index)].prompt, nullptr);
  }
  if (prompt) prompt->close();
  // The Index stays taken while the person is told and the end is reported, so that
  // nothing counts as idle before they have been.
  if (steps.tellPerson) steps.tellPerson();
  report(key.index, ownOffer, outcome);
  {
    std::lock_guard lock(mutex_);
    slots_[at(key.index)] = Slot{};
  }
  changed();
  return true;
}

void OfferSlots::releaseTransfer(const OfferKey& key) {
  {
    std::lock_guard lock(mutex_);
    Slot* slot = slotOf(key);
    if (!slot || slot->state != OfferState::Transferring) return;
    *slot = Slot{};
  }
  changed();
}

bool OfferSlots::waitWhile(const OfferKey& key, OfferState state,
                           std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  const auto left = [&] {
    const Slot* slot = slotOf(key);
    return !slot || slot->state != state;
  };
  stateChanged_.wait_until(lock, deadline, [&] { return stopped_ || left(); });
  return left();
}

void OfferSlots::endWaitingOffers() {
  for (const OfferView& view : inUse()) {
    switch (view.state) {
      case OfferState::Offered:
      case OfferState::AwaitingPort:
        end(view.key, OfferOutcome::Failed);
        break;
      case OfferState::Asked:
        end(view.key, OfferOutcome::Cancelled);
        break;
      default:
        break;
    }
  }
}

OfferView OfferSlots::find(int index) const {
  if (!isValidIndex(index)) return {};
  std::lock_guard lock(mutex_);
  return viewOf(index);
}

bool OfferSlots::anyInUse() const {
  std::lock_guard lock(mutex_);
  for (const Slot& slot : slots_) {
    if (slot.state != OfferState::Free) return true;
  }
  return false;
}

bool OfferSlots::anyEnding() const {
  std::lock_guard lock(mutex_);
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const Slot& slot) { return slot.state == OfferState::Ending; });
}

std::vector<OfferView> OfferSlots::inUse() const {
  std::lock_guard lock(mutex_);
  std::vector<OfferView> views;
  for (int index = kFirstIndex; index <= kLastIndex; ++index) {
    if (slots_[at(index)].state != OfferState::Free) views.push_back(viewOf(index));
  }
  return views;
}

void OfferSlots::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  stateChanged_.notify_all();
  for (const OfferView& view : inUse()) {
    if (view.prompt) view.prompt->close();
    if (view.record) view.record->dataSocket.interrupt();
  }
}

void OfferSlots::clear() {
  {
    std::lock_guard lock(mutex_);
    for (Slot& slot : slots_) slot = Slot{};
  }
  changed();
}

void OfferSlots::changed() {
  std::function<void()> listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  stateChanged_.notify_all();
  if (listener) listener();
}

void OfferSlots::report(int index, bool ownOffer, OfferOutcome outcome) {
  frontend_.offerEnded(OfferEnd{index, ownOffer, outcome});
}

}  // namespace brisk
