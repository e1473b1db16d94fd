#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/frontend.h"
#include "common/prompt_handle.h"
#include "common/transfer_record.h"

namespace brisk {

// Where an offer stands. Every offer and transfer has an Index from 1 to 99, the same on
// both sides; each side keeps one of these per Index.
enum class OfferState {
  Free,
  Reserved,      // this side's offer is being composed
  Offered,       // this side's offer waits for the peer's answer (its ASK queued or sent)
  Asked,         // the peer's offer waits for the person's answer and where to save it
  AwaitingPort,  // this side accepted and connects for the data: it waits for the PORT
  Transferring,  // the transfer's window and threads run (or have just ended)
  Ending,        // the offer is ending: the peer and the person are being told
};

// Names one offer: its Index and a number no other offer of this Peer ever gets, so that a
// thread acting late on an offer that has ended never touches the next one in its slot.
struct OfferKey {
  int index = 0;
  std::uint64_t id = 0;
  friend bool operator==(const OfferKey&, const OfferKey&) = default;
};

// One slot at one moment.
struct OfferView {
  OfferKey key;
  OfferState state = OfferState::Free;
  bool ownOffer = false;  // this side made the offer
  std::shared_ptr<TransferRecord> record;
  std::shared_ptr<PromptHandle> prompt;
};

// What ending an offer involves besides freeing its slot, in this order.
struct OfferEndSteps {
  // While the slot is still held: the message the peer must get before the Index can be
  // used again (a refusal, a CANCEL, a STOP), so that no new offer overtakes it.
  std::function<void()> tellPeer;
  // Once the prompt is closed and before the end is reported: what the person is told.
  std::function<void()> tellPerson;
};

// The one owner of every offer's life on this side: the slot tables (`tsf` with each
// offer's record, `tsfwnd` with the prompt that waits for a decision about it) and the
// state of each Index. Every change goes through it under one lock; an offer that ends
// ends only through end(), which releases the record, closes and clears the prompt and
// reports offerEnded exactly once. Any thread.
class OfferSlots {
 public:
  static constexpr int kFirstIndex = 1;
  static constexpr int kLastIndex = 99;
  static bool isValidIndex(long long index) { return index >= kFirstIndex && index <= kLastIndex; }

  explicit OfferSlots(Frontend& frontend);
  OfferSlots(const OfferSlots&) = delete;
  OfferSlots& operator=(const OfferSlots&) = delete;

  // Called after every change of state, outside the lock (for the Peer's idle event).
  void setChangeListener(std::function<void()> listener);

  // --- This side's offers
  // The lowest free Index, now Reserved for an offer being composed.
  std::optional<OfferKey> reserve();
  // Gives a reservation back when no offer was made after all (the person chose nothing).
  void dropReservation(const OfferKey& key);
  // Reserved -> Offered with the offer's record and its waiting prompt, before its ASK
  // goes out, so that an answer coming back at once finds them.
  [[nodiscard]] bool offer(const OfferKey& key, std::shared_ptr<TransferRecord> record,
                           std::shared_ptr<PromptHandle> prompt);

  // --- The peer's offers
  // Free -> Asked with the prompt asking the person. Nothing when this side uses the
  // Index: both sides offered at once and picked the same one.
  std::optional<OfferKey> claimForPeer(int index, std::shared_ptr<PromptHandle> prompt);
  // Reports the end of a peer's offer that never took a slot (refused before it was asked).
  void endUnclaimed(int index, OfferOutcome outcome);

  // --- Either side
  // Moves the offer from `from` to `to`; false, changing nothing, when the slot holds
  // another offer or the offer is in another state. `record`, when given, is stored. A move
  // to AwaitingPort or Transferring takes the prompt out of its slot and closes it; a move
  // to Transferring reports the offer's end as Accepted.
  [[nodiscard]] bool move(const OfferKey& key, OfferState from, OfferState to,
                          std::shared_ptr<TransferRecord> record = nullptr);
  // Ends the offer unless it has already ended or its transfer has started: the slot is
  // held (Ending) while `steps.tellPeer` runs, the prompt is closed, `steps.tellPerson`
  // runs and offerEnded is reported; then the slot is freed. True when this call ended it.
  bool end(const OfferKey& key, OfferOutcome outcome, const OfferEndSteps& steps = {});
  // The transfer's end has been shown: its record leaves the slot (the Index is free).
  void releaseTransfer(const OfferKey& key);
  // Waits until the offer leaves `state`, the deadline passes or the Peer stops; true when
  // it left the state.
  bool waitWhile(const OfferKey& key, OfferState state,
                 std::chrono::steady_clock::time_point deadline);

  // The connection has ended: no answer, prompt or port can come over it any more. Ends
  // this side's offers waiting for an answer and the port (Failed) and the peer's offers
  // still being asked about (Cancelled).
  void endWaitingOffers();

  // --- Looking at the slots
  OfferView find(int index) const;
  std::shared_ptr<TransferRecord> tsf(int index) const { return find(index).record; }
  std::shared_ptr<PromptHandle> tsfwnd(int index) const { return find(index).prompt; }
  // Whether any Index is not free: an offer or a transfer is under way.
  bool anyInUse() const;
  // An offer is being ended: its answer may have gone to the peer, its outcome is not
  // reported yet.
  bool anyEnding() const;
  std::vector<OfferView> inUse() const;

  // --- Shutdown
  // Stops every wait, closes every prompt and interrupts every data connection; from now
  // on nothing is claimed or reserved.
  void stop();
  // Empties every slot, after every thread that used them has been joined.
  void clear();

 private:
  struct Slot {
    std::uint64_t id = 0;
    OfferState state = OfferState::Free;
    bool ownOffer = false;
    std::shared_ptr<TransferRecord> record;
    std::shared_ptr<PromptHandle> prompt;
  };
  static constexpr std::size_t kSlots = kLastIndex + 1;

  // With mutex_ held: whether a new offer may take the slot. A transfer that has ended
  // only waits for its verdict to be shown and does not hold its Index against new offers.
  static bool takeable(const Slot& slot);
  // With mutex_ held: the slot of `key` when it still holds that offer.
  Slot* slotOf(const OfferKey& key);
  OfferView viewOf(int index) const;
  void changed();
  void report(int index, bool ownOffer, OfferOutcome outcome);

  Frontend& frontend_;

  mutable std::mutex mutex_;
  std::condition_variable stateChanged_;
  std::array<Slot, kSlots> slots_{};
  std::uint64_t lastId_ = 0;
  bool stopped_ = false;
  std::function<void()> listener_;
};

}  // namespace brisk
