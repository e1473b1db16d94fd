#include "transfer/progress.h"

#include <algorithm>
#include <thread>

#include "common/size_text.h"

namespace brisk {

ProgressSample sampleOf(const TransferRecord& record) {
  return ProgressSample{record.fileSize, record.fileDone, record.totalSize, record.totalDone};
}

std::optional<int> barPosition(std::uint64_t done, std::uint64_t size) {
  if (size == 0) return std::nullopt;
  const std::uint64_t position = size >= 100 ? done / (size / 100) : done * 100 / size;
  // Past 100 the bar is full; a resume offset beyond the size must not wrap around.
  return static_cast<int>(std::min<std::uint64_t>(position, 100));
}

std::string elapsedText(std::uint64_t seconds) {
  // Each part is written at a fixed place; a two-digit part runs over the blank before it.
  std::string text = std::to_string(seconds % 60) + " s  ";
  if (seconds >= 60) text = text.substr(0, 5) + std::to_string(seconds % 3600 / 60) + " m  ";
  if (seconds >= 3600) text = text.substr(0, 10) + std::to_string(seconds / 3600) + " h";
  return text;
}

TransferFigures ProgressMeter::tick(const ProgressSample& sample, bool last) {
  TransferFigures figures;
  figures.fileBar = barPosition(sample.fileDone, sample.fileSize);
  const std::uint64_t done = sample.totalDone + sample.fileDone;
  if (twoBars_) figures.totalBar = barPosition(done, sample.totalSize);
  if (++ticks_ < kTicksPerRefresh && !last) return figures;
  ticks_ = 0;
  // The speed counts the whole transfer's bytes, so the second in which a new file begins
  // (and its counter starts again at 0) shows what really moved, never a wrapped number.
  const std::uint64_t moved = done > previousDone_ ? done - previousDone_ : 0;
  previousDone_ = done;
  ++seconds_;
  figures.texts = TransferTexts{sizeText(sample.fileSize), sizeText(sample.fileDone),
                                sizeText(moved) + "/s", elapsedText(seconds_)};
  figures.numbers =
      TransferNumbers{sample.fileSize, sample.fileDone, sample.totalSize, done, moved, seconds_};
  return figures;
}

TransferVerdict verdictFor(const ProgressSample& sample, bool protocolFinished, int fileCount,
                           bool autoClose) {
  TransferVerdict verdict;
  verdict.complete = protocolFinished && sample.totalDone + sample.fileDone >= sample.totalSize;
  verdict.status = verdict.complete ? "传送完毕！" : "传送中止！";
  verdict.hideFileBar = fileCount != 1 && sample.totalDone == sample.totalSize;
  verdict.closeWindow = verdict.complete && autoClose;
  return verdict;
}

void progressThread(const ProgressContext& context, std::shared_ptr<TransferRecord> record) {
  const TransferWindowId window = record->window;
  context.frontend.setTransferStatus(window, "正在传送文件");
  ProgressMeter meter(record->fileCount != 1);
  for (;;) {
    // A tick, cut short by the transfer thread's end: the verdict follows at once, not at
    // the next tick or once-a-second refresh. Read before the counters, so that the last
    // figures shown are the final ones.
    const bool finished = record->waitForTransferEnd(context.timing.progressTick);
    context.frontend.showTransferFigures(window, meter.tick(sampleOf(*record), finished));
    if (finished) break;
  }
  const ProgressSample last = sampleOf(*record);
  context.releaseRecord();
  const TransferVerdict verdict =
      verdictFor(last, record->protocolFinished, record->fileCount, context.autoClose());
  context.frontend.showTransferVerdict(window, verdict);
  context.frontend.transferEnded(
      TransferEnd{record->index, record->isSender, verdict.complete,
                  verdict.complete ? TransferCause::Complete : record->cause.load()});
}

}  // namespace brisk
