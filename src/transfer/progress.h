#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/frontend.h"
#include "common/timing.h"
#include "common/transfer_record.h"

namespace brisk {

// The four counters of a transfer, read at one moment.
struct ProgressSample {
  std::uint64_t fileSize = 0;
  std::uint64_t fileDone = 0;
  std::uint64_t totalSize = 0;
  std::uint64_t totalDone = 0;
};

ProgressSample sampleOf(const TransferRecord& record);

// The position (0 to 100) of a bar for `done` of `size` bytes, by integer division as the
// bar has always been computed; nothing for a size of 0 (the bar is left as it is).
std::optional<int> barPosition(std::uint64_t done, std::uint64_t size);

// Elapsed seconds as the window shows them: "7 s  ", "0 s  1 m  ", "5 s  25 m 1 h".
std::string elapsedText(std::uint64_t seconds);

// Turns samples taken at every tick into what the transfer window shows: both bars at
// every tick, the texts at every tenth (once a second) and at the last.
class ProgressMeter {
 public:
  static constexpr int kTicksPerRefresh = 10;

  explicit ProgressMeter(bool twoBars) : twoBars_(twoBars) {}

  // `last`: the transfer has ended; the texts show its final figures now, whatever the
  // count of ticks, and the part of a second since the previous refresh counts as one.
  TransferFigures tick(const ProgressSample& sample, bool last = false);

 private:
  bool twoBars_;
  int ticks_ = 0;
  std::uint64_t previousDone_ = 0;
  std::uint64_t seconds_ = 0;
};

// The outcome: complete when the protocol ran to its end and the bytes done reach the
// offer's total (a file the person skipped leaves the transfer incomplete).
TransferVerdict verdictFor(const ProgressSample& sample, bool protocolFinished, int fileCount,
                           bool autoClose);

struct ProgressContext {
  Frontend& frontend;
  const Timing& timing;
  std::function<bool()> autoClose;
  // Empties the record's slot, which frees its Index for new offers.
  std::function<void()> releaseRecord;
};

// Keeps a transfer window up to date until the transfer thread has ended, then releases
// the record, shows the verdict and reports the transfer's end. Runs on a thread of its own.
void progressThread(const ProgressContext& context, std::shared_ptr<TransferRecord> record);

}  // namespace brisk
